#pragma once
// Fetches the chunks of the files a download phase will bring in, on the
// transfer lanes, ahead of the worker: each chunk the cache lacks is
// downloaded, checked against its key and given its block lists, and the
// file is assembled in the cache folder as they arrive and flushed to the
// disk, so the worker only moves it in (each byte written once, the flushes
// of several files under way at once). An assembly cut short leaves what
// arrived in the chunk cache, so the next pass fetches only the rest; when
// no assembly can be made the chunks go to memory (below the memory
// threshold) or the cache, as the worker would fetch them.
// The worker takes a file's chunks when its decisions reach the file and
// fetches itself whatever a lane could not, exactly as without read-ahead:
// every decision and every write to the user folder stays the worker's.
//
// Worker only, but for the jobs it gives the lanes.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "store/ReplacingFile.h"

#include "store/FileInfo.h"

class CChunkBuffer;
class CChunkJournal;
class CFileCache;
class CTransferLanes;

// The chunk's block lists from its bytes.
void FillBlockLists(CChunkInfo& chunk, const CChunkBuffer& buffer);

class CDownloadAhead {
 public:
  struct Chunk {
    bool fetched = false;  // lists filled; the bytes in `buffer` or in the cache
    CChunkInfo lists;
    std::unique_ptr<CChunkBuffer> buffer;
  };
  struct Fetched {
    std::vector<Chunk> chunks;                // by chunk index
    std::unique_ptr<CReplacingFile> assembly;  // the whole file, when assembled
  };

  CDownloadAhead(CTransferLanes& lanes, CFileCache& cache, CChunkJournal& chunks, const std::atomic<int>& cancel,
                 int64_t memoryBudget);
  ~CDownloadAhead();
  CDownloadAhead(const CDownloadAhead&) = delete;
  CDownloadAhead& operator=(const CDownloadAhead&) = delete;

  // A file (server path, chunk list) the worker is expected to download, in
  // the order it will get there.
  void Expect(const CFileInfo& file);
  // Starts fetches while lanes and memory allow.
  void Pump();
  // The chunks fetched for the file at `serverPath`, waiting for its fetch
  // when one runs; false, `fetched` untouched, when it was not fetched ahead. Files expected
  // before it are dropped.
  bool Take(const std::string& serverPath, Fetched& fetched);

 private:
  struct Entry {
    CFileInfo file;
    Fetched fetched;
    int64_t held = 0;
    bool done = false;
  };
  void Drop(std::size_t index);

  // Files started and not yet taken, each holding an open assembly.
  static constexpr std::size_t kMostAhead = 32;

  CTransferLanes& lanes_;
  CFileCache& cache_;
  CChunkJournal& chunkJournal_;
  const std::atomic<int>& cancel_;
  const int64_t budget_;
  std::vector<CFileInfo> expected_;
  std::map<std::string, std::size_t> indexOf_;
  std::size_t next_ = 0;  // the first expected file not yet started
  std::shared_ptr<Entry> prepared_;  // next_'s entry, chunks read, waiting for a free lane
  std::map<std::size_t, std::shared_ptr<Entry>> started_;
  int64_t held_ = 0;  // memory of started files not yet taken
};
