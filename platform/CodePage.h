#pragma once
// The "local code page": the encoding of the text the program holds in memory
// (file names, user names, messages). It is the character set of the user's
// locale (LC_CTYPE from the environment), or UTF-8 when that is plain ASCII.
#include <string>

namespace platform {

// An iconv encoding name such as "UTF-8" or "GBK".
std::string LocalCodePage();

// True when the local code page is UTF-8 (conversions to and from UTF-8 are
// then copies).
bool LocalCodePageIsUtf8();

// Overrides the locale's code page (tests use "GBK"); an empty name restores it.
void SetLocalCodePage(const std::string& name);

}  // namespace platform
