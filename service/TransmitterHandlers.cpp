#include "service/TransmitterHandlers.h"

#include <unistd.h>

#include "service/BackHandlers.h"
#include "service/Identifiers.h"
#include "store/ChunkBuffer.h"
#include "store/Delta.h"

namespace {

constexpr int kReasonDisk = 8;
constexpr int kReasonNotYours = 19;
constexpr int kReasonContent = 16;
constexpr int kReasonNoKey = 21;
// An encoded chunk is the chunk's bytes at most, plus its headers.
constexpr size_t kDeltaLimit = kChunkSize + 64 * 1024;

// The chunk a request names by MD5 and storage key; the reply fails when
// the two do not name one known chunk.
bool NamedChunk(ServiceParts& parts, const SoapCall& call, ChunkRow& row, CSoapReply& reply) {
  const std::string key = call.body.attribute("MD5").value();
  const std::string storageKey = call.body.attribute("storage_key").value();
  if (!IsChunkKey(key) || !IsStorageKey(storageKey)) return reply.Fail(kReasonFormat), false;
  if (!parts.chunks.FindByStorageKey(storageKey, row) || row.id != ChunkId(key)) {
    return reply.Fail(kReasonNoKey), false;
  }
  SetAttribute(reply.Body(), "MD5", key);
  SetAttribute(reply.Body(), "storage_key", storageKey);
  return true;
}

// The chunk's bytes from the request: its content, or the chunk rebuilt
// from the delta it carries. 0 or a reason.
int ReceivedChunk(ServiceParts& parts, const Caller& caller, const SoapCall& call, std::vector<unsigned char>& chunk,
                  std::string& why) {
  bool delta = false;
  const std::string flag = call.body.attribute("delta_flag").value();
  int64_t announced = 0;
  if ((flag != "yes" && flag != "no") || !ReadNumber(call.body, "chunk_size", announced)) return kReasonFormat;
  delta = flag == "yes";
  std::string_view bytes;
  size_t size = 0;
  if (call.message->ReadBinary(call.body.child("content"), delta ? kDeltaLimit : kChunkSize, bytes, size) !=
          CSoapReceived::Binary::kOk ||
      static_cast<int64_t>(bytes.size()) != announced || bytes.empty()) {
    return kReasonFormat;
  }
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  if (!delta) {
    chunk.assign(data, data + bytes.size());
    return 0;
  }
  const OldChunkReader readOld = [&](const std::string& storageKey, std::vector<unsigned char>& old) {
    ChunkRow row;
    return IsStorageKey(storageKey) && parts.chunks.FindByStorageKey(storageKey, row) && row.stored &&
           parts.chunks.Readable(caller.user.id, row.id) && parts.chunks.ReadFile(storageKey, old);
  };
  if (!DecodeDelta(data, bytes.size(), readOld, chunk, why)) return kReasonContent;
  return chunk.empty() || chunk.size() > kChunkSize ? kReasonContent : 0;
}

void UploadChunk(ServiceParts& parts, const Caller& caller, const SoapCall& call, CSoapReply& reply) {
  ChunkRow row;
  if (!NamedChunk(parts, call, row, reply)) return;
  std::vector<unsigned char> chunk;
  std::string why;
  if (const int reason = ReceivedChunk(parts, caller, call, chunk, why)) return reply.Fail(reason);
  if (row.stored) {  // the same bytes are there already
    if (Md5Lower(chunk.data(), chunk.size()) != row.id) reply.Fail(kReasonContent);
    return;
  }
  const CChunkStore::Stored stored = parts.chunks.StoreVerified(row, chunk, why);
  reply.Explain(why);
  switch (stored) {
    case CChunkStore::Stored::kOk: break;
    case CChunkStore::Stored::kWrongContent: return reply.Fail(kReasonContent);
    case CChunkStore::Stored::kDiskError: return reply.Fail(kReasonDisk);
    case CChunkStore::Stored::kDiskFull: return reply.Fail(kReasonStorageFull);
  }
  if (!parts.chunks.MarkStored(row.id, row.storageKey, static_cast<int64_t>(chunk.size()))) {
    ::unlink(parts.chunks.FilePath(row.storageKey).c_str());  // released meanwhile
    reply.Fail(kReasonNoKey);
  }
}

void DownloadChunk(ServiceParts& parts, const Caller& caller, const SoapCall& call, CSoapReply& reply) {
  ChunkRow row;
  if (!NamedChunk(parts, call, row, reply)) return;
  if (!row.stored) return reply.Fail(kReasonNoKey);
  if (!parts.chunks.Readable(caller.user.id, row.id)) return reply.Fail(kReasonNotYours);
  std::vector<unsigned char> bytes;
  if (!parts.chunks.ReadFile(row.storageKey, bytes)) return reply.Fail(kReasonDisk);
  reply.Attach(reply.Body().append_child("content"), std::move(bytes));
}

void RemoveChunk(ServiceParts& parts, const Caller&, const SoapCall& call, CSoapReply& reply) {
  ChunkRow row;
  if (NamedChunk(parts, call, row, reply)) parts.chunks.ReleaseUnused({row.id});
}

void Heartbeat(ServiceParts& parts, const Caller& caller, const SoapCall&, CSoapReply& reply) {
  SetAttribute(reply.Body(), "new_event", parts.accounts.TakeEvent(caller.hostId) ? "yes" : "no");
}

}  // namespace

std::vector<SoapOperation> TransmitterOperations(ServiceParts& parts) {
  return {
      BindOperation("upload_chunk", false, true, parts, UploadChunk),
      BindOperation("download_chunk", false, true, parts, DownloadChunk),
      BindOperation("remove_chunk", false, true, parts, RemoveChunk),
  };
}

std::vector<SoapOperation> HeartbeatOperations(ServiceParts& parts) {
  return {BindOperation("heartbeat", false, true, parts, Heartbeat)};
}
