#pragma once
// The state every request handler works on.
#include "service/Accounts.h"
#include "service/Chunks.h"
#include "service/ServiceOptions.h"
#include "service/Tree.h"
#include "service/Uploads.h"

struct ServiceParts {
  const ServiceOptions& options;
  CAccounts& accounts;
  CTree& tree;
  CChunkStore& chunks;
  CUploads& uploads;
};

// The user a SOAP request was authenticated as, and the host it came from.
struct Caller {
  UserRecord user;
  std::string hostId;
};
