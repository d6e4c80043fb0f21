#pragma once
// CFileCache: the sync engine's window on the local user folder (the root).
// It scans the root into a map of records, cuts files into chunks with their
// block lists, keeps chunks in a cache folder, rebuilds files from chunks,
// applies the engine's file operations, writes share markers and folder icon
// files, and publishes per-path status in the shared status block.
//
// Paths: root-relative ("/docs/a.txt") or absolute; every operation first
// makes them absolute (MakeLocalPath). Results: 1 success, 0 failure, each
// failure logged under "CFileCache::<operation>". Used by the worker thread only.
//
// Symbolic links below the root are never followed, recorded or
// synchronised. Files are rebuilt in a hidden temporary file (kTempPrefix)
// beside the target and moved over it only when complete, so a failure or a
// crash never leaves a truncated or half-new file.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "store/FileInfo.h"
#include "store/Sharedfilestatus.h"

class CReplacingFile;

constexpr int64_t kMemoryThreshold = 67108864;  // files from 64 MiB on go through the cache folder
constexpr int kScanDepthLimit = 32;             // folder levels below the root that are scanned
constexpr const char* kShareMarkerName = ".vessashare";
constexpr const char* kFolderIconName = "desktop.ini";
constexpr const char* kTempPrefix = ".vessatmp-";

// The hidden names of the temporary files this program writes: kTempPrefix,
// eight random characters, "-" and eight hexadecimal digits that check them.
// A user's own file that merely begins with the prefix fails the check, so
// it is synchronised like any other and never removed as a leftover.
std::string NewTemporaryName();
// Whether the bytes are the chunk `key` names (their MD5).
bool BytesMatchKey(const CChunkBuffer& buffer, const std::string& key);
bool IsTemporaryName(const std::string& name);

class CFileCache {
 public:
  // Shows a failure text to the user and returns the answer; the engine sets
  // one, without it failures are only logged.
  using ErrorPrompt = std::function<int(const std::string& text)>;

  // All file access goes through `fileSystem` (the real one when null).
  explicit CFileCache(platform::IFileSystem* fileSystem = nullptr);
  CFileCache(const CFileCache&) = delete;
  CFileCache& operator=(const CFileCache&) = delete;

  // ---- set-up ----
  // SetRoot, then creates and clears the status block; empties the scan map.
  int Init(const std::string& root, const std::string& statusBlockName = DefaultStatusBlockName());
  // Keeps the path (trailing "/" dropped) and creates the folder when missing.
  int SetRoot(const std::string& path);
  int SetCache(const std::string& path);
  // Creates the folder (owner-only) unless it exists.
  int SetFolder(const std::string& path);
  // Deletes the cache folder with its content and creates it again.
  int CleanCache();
  const std::string& GetRoot() const { return root_; }
  const std::string& GetCache() const { return cacheFolder_; }
  void SetErrorPrompt(ErrorPrompt prompt) { prompt_ = std::move(prompt); }

  // ---- paths ----
  // A path is under the root when it is the root or begins with root + "/"
  // (letter case counts, as it does for Linux names).
  // Under the root: left as it is, 0. Otherwise root + path, with a "/"
  // between them when the path has none: 1.
  int MakeLocalPath(std::string& path) const;
  // Under the root: the root part removed ("/docs/a.txt"), 1. Otherwise unchanged, 0.
  int MakeRootRelative(std::string& path) const;

  // ---- scan ----
  // Records every file and folder below the root, down to kScanDepthLimit
  // levels, keyed by lower-case root-relative path. Markers and icon files
  // are skipped, this program's temporary files removed (IsTemporaryName); a folder with a share marker gets its id as
  // `dir` (a second folder with the same id loses its marker and icon file).
  // Fails when the root or a folder below it cannot be listed: a missing
  // folder content would look like local deletions.
  int ScanRoot();
  // Root-relative folders whose content the last scan left out because they
  // lie kScanDepthLimit levels down (only folders that hold something).
  const std::vector<std::string>& TooDeepFolders() const { return tooDeep_; }
  int FindLocal(const std::string& path, CFileInfo& info) const;
  int FirstLocal(CFileInfo& info);  // ascending key order; 0 at the end
  int NextLocal(CFileInfo& info);
  // One entry on disk, `path` set to the absolute path; 0 when it is missing
  // or neither file nor folder.
  int StatLocal(const std::string& path, CFileInfo& info);
  // One entry looked up alone, as ScanRoot would record it now (root-relative
  // path, a marked folder's share id as dir, mark); 0 when the scan would not
  // record it: missing, reached through a link, a skipped name, too deep.
  int LookupLocal(const std::string& path, CFileInfo& info);
  void SetPathMark(const std::string& path, int32_t value);
  int32_t GetPathMark(const std::string& path) const;
  int AddScannedShare(const std::string& id, const std::string& path);  // an existing id is kept
  int FindScannedShare(const std::string& id, std::string& path) const;

  // ---- chunks ----
  // A file record without loaded buffers: LoadChunk(info.path, info). Folders
  // and records that hold buffers succeed untouched.
  int LoadChunk(CFileInfo& info);
  // Cuts the file into 4 MiB chunks with keys and block lists. Below
  // kMemoryThreshold the chunk bytes stay in the record; from it on they go
  // to the cache folder. Fails when the bytes read differ from info.size.
  int LoadChunk(const std::string& path, CFileInfo& info);
  // LoadChunk for an upload: from kMemoryThreshold on only the keys and block
  // lists are kept; ReadChunkOfFile reads a chunk again when it is sent.
  int CutChunks(const std::string& path, CFileInfo& info);
  // Chunk `index` of the file at `path` (root-relative) into `buffer`: exactly
  // chunk.size bytes from index * kChunkSize on, which must hash to chunk.key.
  // Fails (logged) when the file no longer holds that chunk there.
  int ReadChunkOfFile(const std::string& path, std::size_t index, const CChunkInfo& chunk, CChunkBuffer& buffer);
  // ---- a download assembled in the cache folder ----
  // A new, empty assembly file in the cache folder, open for writing; null
  // when it cannot be made (logged).
  std::unique_ptr<CReplacingFile> NewAssembly();
  // Moves a complete assembly (written and flushed) in as info.path's file,
  // with the permissions of a file it replaces and the record's modify time
  // (copied instead when the user folder lies on another file system).
  int MakeFileFromAssembly(CFileInfo& info, CReplacingFile& assembly);
  // Puts chunks [0, count) of an assembly cut short into the cache, so the
  // next pass does not fetch them again.
  void CacheAssembledChunks(CReplacingFile& assembly, const CFileInfo& info, std::size_t count);
  // Writes the buffer's bytes as the cache file of `key` (32 hex digits).
  int CacheChunk(const std::string& key, const CChunkBuffer& buffer);
  // Fills key and size when the cache holds the chunk.
  int FindCachedChunk(const std::string& key, CChunkInfo& chunk);
  // Reads a cached chunk; fails unless exactly chunk.size bytes are there.
  int GetChunkCache(const CChunkInfo& chunk, CChunkBuffer& buffer);
  // Writes the file from the record's buffers or the cache, sets its modify
  // time to info.mtime and replaces the target. When the file system keeps a
  // different time, info.mtime takes it and info.timeAdjusted becomes 1.
  int MakeFile(CFileInfo& info);

  // The folder where a write last failed for want of space (a full disk or
  // quota), forgotten once taken; false when none failed so since.
  bool TakeNoSpaceFolder(std::string& folder);

  // ---- file operations ----
  int MkDir(const std::string& path);   // an existing folder succeeds
  int Remove(const std::string& path);  // a folder with everything below it
  int Rename(const std::string& from, const std::string& to);  // never replaces
  int Copy(const std::string& from, const std::string& to);    // replaces `to`
  int SetFileTime(const CFileInfo& info);  // folders: nothing to do

  // ---- share markers and folder icon files ----
  int SetHomeIcon(const std::string& folder);
  int SetShareIcon(const std::string& folder, bool sharedByMe, const std::string& owner);
  int RemoveFolderIcon(const std::string& folder);
  int SetShareFolder(const std::string& folder, const std::string& id);
  int RemoveShareMarker(const std::string& folder);
  // The icon-file and marker writers and the marker reader (at most 128 bytes).
  int _SetFolderIcon(const std::string& folder, const std::string& iconFile, const std::string& owner);
  int _SetShareFolder(const std::string& folder, const std::string& id);
  int _GetShareFolder(const std::string& folder, std::string& id);

  // ---- shared status (paths are lower-cased, then made absolute) ----
  // Status 3: the path only; otherwise also each folder above it, the root
  // excluded. 0, nothing written, for a path that does not lead to the root.
  int SetPathStatus(const std::string& path, int32_t status);
  // The path and the folders above it, stopping at the root or at the first
  // folder that is `stop` or contains it (when `stop` is not empty).
  int SetStatusUpTo(const std::string& path, int32_t status, const std::string& stop);
  // Sets the path's fields that are not -1; on a new path also gives the
  // former path's folder status 3 and marks the folders above the path.
  int SetStatusRecord(const std::string& path, int32_t status, int32_t total, int32_t done);
  // kStatusLeftOut for the path alone.
  int SetPathLeftOut(const std::string& path);

 private:
  int ScanPath(const std::string& folder, int depth);
  void ScanFolder(const std::string& full, const platform::FolderEntry& entry);
  void ScanFile(const std::string& full, const platform::FolderEntry& entry);
  CFileInfo EntryRecord(const std::string& rel, const platform::FileStatus& status, int32_t dir) const;
  static bool IsSkippedFileName(const std::string& name);
  int32_t ShareIdOfFolder(const std::string& full);
  int WriteSmallFile(const char* function, const std::string& path, const std::string& content);
  int Cut(const std::string& path, CFileInfo& info, bool cacheLarge);
  int AddChunkFromBuffer(CFileInfo& info, std::unique_ptr<CChunkBuffer>& buffer, bool cacheLarge);
  int WriteChunks(CFileInfo& info, CReplacingFile& file);
  // Sets the mode of a file it replaces, closes, dates and commits the new
  // version of info.path's file (`full`). A failed rename's error goes to
  // `renameError` when given (and EXDEV is then not logged).
  int FinishFile(CFileInfo& info, const std::string& full, CReplacingFile& file, bool durable,
                 int* renameError = nullptr);
  static bool HoldsCutBytes(const CChunkBuffer& buffer, const CChunkInfo& chunk);
  int CopyAssembly(CReplacingFile& assembly, const std::string& full, CReplacingFile& copy);
  void AdoptWriteTime(CFileInfo& info, const std::string& shownPath, const std::string& tempPath);
  std::string CachePath(const std::string& key) const;
  std::string StatusPath(const std::string& path) const;
  bool UnderRoot(const std::string& path) const;
  void MarkUpward(std::string path, int32_t status, const std::string& stop);
  int Prompt(int error);
  // Remembers the folder of `path` when `error` says the disk is full.
  void NoteWriteError(int error, const std::string& path);

  platform::IFileSystem& fs_;
  std::string root_;
  std::string cacheFolder_;
  std::map<std::string, CFileInfo> localMap_;
  std::map<std::string, CFileInfo>::const_iterator localCursor_ = localMap_.cend();
  std::map<std::string, int32_t> pathMarks_;
  CSharedFileStatus statusMemory_;
  std::string lastStatusPath_;
  std::map<std::string, std::string> scannedShares_;
  std::set<std::string> reportedLinks_;  // links already logged, each once
  std::vector<std::string> tooDeep_;
  std::mutex noSpaceMutex_;  // chunks are cached from the transfer lanes too
  std::string noSpaceFolder_;
  ErrorPrompt prompt_;
};
