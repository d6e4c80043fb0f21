#pragma once
// What `serve` may be told; the defaults are the documented ones.
#include <cstddef>
#include <cstdint>
#include <string>

struct ServiceOptions {
  std::string dataFolder;                   // holds service.db, chunks/ and service.log
  std::string bind = "127.0.0.1";
  int port = 8080;                          // 0: any free port
  std::size_t compressThreshold = 1000;     // file_list entries above which the listing is compressed
  std::size_t maxBody = 16 * 1024 * 1024;   // larger requests are refused with reason 9
  std::string setupName = "VessaSetup101203.exe";  // the current client setup (/vorportal/clientVersion)
  int64_t passportLifetime = 24 * 3600;     // seconds
  unsigned threads = 4;                     // request threads
};

// The files of a data folder.
inline std::string DatabasePath(const std::string& folder) { return folder + "/service.db"; }
inline std::string ChunkFolder(const std::string& folder) { return folder + "/chunks"; }
inline std::string LogPath(const std::string& folder) { return folder + "/service.log"; }
