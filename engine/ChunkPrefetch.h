#pragma once
// Cuts the next file of an upload walk into chunks on a second thread while
// the current file travels, so reading and hashing one file overlaps the
// service's work on the one before. One file ahead at most: a file below the
// memory threshold keeps its chunks in memory until it is sent.
#include <cstdint>
#include <future>
#include <string>

#include "store/FileInfo.h"

class CFileCache;

class CChunkPrefetch {
 public:
  explicit CChunkPrefetch(CFileCache& cache) : cache_(cache) {}
  ~CChunkPrefetch();  // waits for a load in progress
  CChunkPrefetch(const CChunkPrefetch&) = delete;
  CChunkPrefetch& operator=(const CChunkPrefetch&) = delete;

  // Starts cutting `scanned` (a local file; its path root-relative) unless
  // it is already being cut. A load of another file is waited for and dropped.
  void Start(const CFileInfo& scanned);
  // CFileCache::LoadChunk(rel, file) for the walk: what the second thread cut
  // when it was this very version (path, size, time), else cut now.
  int Load(const std::string& rel, CFileInfo& file);

 private:
  struct Loaded {
    int ok = 0;
    CFileInfo file;
  };
  bool IsPending(const std::string& rel, int64_t size, int64_t mtime) const;
  void Drop();

  CFileCache& cache_;
  std::string rel_;
  int64_t size_ = 0;
  int64_t mtime_ = 0;
  std::future<Loaded> pending_;
};
