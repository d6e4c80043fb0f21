#pragma once
// The MD5 of some bytes as the utilities write it: lower-case digits, unless
// a login without an authentication server switched the process to upper case.
#include <string>

#include "foundation/Util.h"

inline std::string Md5Text(const std::string& bytes) {
  std::string key;
  CUtil::Md5Hex(bytes.data(), bytes.size(), key);
  return key;
}
