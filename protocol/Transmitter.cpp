#include "protocol/Transmitter.h"

#include <cstring>

#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "protocol/WireValue.h"

namespace {

static_assert(kAttachmentLimit == kChunkSize, "an attachment is one chunk");

const SoapClientProfile kTransmitterProfile = {
    "CTransmitter",
    360000,
    /*sendsSource=*/false,
    /*sendsPassport=*/false,
    /*checksSequence=*/true,
    /*keepsLastReason=*/false,
    "reqonse:",
    "Stub invoke FAILED: Error code:  %d :: %s",
    "Fail to get a element",
    nullptr,
    "Fail to get a element",
    "Mismatched element KEY %s with %s",
};

constexpr const char* kAck = "Get a ack (%s) with reason (%s)";

void Fail(const char* function, const char* message) { LogText(CLogger::kError, function, message); }

void SetChunkAttributes(pugi::xml_node body, const CChunkInfo& chunk) {
  body.append_attribute("MD5").set_value(WireText(chunk.key).c_str());
  body.append_attribute("storage_key").set_value(WireText(chunk.storageId).c_str());
}

// The chunk an answer names; false when either attribute is absent.
bool ReadChunkNames(pugi::xml_node body, CChunkInfo& record) {
  const pugi::xml_attribute key = body.attribute("MD5");
  const pugi::xml_attribute storage = body.attribute("storage_key");
  if (!key || !storage) return false;
  record.key = key.value();
  record.storageId = storage.value();
  return true;
}

}  // namespace

CTransmitter::CTransmitter() : CSoapFrame(kTransmitterProfile) {}

int CTransmitter::Init(const std::string& endpoint, const std::string& user, const std::string& password,
                       const std::string& hostId, const std::string& /*installFolder*/) {
  return SetUp(endpoint, user, PasswordDigest(password), hostId);
}

int CTransmitter::DownloadChunk(const CChunkInfo& chunk, std::string& result, CChunkBuffer& buffer) {
  const char* fn = "CTransmitter::DownloadChunk";
  if (chunk.key.empty() || chunk.storageId.empty() || chunk.size == 0) {
    LogF(CLogger::kError, fn, "Fail to download for Missing chunk info: ChunkID {%s}, StorageKey {%s}, ChunkSize {%d}",
         chunk.key.c_str(), chunk.storageId.c_str(), chunk.size);
    return 0;
  }
  CSoapAnswer answer;
  pugi::xml_node body;
  const auto fill = [&](pugi::xml_node b, auto&) { SetChunkAttributes(b, chunk); };
  if (!Call({"DownloadChunk", "download_chunk", kAck, CLogger::kInfo}, fill, result, answer, body)) return 0;
  CChunkInfo received;
  // A parse that fails after reading the names leaves the buffer as it was:
  // its old bytes must not pass for the chunk.
  const int parsed = ParseOmDownloadChunk(answer, body, received, buffer);
  if (!parsed || received.key != chunk.key || received.storageId != chunk.storageId ||
      buffer.length() != static_cast<uint32_t>(chunk.size)) {
    LogF(CLogger::kError, fn, "Mismatched chunk download, (chunksize: %d, %d)", chunk.size,
         static_cast<int>(buffer.length()));
    return 0;
  }
  return 1;
}

int CTransmitter::ParseOmDownloadChunk(CSoapAnswer& answer, pugi::xml_node body, CChunkInfo& record,
                                       CChunkBuffer& buffer) {
  const char* fn = "CTransmitter::ParseOmDownloadChunk";
  if (!body) return Fail(fn, "Fail to get a body node"), 0;
  if (!PareseOmElementValue(body, "download_chunk_rsp", nullptr, nullptr)) {
    return Fail(fn, "Fail to get a element"), 0;
  }
  if (!ReadChunkNames(body, record)) return Fail(fn, "Fail to get a attribute"), 0;
  const pugi::xml_node content = body.first_child();
  if (!content) return Fail(fn, "Fail to get a node"), 0;
  if (!PareseOmElementValue(content, "content", nullptr, nullptr)) return Fail(fn, "Fail to get a element"), 0;

  std::string_view bytes;
  size_t size = 0;
  switch (answer.ReadBinary(content, kAttachmentLimit, bytes, size)) {
    case CSoapAnswer::Binary::kOk:
      break;
    case CSoapAnswer::Binary::kNoContent:
      return Fail(fn, "Fail to get a node"), 0;
    case CSoapAnswer::Binary::kMissingAttachment:
      LogF(CLogger::kError, fn, "Fail to get the attachment {%s}", content.first_child().attribute("href").value());
      return 0;
    case CSoapAnswer::Binary::kTooLarge:
      LogF(CLogger::kError, fn, "Refused an attachment of %zu bytes (limit %zu)", size, kAttachmentLimit);
      return 0;
  }
  if (!buffer.Resize(static_cast<uint32_t>(bytes.size()))) return Fail(fn, "Fail to resize the chunk buffer"), 0;
  std::memcpy(buffer.data(), bytes.data(), bytes.size());
  buffer.SetLength(static_cast<uint32_t>(bytes.size()));
  return 1;
}

int CTransmitter::UploadChunk(const CChunkInfo& chunk, const CChunkBuffer& buffer, std::string& result,
                              int deltaFlag) {
  const auto fill = [&](pugi::xml_node b, std::vector<SoapAttachment>& attachments) {
    SetChunkAttributes(b, chunk);
    b.append_attribute("chunk_size").set_value(StrFormat("%d", static_cast<int>(buffer.length())).c_str());
    b.append_attribute("delta_flag").set_value(deltaFlag ? "yes" : "no");
    const std::string id = AddXopInclude(b.append_child("content"), 0);
    attachments.push_back({id, buffer.data(), buffer.length()});
  };
  return ConfirmedCall({"UploadChunk", "upload_chunk", "CTransmitter::ParseOmUploadChunk"}, chunk, fill, result);
}

int CTransmitter::RemoveChunk(const CChunkInfo& chunk, std::string& result) {
  const auto fill = [&](pugi::xml_node b, auto&) { SetChunkAttributes(b, chunk); };
  return ConfirmedCall({"RemoveChunk", "remove_chunk", "CTransmitter::ParseOmRemoveChunk"}, chunk, fill, result);
}

// Upload and removal: the answer must name the same chunk.
int CTransmitter::ConfirmedCall(const ChunkCall& call, const CChunkInfo& chunk, const BodyBuilder& fill,
                                std::string& result) {
  CSoapAnswer answer;
  pugi::xml_node body;
  if (!Call({call.method, call.name, kAck, CLogger::kInfo}, fill, result, answer, body)) return 0;
  const std::string answerName = std::string(call.name) + "_rsp";
  CChunkInfo received;
  ParseConfirmation(body, answerName.c_str(), received, call.parser);
  if (received.key != chunk.key || received.storageId != chunk.storageId) {
    LogText(CLogger::kError, Function(call.method).c_str(), "Mismatched chunk uploaded");
    return 0;
  }
  return 1;
}

int CTransmitter::ParseConfirmation(pugi::xml_node body, const char* name, CChunkInfo& record,
                                    const char* function) {
  if (!body) return Fail(function, "Fail to get a body node"), 0;
  if (!PareseOmElementValue(body, name, nullptr, nullptr)) return Fail(function, "Fail to get a element"), 0;
  if (!ReadChunkNames(body, record)) return Fail(function, "Fail to get a attribute"), 0;
  return 1;
}
