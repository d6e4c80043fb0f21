// The service's handling of one SOAP request as its endpoint receives it:
// the body (plain SOAP or MTOM) and its content type decoded, the sender
// checked, the operation run on a real data folder (FuzzAccount.h), the
// answer encoded. Malformed input must get a reason, never a crash.
//   input: a selector byte (back server, transmitter, heartbeat), the
//   content type, "\n", the body
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzAccount.h"
#include "fuzz/FuzzInput.h"
#include "service/BackHandlers.h"
#include "service/Chunks.h"
#include "service/SoapEndpoint.h"
#include "service/TransmitterHandlers.h"
#include "service/Tree.h"
#include "service/Uploads.h"

namespace {

// The service's state and endpoints, wired as the service wires them.
struct Endpoints {
  explicit Endpoints(const FuzzAccount& account)
      : options(Options(account)),
        chunks(db, ChunkFolder(options.dataFolder)),
        accounts(db),
        tree(db, accounts, chunks),
        uploads(db, tree, chunks),
        parts{options, accounts, tree, chunks, uploads},
        back(accounts, BackOperations(parts)),
        transmitter(accounts, TransmitterOperations(parts)),
        heartbeat(accounts, HeartbeatOperations(parts)) {
    std::string error;
    if (!db.Open(DatabasePath(options.dataFolder), false, error) || !chunks.Prepare(error)) std::abort();
  }
  static ServiceOptions Options(const FuzzAccount& account) {
    ServiceOptions options;
    options.dataFolder = account.folder();
    options.compressThreshold = 2;  // small listings travel compressed too
    return options;
  }

  ServiceOptions options;
  CServiceDb db;
  CChunkStore chunks;
  CAccounts accounts;
  CTree tree;
  CUploads uploads;
  ServiceParts parts;
  CSoapEndpoint back;
  CSoapEndpoint transmitter;
  CSoapEndpoint heartbeat;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const FuzzAccount account;
  static Endpoints endpoints(account);
  const FuzzInput input = SplitFuzzInput(data, size);
  const CSoapEndpoint& endpoint = input.selector % 3 == 0   ? endpoints.back
                                  : input.selector % 3 == 1 ? endpoints.transmitter
                                                            : endpoints.heartbeat;
  RequestNote note;
  endpoint.Serve(account.Fill(input.rest), input.head, note);
  return 0;
}
