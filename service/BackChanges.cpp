// upload_file, chunk_uploaded, rename, remove.
#include <cstring>

#include "service/BackHandlers.h"
#include "service/Identifiers.h"
#include "store/ChunkBuffer.h"

namespace {

// One old_chunk/new_chunk element: a chunk key and a size of 1..4 MiB.
bool ReadChunkElement(pugi::xml_node node, ChunkRef& chunk) {
  chunk.key = node.attribute("MD5").value();
  return IsChunkKey(chunk.key) && ReadNumber(node, "chunk_size", chunk.size) && chunk.size > 0 &&
         chunk.size <= kChunkSize;
}

bool ReadFlag(pugi::xml_node node, const char* name, bool& value) {
  const std::string text = node.attribute(name).value();
  value = text == "yes";
  return value || text == "no";
}

// The announced file, checked for consistency: counts match the elements,
// chunk sizes add up to the file size.
bool ReadUpload(pugi::xml_node body, UploadRequest& request) {
  int64_t newCount = 0, oldCount = 0;
  if (!ReadFlag(body, "dir_flag", request.folder) || !ReadFlag(body, "new_file_flag", request.isNew) ||
      !ReadNumber(body, "file_size", request.size) || !ReadNumber(body, "modify_time", request.mtime) ||
      !ReadNumber(body, "new_chunk_num", newCount) || !ReadNumber(body, "old_chunk_num", oldCount) ||
      request.size < 0) {
    return false;
  }
  int64_t total = 0;
  for (pugi::xml_node node : body.children()) {
    const bool isNew = std::strcmp(node.name(), "new_chunk") == 0;
    if (!isNew && std::strcmp(node.name(), "old_chunk") != 0) return false;
    ChunkRef chunk;
    if (!ReadChunkElement(node, chunk)) return false;
    if (isNew) total += chunk.size;
    (isNew ? request.newChunks : request.oldChunks).push_back(chunk);
  }
  if (request.folder) return true;
  return static_cast<int64_t>(request.newChunks.size()) == newCount &&
         static_cast<int64_t>(request.oldChunks.size()) == oldCount && total == request.size;
}

// upload_file_rsp / chunk_uploaded_rsp: the file named as the client did,
// and the next step.
void AnswerStep(const SoapCall& call, const UploadStep& step, CSoapReply& reply) {
  if (step.reason) return reply.Fail(step.reason);
  SetAttribute(reply.Body(), "file_name", call.body.attribute("file_name").value());
  pugi::xml_node next = reply.Body().append_child("next_op");
  SetAttribute(next, "op", step.op);
  if (step.op != CUploads::kUploadChunk) return;
  next.append_child("MD5").text().set(step.chunk.key.c_str());
  next.append_child("storage_key").text().set(step.chunk.storageKey.c_str());
}

void UploadFile(ServiceParts& parts, const Caller& caller, const SoapCall& call, CSoapReply& reply) {
  const Viewer viewer = parts.tree.LoadViewer(caller.user);
  Location location;
  if (!ResolvePath(parts, viewer, call, "file_name", location, reply)) return;
  UploadRequest request;
  if (!ReadUpload(call.body, request)) return reply.Fail(kReasonFormat);
  AnswerStep(call, parts.uploads.Announce(caller.hostId, location, request), reply);
}

// The reported chunk itself is not trusted: the next step is whatever the
// upload still lacks, that chunk again when it never arrived.
void ChunkUploaded(ServiceParts& parts, const Caller& caller, const SoapCall& call, CSoapReply& reply) {
  const Viewer viewer = parts.tree.LoadViewer(caller.user);
  Location location;
  if (!ResolvePath(parts, viewer, call, "file_name", location, reply)) return;
  if (!IsChunkKey(call.body.attribute("MD5").value())) return reply.Fail(kReasonFormat);
  AnswerStep(call, parts.uploads.ChunkStored(caller.hostId, location), reply);
}

void Rename(ServiceParts& parts, const Caller& caller, const SoapCall& call, CSoapReply& reply) {
  const Viewer viewer = parts.tree.LoadViewer(caller.user);
  Location from, to;
  if (!ResolvePath(parts, viewer, call, "old_file_name", from, reply) ||
      !ResolvePath(parts, viewer, call, "new_file_name", to, reply)) {
    return;
  }
  if (const int reason = parts.tree.Rename(viewer, from, to, caller.hostId)) reply.Fail(reason);
}

// A share id (or a member's mount) leaves the share; the owner's removes the folder.
void Remove(ServiceParts& parts, const Caller& caller, const SoapCall& call, CSoapReply& reply) {
  const Viewer viewer = parts.tree.LoadViewer(caller.user);
  Location location;
  if (!ResolvePath(parts, viewer, call, "file_name", location, reply)) return;
  if (const int reason = parts.tree.Remove(viewer, location, caller.hostId)) reply.Fail(reason);
}

}  // namespace

void AddChangeOperations(ServiceParts& parts, std::vector<SoapOperation>& operations) {
  operations.push_back(BindOperation("upload_file", true, true, parts, UploadFile));
  operations.push_back(BindOperation("chunk_uploaded", true, true, parts, ChunkUploaded));
  operations.push_back(BindOperation("rename", true, true, parts, Rename));
  operations.push_back(BindOperation("remove", true, true, parts, Remove));
}
