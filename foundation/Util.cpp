#include "foundation/Util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <utility>
#include <vector>

#include "foundation/Charset.h"
#include "foundation/Digest.h"
#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "foundation/Md5Blocks.h"
#include "platform/CodePage.h"
#include "platform/Registry.h"
#include "platform/SystemProxy.h"

namespace fs = std::filesystem;

namespace {

std::atomic<int> digestUpperCase{0};

const char kLowerDigits[] = "0123456789abcdef";
const char kUpperDigits[] = "0123456789ABCDEF";

void AppendHex(const unsigned char* bytes, std::size_t count, const char* digits, std::string& out) {
  for (std::size_t i = 0; i < count; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0x0F];
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Text written in UTF-8 here, handed out in the local code page.
std::string LocalText(const char* utf8) {
  if (platform::LocalCodePageIsUtf8()) return utf8;
  return ConvertLossy("UTF-8", platform::LocalCodePage().c_str(), utf8);
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// ---- tree removal on directory descriptors, so no link is ever followed ----

bool RemoveFolderAt(int parent, const char* name, const std::string& shown, bool log);

// Adds owner read, write and search to the folder open at `fd`: a folder is
// emptied only when it can be listed and written.
void MakeOwnerWritable(int fd) {
  struct stat st {};
  if (fstat(fd, &st) == 0 && (st.st_mode & S_IRWXU) != S_IRWXU) fchmod(fd, (st.st_mode & 07777) | S_IRWXU);
}

void ChmodFolderAt(int parent, const char* name) {
  struct stat st {};
  if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
    fchmodat(parent, name, (st.st_mode & 07777) | S_IRWXU, 0);
  }
}

void EmptyFolderAt(int parent, const char* name, const std::string& shown, bool log) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = openat(parent, name, flags);
  if (fd < 0 && errno == EACCES) {  // a folder that cannot be listed
    ChmodFolderAt(parent, name);
    fd = openat(parent, name, flags);
  }
  if (fd < 0) return;
  MakeOwnerWritable(fd);
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  // Listed first, removed after: removing while reading a folder may skip entries.
  std::vector<std::pair<std::string, bool>> entries;
  while (const dirent* entry = readdir(dir)) {
    const char* n = entry->d_name;
    if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0) continue;
    bool isFolder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      isFolder = fstatat(dirfd(dir), n, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    }
    entries.emplace_back(n, isFolder);
  }
  for (const auto& [entryName, isFolder] : entries) {
    if (isFolder) {
      RemoveFolderAt(dirfd(dir), entryName.c_str(), shown + "/" + entryName, log);
    } else {
      unlinkat(dirfd(dir), entryName.c_str(), 0);  // files and links alike, read-only or not
    }
  }
  closedir(dir);
}

bool RemoveFolderAt(int parent, const char* name, const std::string& shown, bool log) {
  EmptyFolderAt(parent, name, shown, log);
  if (unlinkat(parent, name, AT_REMOVEDIR) == 0) return true;
  ChmodFolderAt(parent, name);
  if (unlinkat(parent, name, AT_REMOVEDIR) == 0) return true;
  const int error = errno;
  if (log) {
    LogF(CLogger::kError, "CUtil::DeleteFolder", "Fail to remove folder:%s error code: %d", shown.c_str(), error);
  }
  return false;
}

// ---- copies for CopyFiles and for moves between file systems ----

// `to` as the destination of `from`: inside `to` when that is a folder.
fs::path Destination(const fs::path& from, const std::string& to) {
  std::error_code ec;
  if (fs::is_directory(to, ec)) return fs::path(to) / from.filename();
  return fs::path(WithoutTrailingSlashes(to));
}

// Copies files with their modification time (the sync engine compares it),
// links as links, folders with everything in them, merging into existing ones.
bool CopyEntry(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(from, ec);
  if (ec) return false;
  if (fs::is_symlink(status)) {
    if (fs::is_symlink(fs::symlink_status(to, ec)) || fs::is_regular_file(fs::symlink_status(to, ec))) {
      fs::remove(to, ec);
    }
    fs::copy_symlink(from, to, ec);
    return !ec;
  }
  if (fs::is_directory(status)) {
    fs::create_directory(to, from, ec);
    if (ec) return false;
    bool ok = true;
    fs::directory_iterator it(from, ec);
    if (ec) return false;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      if (!CopyEntry(it->path(), to / it->path().filename())) ok = false;
    }
    return ok && !ec;
  }
  if (fs::is_regular_file(status)) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) return false;
    const fs::file_time_type written = fs::last_write_time(from, ec);
    if (!ec) fs::last_write_time(to, written, ec);
    return !ec;
  }
  return false;  // devices, pipes and sockets are not copied
}

bool CopyTree(const fs::path& from, const fs::path& to) {
  if (CUtil::IsInsideFolder(to.string(), from.string())) return false;  // a folder into itself would never end
  std::error_code ec;
  if (to.has_parent_path()) fs::create_directories(to.parent_path(), ec);
  return CopyEntry(from, to);
}

}  // namespace

// ---- folders and files ----

bool CUtil::FolderExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CUtil::IsInsideFolder(const std::string& inner, const std::string& outer) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(inner, ec);
  if (ec) return false;
  const fs::path b = fs::weakly_canonical(outer, ec);
  if (ec) return false;
  const fs::path relative = a.lexically_relative(b);
  return !relative.empty() && *relative.begin() != "..";
}

bool CUtil::PathExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

bool CUtil::CreateFolderIfMissing(const std::string& path) {
  if (FolderExists(path)) return true;
  if (mkdir(path.c_str(), 0700) == 0) return true;
  return errno == EEXIST && FolderExists(path);  // made by someone else meanwhile
}

int CUtil::DeleteFolder(const std::string& path) {
  const std::string folder = WithoutTrailingSlashes(path);
  struct stat st {};
  if (lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    unlink(folder.c_str());  // the link goes, whatever it points at stays
    return 1;
  }
  RemoveFolderAt(AT_FDCWD, folder.c_str(), folder, true);
  return 1;
}

bool CUtil::MoveFiles(const std::string& from, const std::string& to) {
  try {
    const fs::path source(WithoutTrailingSlashes(from));
    const fs::path target = Destination(source, to);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(source, ec))) return false;
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    fs::rename(source, target, ec);
    if (!ec) return true;
    if (ec.value() != EXDEV) return false;
    // Another file system: copy, and delete the source only once all of it arrived.
    if (!CopyTree(source, target)) return false;
    return DeleteFiles(source.string());
  } catch (...) {
    return false;
  }
}

bool CUtil::CopyFiles(const std::string& from, const std::string& to) {
  try {
    const fs::path source(WithoutTrailingSlashes(from));
    return CopyTree(source, Destination(source, to));
  } catch (...) {
    return false;
  }
}

bool CUtil::DeleteFiles(const std::string& from) {
  const std::string path = WithoutTrailingSlashes(from);
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return RemoveFolderAt(AT_FDCWD, path.c_str(), path, false);
  return unlink(path.c_str()) == 0;
}

int CUtil::PurgeOldLogs(const std::string& folder, int days) {
  CreateFolderIfMissing(folder);
  // Both times are seconds since the epoch in UTC, whatever the time zone.
  const long long limit = static_cast<long long>(time(nullptr)) - static_cast<long long>(days) * 86400;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 1;
  std::vector<std::string> old;
  while (const dirent* entry = readdir(dir)) {
    const std::size_t length = std::strlen(entry->d_name);
    if (length < 4 || std::strcmp(entry->d_name + length - 4, ".log") != 0) continue;
    struct stat st {};
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(st.st_mode) && static_cast<long long>(st.st_mtim.tv_sec) < limit) old.emplace_back(entry->d_name);
  }
  for (const std::string& name : old) unlinkat(dirfd(dir), name.c_str(), 0);
  closedir(dir);
  return 1;
}

// ---- names and digests ----

std::string CUtil::ConflictName(const std::string& name) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return name + StrFormat(".conflict(%4d-%02d-%02d-%02d-%02d-%02d-%03d)", local.tm_year + 1900, local.tm_mon + 1,
                          local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                          static_cast<int>(now.tv_nsec / 1000000));
}

bool CUtil::Md5Hex(const void* data, std::size_t length, std::string& out) {
  if (!data || length == 0) return false;
  unsigned char digest[16];
  Md5Digest(data, length, digest);
  std::string hex;
  hex.reserve(32);
  AppendHex(digest, 16, DigestUpperCase() == 1 ? kUpperDigits : kLowerDigits, hex);
  out = std::move(hex);
  return true;
}

void CUtil::SetDigestUpperCase(int on) { digestUpperCase.store(on); }

int CUtil::DigestUpperCase() { return digestUpperCase.load(); }

int CUtil::HexToBytes(const std::string& hex, unsigned char out[16]) {
  if (hex.size() != 32) return 0;
  unsigned char bytes[16];
  for (int i = 0; i < 16; ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return 0;
    bytes[i] = static_cast<unsigned char>(high * 16 + low);
  }
  std::memcpy(out, bytes, 16);
  return 1;
}

int CUtil::BytesToHex(const unsigned char bytes[16], std::string& out) {
  AppendHex(bytes, 16, kUpperDigits, out);
  return 1;
}

namespace {

constexpr std::size_t kDigestBytes = 16;

// The MD5 of every block, the last one shorter.
std::vector<unsigned char> BlockDigests(const unsigned char* bytes, std::size_t length) {
  const std::size_t blocks = (length + kBlockSize - 1) / kBlockSize;
  std::vector<unsigned char> digests(blocks * kDigestBytes);
  const std::size_t whole = length / kBlockSize;
  Md5OfWholeBlocks(bytes, whole, digests.data());
  if (whole < blocks) {
    Md5Digest(bytes + whole * kBlockSize, length - whole * kBlockSize, digests.data() + whole * kDigestBytes);
  }
  return digests;
}

}  // namespace

int CUtil::BlockHashList(const void* data, std::size_t length, std::string& strongList) {
  if (!data || length == 0) return 1;
  const std::vector<unsigned char> digests = BlockDigests(static_cast<const unsigned char*>(data), length);
  strongList.reserve(strongList.size() + digests.size() / kDigestBytes * 33);
  for (std::size_t at = 0; at < digests.size(); at += kDigestBytes) {
    AppendHex(digests.data() + at, kDigestBytes, kUpperDigits, strongList);
    strongList += ',';
  }
  return 1;
}

int CUtil::BlockSignatureLists(const void* data, std::size_t length, std::string& weakList,
                               std::string& strongList, int& count) {
  count = 0;
  if (!data || length == 0) return 1;
  const auto* bytes = static_cast<const unsigned char*>(data);
  const std::size_t blocks = (length + kBlockSize - 1) / kBlockSize;
  weakList.reserve(weakList.size() + blocks * 11);  // up to 10 digits and ","
  strongList.reserve(strongList.size() + blocks * 33);
  const std::vector<unsigned char> digests = BlockDigests(bytes, length);
  char number[16];
  for (std::size_t block = 0; block < blocks; ++block) {
    const std::size_t offset = block * kBlockSize;
    const uint32_t weak = ComputeWeakSum(bytes + offset, std::min(kBlockSize, length - offset)).Value();
    char* end = std::to_chars(number, number + sizeof(number), weak).ptr;
    *end++ = ',';
    weakList.append(number, end);
    AppendHex(digests.data() + block * kDigestBytes, kDigestBytes, kUpperDigits, strongList);
    strongList += ',';
    ++count;
  }
  return 1;
}

// ---- text conversions ----

void CUtil::Utf8ToAnsi(std::string& text) {
  if (platform::LocalCodePageIsUtf8()) return;
  text = ConvertLossy("UTF-8", platform::LocalCodePage().c_str(), text);
}

void CUtil::AnsiToUtf8(std::string& text) {
  if (platform::LocalCodePageIsUtf8()) return;
  text = ConvertLossy(platform::LocalCodePage().c_str(), "UTF-8", text);
}

std::string CUtil::XmlText(const std::string& text) {
  std::string utf8 = text;
  AnsiToUtf8(utf8);
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    if (c == '&') {
      out += "&amp;";
    } else {
      out += c;
    }
  }
  return out;
}

std::string CUtil::ChnDecode(const char* text) {
  if (!text) {
    LogText(CLogger::kError, "CUtil::ChnDecode", "invalid input string");
    return "";
  }
  const std::size_t length = strnlen(text, 2081);
  if (length >= 2081) {
    LogText(CLogger::kError, "CUtil::ChnDecode", "invalid input string, too long string");
    return "";
  }
  std::string decoded(length + 1, '\0');
  if (DecodeCharRefs(decoded.data(), text) != 0) {
    LogText(CLogger::kError, "CUtil::ChnDecode", "Fail to getGbkFromUnicode");
    return "";
  }
  decoded.resize(std::strlen(decoded.c_str()));
  return decoded;
}

// ---- service reason codes ----

std::string CUtil::ServerErrorText(int code) {
  static const char* const kTexts[] = {
      "重复用户",                // 1 duplicated user
      "主机名不存在",            // 2 host not exist
      "旧文件不存在",            // 3 old file not exist
      "旧文件被删除",            // 4 old file deleted
      "目录",                    // 5 it is a folder
      "密码不正确",              // 6 password not right
      "文件不存在",              // 7 file not exist
      "服务器数据库错误",        // 8 server database error
      "请求数据流错误",          // 9 request format error
      "操作对象不是目录",        // 10 it is not a folder
      "文件未删除",              // 11 file not deleted
      "目录没有版本信息",        // 12 folder has not version
      "服务器系统内存不足",      // 13 server system memory not enough
      "目录已经被共享",          // 14 folder has been shared
      "目录不是共享目录",        // 15 folder is not shared
      "文件格式错误",            // 16 file format error
      "目录拥有者不能离开共享",  // 17 owner can not leave share
      "您不是目录拥有者",        // 18 you are not the owner
      "文件不属于你",            // 19 file not belong to you
      "父目录不存在",            // 20 father folder not exist
      "关键字不存在",            // 21 key not exist
      "用户状态错误",            // 22 user status error
      "用户不存在",              // 23 user not exist
      "服务器流错误",            // 24 server flow error
      "文件总容量超出最大限额",  // 25 total file size exceed threshold
      "修改文件名：新文件",      // 26 rename file: new file exist
      "存储相同的版本",          // 27 restore the same version
      "主机名不匹配",            // 28 host id mismatch
      "验证码失效",              // 29 passport invalid
  };
  constexpr int kCount = static_cast<int>(sizeof(kTexts) / sizeof(kTexts[0]));
  if (code < 1 || code > kCount) return "";
  return LocalText(kTexts[code - 1]);
}

// ---- installation values and system settings ----

bool CUtil::ReadInstallPath(std::string& out) {
  return platform::RegistryRead("install_path", kInstallPathBuffer, out);
}

bool CUtil::ReadRootPath(std::string& out) { return platform::RegistryRead("root_path", kRootPathBuffer, out); }

bool CUtil::WriteRootPath(const std::string& path) {
  // A value that ReadRootPath could never read back is not written at all.
  if (path.size() + 1 > kRootPathBuffer) return false;
  return platform::RegistryWrite("root_path", path);
}

bool CUtil::GetIEProxySet(std::string& out) { return platform::SystemProxy(out); }

std::string CUtil::ProxyHost(const std::string& address) {
  const std::size_t colon = address.rfind(':');
  return colon == std::string::npos ? address : address.substr(0, colon);
}

std::string CUtil::ProxyPort(const std::string& address) {
  if (address.empty()) return "";
  const std::size_t colon = address.rfind(':');
  return colon == std::string::npos ? "80" : address.substr(colon + 1);
}

// ---- encodings and compression ----

int CUtil::Base64Encode(const void* data, std::size_t length, std::string& out) {
  out.clear();
  if (!data || length == 0) return 0;
  // EVP counts in int; large inputs go in pieces of whole 3-byte groups.
  constexpr std::size_t kPiece = 3u << 28;
  const auto* bytes = static_cast<const unsigned char*>(data);
  out.resize((length + 2) / 3 * 4 + 1);
  std::size_t written = 0;
  for (std::size_t offset = 0; offset < length; offset += kPiece) {
    const std::size_t size = std::min(kPiece, length - offset);
    written += static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()) + written,
                                                        bytes + offset, static_cast<int>(size)));
  }
  out.resize(written);
  return static_cast<int>(std::min<std::size_t>(written, INT_MAX));
}

void CUtil::Base64Decode(const std::string& text, std::string& out) {
  std::string clean;
  clean.reserve(text.size());
  for (const char c : text) {
    if (c == '=') break;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/') {
      clean += c;
    }
  }
  const std::size_t tail = clean.size() % 4;
  if (tail == 1) clean.pop_back();  // six bits make no byte
  // Fill an unfinished group with zero digits and drop the bytes they add.
  const std::size_t dropped = tail >= 2 ? 4 - tail : 0;
  clean.append(dropped, 'A');

  out.assign(clean.size() / 4 * 3, '\0');
  constexpr std::size_t kPiece = 4u << 28;
  std::size_t written = 0;
  for (std::size_t offset = 0; offset < clean.size(); offset += kPiece) {
    const std::size_t size = std::min(kPiece, clean.size() - offset);
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()) + written,
                                  reinterpret_cast<const unsigned char*>(clean.data()) + offset,
                                  static_cast<int>(size));
    if (n < 0) break;  // cannot happen: only alphabet characters are left
    written += static_cast<std::size_t>(n);
  }
  out.resize(written - std::min(written, dropped));
}

std::string CUtil::EncodePassword(const std::string& text) {
  std::string out;
  if (!text.empty()) Base64Encode(text.data(), text.size(), out);
  return out;
}

std::string CUtil::DecodePassword(const std::string& text) {
  std::string out;
  if (!text.empty()) Base64Decode(text, out);
  return out;
}

bool CUtil::UnCompress(const std::string& base64Text, char* out, std::size_t capacity,
                       std::size_t* inflatedLength) {
  static const char kGarbage[] = "garbage";
  if (!out || capacity < sizeof(kGarbage)) return false;
  std::string compressed;
  Base64Decode(base64Text, compressed);
  std::memcpy(out, kGarbage, sizeof(kGarbage));
  // The input length is that of the decoded bytes: zlib must never read
  // beyond them.
  uLongf produced = static_cast<uLongf>(capacity);
  const int rc = uncompress(reinterpret_cast<Bytef*>(out), &produced,
                            reinterpret_cast<const Bytef*>(compressed.data()), static_cast<uLong>(compressed.size()));
  if (rc != Z_OK) {
    std::memcpy(out, kGarbage, sizeof(kGarbage));  // zlib may have written part of the output
    LogF(CLogger::kError, "CUtil::UnCompress", " UnCompress string fail, error code :%d", rc);
    return false;
  }
  if (inflatedLength) *inflatedLength = static_cast<std::size_t>(produced);
  return true;
}
