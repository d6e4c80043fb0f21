#include "store/ReplacingFile.h"

#include <cerrno>
#include <random>

#include "foundation/Util.h"
#include "store/FileCache.h"

namespace {

constexpr std::size_t kRandomLength = 8;
constexpr std::size_t kCheckLength = 8;

std::string RandomPart() {
  static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<int> pick(0, sizeof kDigits - 2);
  std::string part(kRandomLength, ' ');
  for (char& c : part) c = kDigits[pick(engine)];
  return part;
}

std::string CheckOf(const std::string& randomPart) {
  const std::string text = "vessa temporary file " + randomPart;
  std::string digest;
  CUtil::Md5Hex(text.data(), text.size(), digest);
  return digest.substr(0, kCheckLength);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

CReplacingFile::CReplacingFile(platform::IFileSystem& fs, std::string target)
    : fs_(fs), target_(std::move(target)) {}

CReplacingFile::~CReplacingFile() {
  if (!committed_) Abandon();
}

std::string NewTemporaryName() {
  const std::string randomPart = RandomPart();
  return kTempPrefix + randomPart + "-" + CheckOf(randomPart);
}

bool IsTemporaryName(const std::string& name) {
  const std::size_t prefix = std::char_traits<char>::length(kTempPrefix);
  if (name.size() != prefix + kRandomLength + 1 + kCheckLength || name.compare(0, prefix, kTempPrefix) != 0 ||
      name[prefix + kRandomLength] != '-') {
    return false;
  }
  return name.compare(prefix + kRandomLength + 1, kCheckLength, CheckOf(name.substr(prefix, kRandomLength))) == 0;
}

int CReplacingFile::Open() {
  const std::string folder = FolderOf(target_);
  const std::string prefix = (folder == "/" ? "" : folder) + "/";
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    tempPath_ = prefix + NewTemporaryName();
    error = fs_.CreateExclusive(tempPath_, fd_);
  }
  if (error) tempPath_.clear();
  return error;
}

int CReplacingFile::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t put = fs_.Write(fd_, bytes, size);
    if (put < 0) return static_cast<int>(-put);
    if (put == 0) return EIO;
    bytes += put;
    size -= static_cast<std::size_t>(put);
    written_ += put;
  }
  return 0;
}

int CReplacingFile::SetMode(mode_t mode) { return fs_.SetMode(fd_, mode); }

int CReplacingFile::Flush() { return fd_ < 0 ? EBADF : fs_.Sync(fd_); }

int CReplacingFile::Close(bool durable) {
  if (fd_ < 0) return EBADF;
  const int synced = durable ? fs_.Sync(fd_) : 0;
  const int closed = fs_.Close(fd_);  // a delayed write error shows here
  fd_ = -1;
  return synced ? synced : closed;
}

int CReplacingFile::Commit() {
  const int error = fs_.Rename(tempPath_, target_, true);
  committed_ = error == 0;
  return error;
}

void CReplacingFile::Abandon() {
  if (fd_ >= 0) fs_.Close(fd_);
  fd_ = -1;
  if (!tempPath_.empty()) fs_.RemoveFile(tempPath_);
  tempPath_.clear();
}

int64_t ReadFull(platform::IFileSystem& fs, int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = fs.Read(fd, bytes + done, size - done);
    if (got < 0) return got;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<int64_t>(done);
}
