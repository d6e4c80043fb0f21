#include "protocol/Back.h"

#include <cstring>
#include <memory>

#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "foundation/Util.h"
#include "protocol/WireValue.h"
#include "store/FileJournal.h"

namespace {

const SoapClientProfile kBackProfile = {
    "CBack",
    180000,
    /*sendsSource=*/true,
    /*sendsPassport=*/true,
    /*checksSequence=*/false,
    /*keepsLastReason=*/true,
    "reponse:",
    "Fail to get a reponse, stub invoke FAILED: Error code: %d(%s)",
    "Fail to get a node child",
    "Fail to get a element {%s} of node NULL",
    "Fail to get a element {%s}",
    "Mismatched element \"%s\" with \"%s\"",
};

constexpr const char* kAck = "Get a ack (%s) with reason (%s)";
constexpr const char* kLowerAck = "get a ack (%s) with reason (%s)";

// Decompressed listings are refused above this announced length.
constexpr int64_t kListingLimit = 256LL * 1024 * 1024;

void Fail(const char* function, const char* message) { LogText(CLogger::kError, function, message); }

void SetAttribute(pugi::xml_node node, const char* name, const std::string& value) {
  node.append_attribute(name).set_value(value.c_str());
}

// A numeric attribute: absent reads as 0; a value that is no number fails.
template <typename T>
bool ReadNumber(pugi::xml_node node, const char* name, T& value, const char* function) {
  const char* text = node.attribute(name).value();
  if (ReadDecimal(text, value)) return true;
  LogF(CLogger::kError, function, "Invalid number {%s} in attribute %s", text, name);
  return false;
}

// A file's size must be one its chunks can hold: every chunk but the last
// is whole, and an empty file has no chunk (or one empty chunk). Anything
// else could never be downloaded as listed.
bool SizeFitsChunks(const CFileInfo& info, const char* function) {
  const std::size_t chunks = info.chunks.size();
  bool fits = info.size >= 0;
  if (fits && info.size == 0) fits = chunks <= 1;
  if (fits && info.size > 0) fits = (static_cast<uint64_t>(info.size) + kChunkSize - 1) / kChunkSize == chunks;
  if (!fits) {
    LogF(CLogger::kError, function, "Invalid size {%lld} of {%s}: it does not fit its %zu chunks",
         static_cast<long long>(info.size), info.path.c_str(), chunks);
  }
  return fits;
}

template <typename T>
bool ReadNumberText(pugi::xml_node node, T& value, const char* function) {
  const char* text = node.child_value();
  if (ReadDecimal(text, value)) return true;
  LogF(CLogger::kError, function, "Invalid number {%s} in element %s", text, node.name());
  return false;
}

}  // namespace

CBack::CBack() : CSoapFrame(kBackProfile) {}

int CBack::Init(const std::string& endpoint, const std::string& user, const std::string& password,
                const std::string& hostId, const std::string& /*installFolder*/) {
  return SetUp(endpoint, user, password, hostId);
}

void CBack::SetCredentials(const std::string& user, const std::string& password, const std::string& passport) {
  user_ = user;
  password_ = PasswordDigest(password);
  passport_ = passport;
}

// ---------------------------------------------------------------------------
// Account

int CBack::GetHostID(const std::string& computerName, std::string& text) {
  CSoapAnswer answer;
  pugi::xml_node body;
  const auto fill = [&](pugi::xml_node b, auto&) { SetAttribute(b, "computer_name", WireText(computerName)); };
  if (!Call({"GetHostID", "obtain_host_id", kAck, CLogger::kInfo}, fill, text, answer, body)) return 0;
  return ParseOmGetHostID(body, text);
}

int CBack::Login(std::string& result) {
  CSoapAnswer answer;
  pugi::xml_node body;
  if (!Call({"Login", "login", kAck, CLogger::kInfo}, nullptr, result, answer, body)) return 0;
  ParseOmLogin(body, result);  // the head's "OK" is what counts
  return 1;
}

int CBack::GetServerRoot(std::string& text) {
  CSoapAnswer answer;
  pugi::xml_node body;
  if (!Call({"GetServerRoot", "obtain_root_folder", kLowerAck, CLogger::kInfo}, nullptr, text, answer, body)) {
    return 0;
  }
  return ParseOmGetServerRoot(body, text);
}

int CBack::GetSystemMessage(CInfoAttrMap& messages) {
  CSoapAnswer answer;
  pugi::xml_node body;
  std::string result;
  if (!Call({"GetSystemMessage", "system_message", kAck, CLogger::kInfo}, nullptr, result, answer, body)) return 0;
  return ParseOmSystemMessage(body, messages);
}

int CBack::ParseOmGetHostID(pugi::xml_node body, std::string& text) {
  const char* fn = "CBack::ParseOmGetHostID";
  if (!body) return Fail(fn, "Fail to get a node"), 0;
  if (!PareseOmElementValue(body, "obtain_host_id_rsp", nullptr, nullptr)) return Fail(fn, "Fail to get a element"), 0;
  text = body.attribute("host_id").value();
  return 1;
}

int CBack::ParseOmLogin(pugi::xml_node body, std::string& /*result*/) {
  return ParseBodyName(body, "login_rsp", "CBack::ParseOmLogin");
}

int CBack::ParseOmGetServerRoot(pugi::xml_node body, std::string& text) {
  const char* fn = "CBack::ParseOmGetServerRoot";
  if (!body) return Fail(fn, "Fail to get a body node"), 0;
  if (!PareseOmElementValue(body, "obtain_root_folder_rsp", nullptr, nullptr)) {
    return Fail(fn, "Fail to get a element"), 0;
  }
  text = body.attribute("root_folder").value();
  return 1;
}

int CBack::ParseOmSystemMessage(pugi::xml_node body, CInfoAttrMap& messages) {
  const char* fn = "CBack::ParseOmSystemMessage";
  if (!body) return Fail(fn, "Fail to get a body node"), 0;
  if (!PareseOmElementValue(body, "system_message_rsp", nullptr, nullptr)) return Fail(fn, "Fail to get a element"), 0;
  for (pugi::xml_node child : body.children()) {
    if (!PareseOmElementValue(child, "message", nullptr, nullptr)) return Fail(fn, "Fail to get a node"), 0;
    CInfoAttr message;
    if (!ReadNumber(child, "id", message.id, fn) || !ReadNumber(child, "type", message.type, fn) ||
        !ReadNumber(child, "create_time", message.createTime, fn) ||
        !ReadNumber(child, "expire_time", message.expireTime, fn)) {
      return 0;
    }
    message.info = child.attribute("info").value();
    messages.emplace(message.id, message);
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Listings

int CBack::DownloadAll(std::string& result, std::vector<CFileInfo>& files) {
  CSoapAnswer answer;
  pugi::xml_node body;
  if (!Call({"DownloadAll", "download_all_file", kAck, CLogger::kInfo}, nullptr, result, answer, body)) return 0;
  return ParseOmDownloadAll(body, result, files);
}

int CBack::Download(const std::string& name, std::string& result, CFileInfo& file) {
  CSoapAnswer answer;
  pugi::xml_node body;
  const auto fill = [&](pugi::xml_node b, auto&) { SetAttribute(b, "file_name", WirePath(name)); };
  if (!Call({"Download", "download_specific_file", kAck, CLogger::kInfo}, fill, result, answer, body)) return 0;
  return ParseOmDownload(body, result, file);
}

int CBack::GetList(const std::string& folder, std::string& result, FileMap& files) {
  CSoapAnswer answer;
  pugi::xml_node body;
  const auto fill = [&](pugi::xml_node b, auto&) {
    SetAttribute(b, "folder_name", WirePath(folder));
    SetAttribute(b, "recursive", "yes");
    SetAttribute(b, "show_delete", "no");
  };
  if (!Call({"GetList", "file_list", kAck, CLogger::kInfo}, fill, result, answer, body)) return 0;
  return ParseOmGetList(body, result, files);
}

bool CBack::ReadEntryHead(pugi::xml_node entry, CFileInfo& info, const char* function) {
  const char* name = entry.attribute("file_name").value();
  info.path = ReceivedPath(name);
  if (info.path.empty() && *name) {
    ++dropped_;
    LogF(CLogger::kError, function, "Drop a server entry whose name cannot be read {%.64s...}", name);
  }
  return ReadNumber(entry, "modify_time", info.mtime, function);
}

bool CBack::ReadFolderAttributes(pugi::xml_node entry, CFileInfo& info, const char* function) {
  if (std::strcmp(entry.attribute("shared").value(), "yes") != 0) {
    info.dir = 1;
    return true;
  }
  info.owner = entry.attribute("owner_name").value();
  return ReadNumber(entry, "folder_id", info.dir, function);
}

bool CBack::ReadChunk(pugi::xml_node node, CChunkInfo& chunk, const char* function) {
  chunk.key = node.attribute("MD5").value();
  chunk.storageId = node.attribute("storage_key").value();
  if (!ReadNumber(node, "chunk_size", chunk.size, function)) return false;
  if (chunk.size >= 0 && static_cast<uint32_t>(chunk.size) <= kChunkSize) return true;
  LogF(CLogger::kError, function, "Invalid chunk size {%d} of chunk {%s}", chunk.size, chunk.key.c_str());
  return false;
}

int CBack::ParseOmDownloadAll(pugi::xml_node body, std::string& /*result*/, std::vector<CFileInfo>& files) {
  const char* fn = "CBack::ParseOmDownloadAll";
  if (!body) return Fail(fn, "Fail to get a body node"), 0;
  if (!PareseOmElementValue(body, "download_all_file_rsp", nullptr, nullptr)) {
    return Fail(fn, "Fail to get a element"), 0;
  }
  const pugi::xml_node container = body.first_child();
  if (!container) return Fail(fn, "Fail to get a node child"), 0;
  if (!PareseOmElementValue(container, "files", nullptr, nullptr)) return Fail(fn, "Fail to get a element"), 0;

  files.clear();
  dropped_ = 0;
  for (pugi::xml_node entry : container.children()) {
    if (!PareseOmElementValue(entry, "file", nullptr, nullptr)) return Fail(fn, "Fail to get a node"), 0;
    CFileInfo info;
    if (!ReadEntryHead(entry, info, fn)) return 0;
    if (info.path.empty()) {
      LogText(CLogger::kInfo, fn, "file name is NULL!");
      continue;
    }
    const std::string_view dir = entry.attribute("dir").value();
    if (dir == "no") {
      const pugi::xml_node size = entry.first_child();
      if (!size) return Fail(fn, "Fail to get a node FILESIZE"), 0;
      if (!PareseOmElementValue(size, "file_size", nullptr, nullptr)) return Fail(fn, "Fail to get a element"), 0;
      if (!ReadNumberText(size, info.size, fn)) return 0;
      pugi::xml_node node = size.next_sibling();
      if (!node) return Fail(fn, "Fail to get a node FILECHUNKNUM"), 0;
      if (!PareseOmElementValue(node, "chunk_num", nullptr, nullptr)) return Fail(fn, "Fail to get a element"), 0;
      if (!ReadNumberText(node, info.chunkCount, fn)) return 0;
      for (int32_t i = 0; i < info.chunkCount; ++i) {
        node = node.next_sibling();
        if (!PareseOmElementValue(node, "chunk", nullptr, nullptr)) return Fail(fn, "Fail to get a element"), 0;
        CChunkInfo chunk;
        if (!ReadChunk(node, chunk, fn)) return 0;
        info.chunks.push_back(std::move(chunk));
      }
      info.BuildChunkList();
      if (!SizeFitsChunks(info, fn)) return 0;
    } else if (dir == "yes") {
      if (!ReadFolderAttributes(entry, info, fn)) return 0;
    }
    files.push_back(std::move(info));
  }
  return 1;
}

int CBack::ParseOmDownload(pugi::xml_node body, std::string& /*result*/, CFileInfo& file) {
  const char* fn = "CBack::ParseOmDownload";
  if (!body) return Fail(fn, "Fail to get a body node"), 0;
  if (!PareseOmElementValue(body, "download_specific_file_rsp", nullptr, nullptr)) {
    return Fail(fn, "Fail to get a element"), 0;
  }
  if (!ReadEntryHead(body, file, fn) || !ReadNumber(body, "file_size", file.size, fn) ||
      !ReadNumber(body, "chunk_num", file.chunkCount, fn)) {
    return 0;
  }
  for (pugi::xml_node node : body.children()) {
    if (!PareseOmElementValue(node, "chunk", nullptr, nullptr)) return Fail(fn, "Fail to get a element"), 0;
    CChunkInfo chunk;
    if (!ReadChunk(node, chunk, fn)) return 0;
    file.chunks.push_back(std::move(chunk));
  }
  file.BuildChunkList();
  return SizeFitsChunks(file, fn) ? 1 : 0;
}

int CBack::ParseOmGetList(pugi::xml_node body, std::string& /*result*/, FileMap& files) {
  const char* fn = "CBack::ParseOmGetList";
  if (!body) return Fail(fn, "Fail to get a body node"), 0;
  std::string text;
  pugi::xml_node element;
  dropped_ = 0;
  if (!PareseOmElementValue(body, "file_list_rsp", &text, &element)) return Fail(fn, "Fail to get a element"), 0;
  int64_t announced = 0;
  if (!ReadNumber(element, "compress", announced, fn)) return 0;
  if (announced < 1) return ParseListEntries(element, files, fn);

  if (announced > kListingLimit) {
    LogF(CLogger::kError, fn, "Refused a listing announced as %lld bytes (limit %lld)",
         static_cast<long long>(announced), static_cast<long long>(kListingLimit));
    return 0;
  }
  if (LogWanted(CLogger::kInfo)) LogText(CLogger::kInfo, fn, SerializePayload(body));
  // Not zero-filled: only the bytes the decompression writes are read, so a
  // listing announced larger than it is costs no memory beyond its real size.
  const size_t capacity = static_cast<size_t>(announced) + 4;
  std::unique_ptr<char[]> inflated(new char[capacity]);
  size_t length = 0;
  if (!CUtil::UnCompress(text, inflated.get(), capacity, &length)) return 0;
  if (length > static_cast<size_t>(announced)) {
    LogF(CLogger::kError, fn, "Decompressed listing of %zu bytes is longer than the announced %lld", length,
         static_cast<long long>(announced));
    return 0;
  }
  // The file elements parse as a fragment: they are the document's children.
  pugi::xml_document listing;
  const pugi::xml_parse_result parsed =
      listing.load_buffer_inplace(inflated.get(), length, pugi::parse_default | pugi::parse_fragment,
                                  pugi::encoding_utf8);
  if (!parsed) {
    LogF(CLogger::kError, fn, "Fail to parse the decompressed listing: %s at offset %td", parsed.description(),
         parsed.offset);
    return 0;
  }
  return ParseListEntries(listing, files, fn);
}

int CBack::ParseListEntries(pugi::xml_node container, FileMap& files, const char* function) {
  for (pugi::xml_node entry : container.children()) {
    if (!PareseOmElementValue(entry, "file", nullptr, nullptr)) return Fail(function, "Fail to get a node"), 0;
    CFileInfo info;
    if (!ReadEntryHead(entry, info, function)) return 0;
    if (info.path.empty()) {
      LogText(CLogger::kInfo, function, "file name is NULL!");
      continue;
    }
    if (!ReadListFile(entry, info, function)) return 0;
    std::string key = CFileJournal::ToKey(info.path);
    files.emplace(std::move(key), std::move(info));
  }
  return 1;
}

bool CBack::ReadListFile(pugi::xml_node entry, CFileInfo& info, const char* function) {
  const std::string_view dir = entry.attribute("dir_flag").value();
  if (dir == "yes") return ReadFolderAttributes(entry, info, function);
  if (dir != "no") return true;
  if (!ReadNumber(entry, "file_size", info.size, function)) return false;
  const pugi::xml_node list = entry.first_child();
  if (!list) return Fail(function, "Fail to get a node FILECHUNKNUM"), false;
  if (!PareseOmElementValue(list, "chunk_list", &info.chunkList, nullptr)) {
    return Fail(function, "Fail to get a element CHUNKLIST"), false;
  }
  if (!ReadNumber(list, "chunk_num", info.chunkCount, function)) return false;
  if (!info.ParseChunkList()) {
    LogF(CLogger::kError, function, "Malformed chunk list {%s} (chunk_num %d) of %s", info.chunkList.c_str(),
         info.chunkCount, info.path.c_str());
    return false;
  }
  return SizeFitsChunks(info, function);
}

// ---------------------------------------------------------------------------
// File changes

int CBack::Upload(const CFileInfo& file, const CFileInfo* oldFile, std::string& nextOp, CChunkInfo& chunk) {
  const auto fill = [&](pugi::xml_node b, auto&) {
    SetAttribute(b, "file_name", WirePath(file.path));
    SetAttribute(b, "dir_flag", file.dir != 0 ? "yes" : "no");
    SetAttribute(b, "file_size", StrFormat("%lld", static_cast<long long>(file.size)));
    SetAttribute(b, "modify_time", StrFormat("%lld", static_cast<long long>(file.mtime)));
    SetAttribute(b, "new_chunk_num", StrFormat("%d", static_cast<int>(file.chunks.size())));
    SetAttribute(b, "new_file_flag", oldFile ? "no" : "yes");
    CFileInfo old = oldFile ? *oldFile : CFileInfo();
    SetAttribute(b, "old_chunk_num", StrFormat("%d", oldFile ? old.GetChunkCount() : 0));
    for (const CChunkInfo& c : old.chunks) {
      pugi::xml_node node = b.append_child("old_chunk");
      SetAttribute(node, "MD5", WireText(c.key));
      SetAttribute(node, "chunk_size", StrFormat("%d", c.size));
    }
    for (const CChunkInfo& c : file.chunks) {
      pugi::xml_node node = b.append_child("new_chunk");
      SetAttribute(node, "MD5", WireText(c.key));
      SetAttribute(node, "chunk_size", StrFormat("%d", c.size));
      SetAttribute(node, "block_num", "0");
    }
  };
  CSoapAnswer answer;
  pugi::xml_node body;
  if (!Call({"Upload", "upload_file", kLowerAck, CLogger::kInfo}, fill, nextOp, answer, body)) return 0;
  std::string answered;
  const int parsed = ParseOmUpload(body, nextOp, answered, chunk);
  if (answered != file.path) {
    LogF(CLogger::kInfo, "CBack::Upload", "mismached upload file {%s} with {%s}", file.path.c_str(),
         answered.c_str());
    return 0;
  }
  return parsed;  // a next step that cannot be read is no success
}

int CBack::ChunkDone(const CFileInfo& file, const CChunkInfo& chunk, std::string& nextOp, CChunkInfo& nextChunk) {
  const auto fill = [&](pugi::xml_node b, auto&) {
    SetAttribute(b, "MD5", WireText(chunk.key));
    SetAttribute(b, "storage_key", WireText(chunk.storageId));
    SetAttribute(b, "file_name", WirePath(file.path));
    pugi::xml_node list = b.append_child("chunk_list");
    SetAttribute(list, "chunk_num", StrFormat("%d", file.chunkCount));
    list.text().set(WireText(file.chunkList).c_str());
  };
  CSoapAnswer answer;
  pugi::xml_node body;
  if (!Call({"ChunkDone", "chunk_uploaded", kAck, CLogger::kError}, fill, nextOp, answer, body)) return 0;
  std::string answered;
  const int parsed = ParseOmChunkDone(body, nextOp, answered, nextChunk);
  if (answered != file.path) {
    LogF(CLogger::kInfo, "CBack::ChunkDone", "Mismached upload file {%s} with {%s}", answered.c_str(),
         file.path.c_str());
    return 0;
  }
  return parsed;
}

int CBack::Rename(const std::string& oldName, const std::string& newName, std::string& result) {
  const auto fill = [&](pugi::xml_node b, auto&) {
    SetAttribute(b, "old_file_name", WirePath(oldName));
    SetAttribute(b, "new_file_name", WirePath(newName));
  };
  CSoapAnswer answer;
  pugi::xml_node body;
  if (!Call({"Rename", "rename", kAck, CLogger::kInfo}, fill, result, answer, body)) return 0;
  ParseOmRename(body, result);
  return 1;
}

int CBack::Remove(const std::string& name, std::string& result) {
  const auto fill = [&](pugi::xml_node b, auto&) {
    SetAttribute(b, "file_name", WirePath(name));
    SetAttribute(b, "purge_flag", "no");
  };
  CSoapAnswer answer;
  pugi::xml_node body;
  if (!Call({"Remove", "remove", kAck, CLogger::kInfo}, fill, result, answer, body)) return 0;
  ParseOmRemove(body, result);
  return 1;
}

int CBack::ParseOmUpload(pugi::xml_node body, std::string& nextOp, std::string& answeredName, CChunkInfo& chunk) {
  const char* fn = "CBack::ParseOmUpload";
  if (!body) return Fail(fn, "Fail to get a body node"), 0;
  if (!PareseOmElementValue(body, "upload_file_rsp", nullptr, nullptr)) return Fail(fn, "Fail to get a element"), 0;
  answeredName = ReceivedPath(body.attribute("file_name").value());
  const pugi::xml_node next = body.first_child();
  if (!next) return Fail(fn, "Fail to get a body node"), 0;
  if (!PareseOmElementValue(next, "next_op", nullptr, nullptr)) return Fail(fn, "Fail to get a element"), 0;
  nextOp = next.attribute("op").value();
  if (nextOp == "upload_chunk") {
    const pugi::xml_node key = next.first_child();
    if (!key) return Fail(fn, "Fail to get a body node"), 0;
    if (!PareseOmElementValue(key, "MD5", &chunk.key, nullptr)) return Fail(fn, "Fail to get a element"), 0;
    const pugi::xml_node storage = key.next_sibling();
    if (!storage) return Fail(fn, "Fail to get a body node"), 0;
    if (!PareseOmElementValue(storage, "storage_key", &chunk.storageId, nullptr)) {
      return Fail(fn, "Fail to get a element"), 0;
    }
    return 1;
  }
  if (nextOp != "all_chunk_exist") LogF(CLogger::kWarn, fn, "!!!Get ack: %s", nextOp.c_str());
  return 1;
}

int CBack::ParseOmChunkDone(pugi::xml_node body, std::string& nextOp, std::string& answeredName,
                            CChunkInfo& chunk) {
  const char* fn = "CBack::ParseOmChunkDone";
  if (!body) return Fail(fn, "Fail to get a body node"), 0;
  if (!PareseOmElementValue(body, "chunk_uploaded_rsp", nullptr, nullptr)) {
    return Fail(fn, "Fail to get a element"), 0;
  }
  answeredName = ReceivedPath(body.attribute("file_name").value());
  const pugi::xml_node next = body.first_child();
  if (!PareseOmElementValue(next, "next_op", nullptr, nullptr)) return Fail(fn, "Fail to get a element"), 0;
  nextOp = next.attribute("op").value();
  if (nextOp == "remove_chunk" || nextOp == "upload_chunk") {
    const pugi::xml_node key = next.first_child();
    if (!PareseOmElementValue(key, "MD5", &chunk.key, nullptr) ||
        !PareseOmElementValue(key.next_sibling(), "storage_key", &chunk.storageId, nullptr)) {
      return Fail(fn, "Fail to get a element"), 0;
    }
  }
  return 1;
}

int CBack::ParseOmRename(pugi::xml_node body, std::string& /*result*/) {
  return ParseBodyName(body, "rename_rsp", "CBack::ParseOmRename");
}

int CBack::ParseOmRemove(pugi::xml_node body, std::string& /*result*/) {
  return ParseBodyName(body, "remove_rsp", "CBack::ParseOmRemove");
}

int CBack::ParseBodyName(pugi::xml_node body, const char* name, const char* function) {
  if (!body) return Fail(function, "Fail to get a node"), 0;
  if (!PareseOmElementValue(body, name, nullptr, nullptr)) return Fail(function, "Fail to get a element"), 0;
  return 1;
}
