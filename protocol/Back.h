#pragma once
// The back server's client: the account (host id, login, root folder, system
// messages), the listings (whole account, one file, a folder tree) and the
// file changes (upload dialogue, rename, remove).
//
// Every operation returns 1 for success and 0 for failure; a failure is
// logged, and after a failed head GetReason()/GetLastReason() give the
// service's reason code. Paths are local texts: they go out as UTF-8 and come
// back through the service's character references into the local code page.
#include <map>
#include <string>
#include <vector>

#include "protocol/SoapFrame.h"
#include "store/FileInfo.h"

class CBack : public CSoapFrame {
 public:
  // Listing entries by lower-cased path (ASCII letters only).
  using FileMap = std::map<std::string, CFileInfo>;

  CBack();

  // Stores the values (the password as given: the system-message thread's
  // client sends what it was handed) and makes the client ready. The install
  // folder is where the original SOAP engine kept its files; nothing is
  // needed there now. 1 when ready.
  int Init(const std::string& endpoint, const std::string& user, const std::string& password,
           const std::string& hostId, const std::string& installFolder);
  // The user and passport unchanged, the password in digest form.
  void SetCredentials(const std::string& user, const std::string& password, const std::string& passport);

  // The reason of the last failed head; unlike GetReason it survives
  // ClearReason and is not overwritten by a call that got no answer.
  std::string GetLastReason() const { return lastReason_; }
  void ClearReason() { reason_.clear(); }
  // Forgets the last reason too, once the caller has dealt with it.
  void ClearLastReason() {
    reason_.clear();
    lastReason_.clear();
  }

  // ---- account ----
  // `text` receives the head's result, then the value: test the return value.
  int GetHostID(const std::string& computerName, std::string& text);
  int Login(std::string& result);
  int GetServerRoot(std::string& text);
  // Inserts the answer's messages; an id already in the map keeps its record.
  int GetSystemMessage(CInfoAttrMap& messages);

  // ---- listings ----
  // The whole account in answer order (the vector is emptied first).
  int DownloadAll(std::string& result, std::vector<CFileInfo>& files);
  // One file's description into `file` (its dir is left as set; chunks are appended).
  int Download(const std::string& name, std::string& result, CFileInfo& file);
  // The tree under `folder`, plain or compressed; keys already present keep
  // their entries. The map is not emptied.
  int GetList(const std::string& folder, std::string& result, FileMap& files);
  // Entries the last listing named in a way that cannot be read (a name the
  // character-reference decoder refuses): left out, and counted here.
  int DroppedEntries() const { return dropped_; }

  // ---- file changes ----
  // Announces `file` (with the server's previous version, or none for a new
  // file). `nextOp` receives the head's result, then the server's next step;
  // for "upload_chunk" `chunk` gets its key and storage key. 0 also when the
  // answer is about another file or its next step cannot be read.
  int Upload(const CFileInfo& file, const CFileInfo* oldFile, std::string& nextOp, CChunkInfo& chunk);
  // Reports `chunk` stored at the transmitter; the next step as for Upload
  // ("upload_chunk" or "remove_chunk" name a chunk).
  int ChunkDone(const CFileInfo& file, const CChunkInfo& chunk, std::string& nextOp, CChunkInfo& nextChunk);
  int Rename(const std::string& oldName, const std::string& newName, std::string& result);
  int Remove(const std::string& name, std::string& result);

  // ---- answer body parsers (each logs its failures under its own name) ----
  int ParseOmGetHostID(pugi::xml_node body, std::string& text);
  int ParseOmLogin(pugi::xml_node body, std::string& result);
  int ParseOmGetServerRoot(pugi::xml_node body, std::string& text);
  int ParseOmSystemMessage(pugi::xml_node body, CInfoAttrMap& messages);
  int ParseOmDownloadAll(pugi::xml_node body, std::string& result, std::vector<CFileInfo>& files);
  int ParseOmDownload(pugi::xml_node body, std::string& result, CFileInfo& file);
  int ParseOmGetList(pugi::xml_node body, std::string& result, FileMap& files);
  int ParseOmUpload(pugi::xml_node body, std::string& nextOp, std::string& answeredName, CChunkInfo& chunk);
  int ParseOmChunkDone(pugi::xml_node body, std::string& nextOp, std::string& answeredName, CChunkInfo& chunk);
  int ParseOmRename(pugi::xml_node body, std::string& result);
  int ParseOmRemove(pugi::xml_node body, std::string& result);

 private:
  // False when a number cannot be read; a name that cannot be read leaves
  // the path empty (counted in dropped_ unless the service sent none).
  bool ReadEntryHead(pugi::xml_node entry, CFileInfo& info, const char* function);
  bool ReadFolderAttributes(pugi::xml_node entry, CFileInfo& info, const char* function);
  bool ReadChunk(pugi::xml_node node, CChunkInfo& chunk, const char* function);
  int ParseListEntries(pugi::xml_node container, FileMap& files, const char* function);
  bool ReadListFile(pugi::xml_node entry, CFileInfo& info, const char* function);
  int ParseBodyName(pugi::xml_node body, const char* name, const char* function);

  int dropped_ = 0;
};
