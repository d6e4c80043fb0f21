#pragma once
// The back server's operations: the account (obtain_host_id, login,
// obtain_root_folder, system_message), the listings (download_all_file,
// download_specific_file, file_list) and the file changes (upload_file,
// chunk_uploaded, rename, remove).
#include <vector>

#include "service/ServiceParts.h"
#include "service/SoapEndpoint.h"

std::vector<SoapOperation> BackOperations(ServiceParts& parts);

// Per concern (BackAccount.cpp, BackListing.cpp, BackChanges.cpp).
void AddAccountOperations(ServiceParts& parts, std::vector<SoapOperation>& operations);
void AddListingOperations(ServiceParts& parts, std::vector<SoapOperation>& operations);
void AddChangeOperations(ServiceParts& parts, std::vector<SoapOperation>& operations);

// A numeric attribute that must be present and decimal.
bool ReadNumber(pugi::xml_node node, const char* name, int64_t& value);
// Resolves the path attribute `name` of the request body for the caller;
// on failure the reply fails with the reason and false is returned.
bool ResolvePath(ServiceParts& parts, const Viewer& viewer, const SoapCall& call, const char* name,
                 Location& location, CSoapReply& reply);
