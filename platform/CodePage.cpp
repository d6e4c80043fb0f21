#include "platform/CodePage.h"

#include <langinfo.h>
#include <locale.h>
#include <strings.h>

#include <mutex>

namespace platform {
namespace {

std::mutex codePageMutex;
std::string overridden;  // guarded by codePageMutex

// Reads the environment's LC_CTYPE without touching the process-wide locale.
std::string LocaleCodeSet() {
  std::string codeset = "UTF-8";
  if (locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0))) {
    const char* name = nl_langinfo_l(CODESET, loc);
    if (name && *name) codeset = name;
    freelocale(loc);
  }
  if (codeset == "ANSI_X3.4-1968" || strcasecmp(codeset.c_str(), "ASCII") == 0) codeset = "UTF-8";
  return codeset;
}

bool IsUtf8Name(const std::string& name) {
  return strcasecmp(name.c_str(), "UTF-8") == 0 || strcasecmp(name.c_str(), "UTF8") == 0;
}

}  // namespace

std::string LocalCodePage() {
  static const std::string fromLocale = LocaleCodeSet();
  std::lock_guard<std::mutex> lock(codePageMutex);
  return overridden.empty() ? fromLocale : overridden;
}

bool LocalCodePageIsUtf8() { return IsUtf8Name(LocalCodePage()); }

void SetLocalCodePage(const std::string& name) {
  std::lock_guard<std::mutex> lock(codePageMutex);
  overridden = name;
}

}  // namespace platform
