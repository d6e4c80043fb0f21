#include "service/Uploads.h"

#include "service/Identifiers.h"
#include "service/ServerPath.h"

namespace {

bool SameChunks(const std::vector<ChunkRef>& a, const std::vector<ChunkRef>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ChunkId(a[i].key) != ChunkId(b[i].key)) return false;
  }
  return true;
}

UploadStep Step(const char* op) { return UploadStep{0, op, {}}; }

}  // namespace

UploadStep CUploads::Announce(const std::string& host, const Location& location, const UploadRequest& request) {
  if (!request.folder) return AnnounceFile(host, location, request);
  const int reason = tree_.MakeFolder(location, request.mtime, host);
  return reason ? UploadStep{reason, "", {}} : Step(kAllChunkExist);
}

UploadStep CUploads::AnnounceFile(const std::string& host, const Location& location, const UploadRequest& request) {
  CTransaction transaction(db_);
  const int64_t earlier = db_.IntOr(0, "SELECT id FROM uploads WHERE host_id = ?1 AND owner_id = ?2 AND path = ?3",
                                    host, location.owner, location.path);
  // The earlier upload's chunks are released only after the new one holds
  // its own: chunks both name must not be sent twice.
  const std::vector<std::string> earlierChunks = earlier ? Forget(earlier) : std::vector<std::string>();
  if (!tree_.IsFolder({location.owner, ParentPath(location.path)})) return UploadStep{20, "", {}};
  EntryRecord current;
  const bool exists = tree_.FindEntry(location.owner, location.path, current);
  const std::vector<ChunkRef> held = exists ? tree_.EntryChunks(current.id) : std::vector<ChunkRef>();
  const bool sameContent = exists && current.size == request.size && SameChunks(held, request.newChunks);
  UploadStep step;
  if (tree_.IsFolder(location)) {
    step = Step(kConflict);
  } else if (request.isNew) {
    step = !exists ? UploadStep{} : Step(sameContent ? kAllChunkExist : kConflict);
  } else {
    step = !exists || !SameChunks(held, request.oldChunks) ? Step(kConflict)
           : sameContent                                   ? Step(kAllChunkExist)
                                                           : UploadStep{};
  }
  if (step.op.empty()) {
    const int64_t upload = Save(host, location, request, exists ? current.version : 0);
    step = Next(upload, location, host);
  }
  chunks_.ReleaseUnused(earlierChunks);
  transaction.Commit();
  return step;
}

UploadStep CUploads::ChunkStored(const std::string& host, const Location& location) {
  CTransaction transaction(db_);
  const int64_t upload = db_.IntOr(0, "SELECT id FROM uploads WHERE host_id = ?1 AND owner_id = ?2 AND path = ?3",
                                   host, location.owner, location.path);
  if (!upload) return UploadStep{24, "", {}};  // no upload of that file is under way
  const UploadStep step = Next(upload, location, host);
  transaction.Commit();
  return step;
}

UploadStep CUploads::Next(int64_t uploadId, const Location& location, const std::string& host) {
  std::vector<ChunkRef> chunks;
  {
    CStatement rows = db_.Query("SELECT key_text, size FROM upload_chunks WHERE upload_id = ?1 ORDER BY idx", uploadId);
    while (rows.Step()) chunks.push_back({rows.Text(0), rows.Int(1), ""});
  }
  for (ChunkRef& chunk : chunks) {
    ChunkRow row;
    if (!chunks_.Find(ChunkId(chunk.key), row) || !row.stored) {
      row = chunks_.Reserve(ChunkId(chunk.key), chunk.size);
      return UploadStep{0, kUploadChunk, {chunk.key, chunk.size, row.storageKey}};
    }
    if (row.size != chunk.size) {
      Drop(uploadId);
      return UploadStep{16, "", {}};  // the announced size is not the content's
    }
    chunk.storageKey = row.storageKey;
  }
  CStatement upload = db_.Query("SELECT size, mtime, base_version FROM uploads WHERE id = ?1", uploadId);
  upload.Step();
  const bool committed =
      tree_.CommitFile(location, upload.Int(2), upload.Int(0), upload.Int(1), chunks, host);
  Drop(uploadId);
  return Step(committed ? kAllChunkExist : kConflict);
}

int64_t CUploads::Save(const std::string& host, const Location& location, const UploadRequest& request,
                       int64_t base) {
  db_.Run("INSERT INTO uploads(host_id, owner_id, path, size, mtime, base_version) VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
          host, location.owner, location.path, request.size, request.mtime, base);
  const int64_t id = db_.LastInsertId();
  for (size_t i = 0; i < request.newChunks.size(); ++i) {
    const ChunkRef& chunk = request.newChunks[i];
    db_.Run("INSERT INTO upload_chunks(upload_id, idx, md5, key_text, size) VALUES(?1, ?2, ?3, ?4, ?5)", id,
            static_cast<int64_t>(i), ChunkId(chunk.key), chunk.key, chunk.size);
  }
  return id;
}

void CUploads::Drop(int64_t uploadId) { chunks_.ReleaseUnused(Forget(uploadId)); }

std::vector<std::string> CUploads::Forget(int64_t uploadId) {
  std::vector<std::string> ids;
  {
    CStatement rows = db_.Query("SELECT md5 FROM upload_chunks WHERE upload_id = ?1", uploadId);
    while (rows.Step()) ids.push_back(rows.Text(0));
  }
  db_.Run("DELETE FROM upload_chunks WHERE upload_id = ?1", uploadId);
  db_.Run("DELETE FROM uploads WHERE id = ?1", uploadId);
  return ids;
}

void CUploads::DropAll() {
  CTransaction transaction(db_);
  db_.Run("DELETE FROM upload_chunks");
  db_.Run("DELETE FROM uploads");
  chunks_.ReleaseAllUnused();
  transaction.Commit();
}
