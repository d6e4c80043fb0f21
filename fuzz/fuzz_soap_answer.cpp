// The client's reading of a SOAP answer as it comes off the wire: the HTTP
// body with its content type (plain SOAP, or MTOM with attachments), the
// response head, and the body of every kind of answer but the listings
// (fuzz_listing): account answers, upload steps, chunk contents, removal
// confirmations, heartbeats.
//   input: a selector byte, the content type, "\n", the HTTP body
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzInput.h"
#include "protocol/Back.h"
#include "protocol/HeartBeat.h"
#include "protocol/Transmitter.h"

namespace {

class FuzzBack : public CBack {
 public:
  using CSoapFrame::ParseOmHead;
};

class FuzzTransmitter : public CTransmitter {
 public:
  using CSoapFrame::ParseOmHead;
  using CTransmitter::ParseConfirmation;
  using CTransmitter::ParseOmDownloadChunk;
};

void ReadBackBody(FuzzBack& back, unsigned which, pugi::xml_node body) {
  std::string text;
  std::string name;
  CChunkInfo chunk;
  CInfoAttrMap messages;
  switch (which) {
    case 0: back.ParseOmGetHostID(body, text); break;
    case 1: back.ParseOmLogin(body, text); break;
    case 2: back.ParseOmGetServerRoot(body, text); break;
    case 3: back.ParseOmSystemMessage(body, messages); break;
    case 4: back.ParseOmUpload(body, text, name, chunk); break;
    case 5: back.ParseOmChunkDone(body, text, name, chunk); break;
    case 6: back.ParseOmRename(body, text); break;
    default: back.ParseOmRemove(body, text); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const FuzzInput input = SplitFuzzInput(data, size);
  CSoapAnswer answer;
  std::string error;
  if (!answer.Decode(input.rest, input.head, error)) return 0;
  std::string result;
  pugi::xml_node body;
  const unsigned which = input.selector % 12;
  if (which < 8) {
    FuzzBack back;
    if (back.ParseOmHead(answer.Payload(), result, body)) ReadBackBody(back, which, body);
  } else if (which < 11) {
    FuzzTransmitter transmitter;
    if (!transmitter.ParseOmHead(answer.Payload(), result, body)) return 0;
    CChunkInfo record;
    record.key = "0123456789abcdef0123456789abcdef";
    record.storageId = "fedcba9876543210fedcba9876543210";
    record.size = 16;
    CChunkBuffer buffer(0);
    if (which == 8) {
      transmitter.ParseOmDownloadChunk(answer, body, record, buffer);
    } else {
      transmitter.ParseConfirmation(body, which == 9 ? "upload_chunk_rsp" : "remove_chunk_rsp", record, "fuzz");
    }
  } else {
    CHeartBeat heartbeat;
    std::string news;
    heartbeat.ParseOmResponse(answer.Payload(), news);
  }
  return 0;
}
