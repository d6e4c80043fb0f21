#pragma once
// The transmitter's client: chunk contents by storage key. Chunk bytes travel
// as binary MTOM attachments; answers may also carry them as inline Base64.
// Every answer must echo the request's sequence number.
#include <string>

#include "protocol/SoapFrame.h"
#include "store/ChunkBuffer.h"
#include "store/FileInfo.h"

class CTransmitter : public CSoapFrame {
 public:
  CTransmitter();

  // As CBack::Init, with the password stored in digest form.
  int Init(const std::string& endpoint, const std::string& user, const std::string& password,
           const std::string& hostId, const std::string& installFolder);

  // The bytes of `chunk` (key, storage key and size needed; nothing is sent
  // without them) into `buffer`. 1 only when the answer names the same key
  // and storage key and carries exactly `chunk.size` bytes. Content above
  // 4194304 bytes is refused before it is copied.
  int DownloadChunk(const CChunkInfo& chunk, std::string& result, CChunkBuffer& buffer);
  // Stores the buffer's bytes (a delta against old chunks when `deltaFlag`
  // is nonzero) under the chunk's key and storage key. 1 when the answer
  // confirms both.
  int UploadChunk(const CChunkInfo& chunk, const CChunkBuffer& buffer, std::string& result, int deltaFlag);
  // 1 when the answer confirms the removal of the same key and storage key.
  int RemoveChunk(const CChunkInfo& chunk, std::string& result);

 protected:
  // The answers' bodies, reachable for code that feeds answers directly.
  int ParseOmDownloadChunk(CSoapAnswer& answer, pugi::xml_node body, CChunkInfo& record, CChunkBuffer& buffer);
  int ParseConfirmation(pugi::xml_node body, const char* name, CChunkInfo& record, const char* function);

 private:
  struct ChunkCall {
    const char* method;
    const char* name;
    const char* parser;  // log name of the answer's parser
  };
  int ConfirmedCall(const ChunkCall& call, const CChunkInfo& chunk, const BodyBuilder& fill, std::string& result);
};
