#pragma once
// The transmitter's operations: upload_chunk (whole chunks verified against
// their MD5; deltas rebuilt from the old chunks they name, then verified),
// download_chunk (the bytes as an MTOM attachment) and remove_chunk (the
// chunk goes once nothing names it). Every answer echoes req_sequence.
#include <vector>

#include "service/ServiceParts.h"
#include "service/SoapEndpoint.h"

std::vector<SoapOperation> TransmitterOperations(ServiceParts& parts);
// The heartbeat: new_event "yes" once after the account changed through
// another host or the administrator.
std::vector<SoapOperation> HeartbeatOperations(ServiceParts& parts);
