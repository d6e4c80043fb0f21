#pragma once
// The upload dialogue of the back server. A client announces a file with
// its chunk list (and, for a change, the chunk list of the version it
// started from); the service answers with the next step until it holds
// every chunk, then makes the announced version current:
//   "upload_chunk"       send this chunk to the transmitter under this storage key
//   "all_chunk_exist"    the version is stored
//   "move_conflic_file"  the service's version is not the one the client
//                        started from (or a new file meets other content)
// An unfinished upload is kept per host and path until the next announce
// of that path, its completion, or a restart of the service.
#include <cstdint>
#include <string>
#include <vector>

#include "service/Chunks.h"
#include "service/ServiceDb.h"
#include "service/Tree.h"

struct UploadRequest {
  bool folder = false;
  bool isNew = true;  // the client knows no earlier version
  int64_t size = 0;
  int64_t mtime = 0;
  std::vector<ChunkRef> oldChunks;  // the version the client changed
  std::vector<ChunkRef> newChunks;
};

struct UploadStep {
  int reason = 0;  // nonzero: the request is refused with this reason
  std::string op;
  ChunkRef chunk;  // "upload_chunk": key and storage key
};

class CUploads {
 public:
  static constexpr const char* kUploadChunk = "upload_chunk";
  static constexpr const char* kAllChunkExist = "all_chunk_exist";
  static constexpr const char* kConflict = "move_conflic_file";

  CUploads(CServiceDb& db, CTree& tree, CChunkStore& chunks) : db_(db), tree_(tree), chunks_(chunks) {}

  UploadStep Announce(const std::string& host, const Location& location, const UploadRequest& request);
  // The client stored a chunk of its upload of `location`: the next step.
  UploadStep ChunkStored(const std::string& host, const Location& location);
  // Forgets every unfinished upload (at start).
  void DropAll();

 private:
  UploadStep AnnounceFile(const std::string& host, const Location& location, const UploadRequest& request);
  UploadStep Next(int64_t uploadId, const Location& location, const std::string& host);
  int64_t Save(const std::string& host, const Location& location, const UploadRequest& request, int64_t base);
  void Drop(int64_t uploadId);
  // Deletes the upload; the chunk ids it named, still to be released.
  std::vector<std::string> Forget(int64_t uploadId);

  CServiceDb& db_;
  CTree& tree_;
  CChunkStore& chunks_;
};
