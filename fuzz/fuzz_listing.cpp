// The client's reading of the service's listings: file_list (plain, or
// zlib-compressed Base64 with an announced length), download_all_file and
// download_specific_file bodies, each entry's names, numbers and chunk lists.
//   input: a selector byte, then the body element as XML text
#include <cstddef>
#include <cstdint>

#include <pugixml.hpp>

#include "protocol/Back.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  pugi::xml_document document;
  if (!document.load_buffer(data + 1, size - 1, pugi::parse_default, pugi::encoding_utf8)) return 0;
  const pugi::xml_node body = document.first_child();
  CBack back;
  std::string result;
  switch (data[0] % 3) {
    case 0: {
      CBack::FileMap files;
      back.ParseOmGetList(body, result, files);
      break;
    }
    case 1: {
      std::vector<CFileInfo> files;
      back.ParseOmDownloadAll(body, result, files);
      break;
    }
    default: {
      CFileInfo file;
      back.ParseOmDownload(body, result, file);
      break;
    }
  }
  return 0;
}
