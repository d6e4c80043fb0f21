#pragma once
// Character-set conversion on iconv, and the decoding of the numeric character
// references ("&#x4E2D;") in which the service sends non-ASCII characters.
#include <cstddef>
#include <string>

#include <iconv.h>

// One iconv conversion descriptor for a pair of encodings.
class CCharsetConverter {
 public:
  CCharsetConverter() = default;
  ~CCharsetConverter() { Close(); }
  CCharsetConverter(const CCharsetConverter&) = delete;
  CCharsetConverter& operator=(const CCharsetConverter&) = delete;

  // False when iconv does not know the pair.
  bool Open(const char* from, const char* to);
  // Zero-fills `out`, then converts all of `in` into it. Returns the number of
  // bytes written, or -1 when the input is invalid or incomplete, holds a
  // character the target cannot represent, or the output does not fit.
  int Convert(const char* in, std::size_t inLength, char* out, std::size_t outLength);
  void Close();

 private:
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

// Converts `in` from one encoding to another. Strict: false, with `out`
// unspecified, when any character is invalid or cannot be represented.
bool ConvertStrict(const char* from, const char* to, const std::string& in, std::string& out);

// Converts `in`, writing "?" for each character that is invalid or cannot be
// represented in the target (as the system conversions of the original
// platform do).
std::string ConvertLossy(const char* from, const char* to, const std::string& in);

// Decodes the references in the NUL-terminated `text` into `out`, which must
// hold strlen(text) + 1 bytes: decoding never makes a text longer.
//   "&#" + any char + 4 hex digits + ";"  -> that UCS-2 character in the local code page
//   "&#" + any char + 2 hex digits + ";"  -> that Latin-1 character in the local code page
// A reference whose digits are not hexadecimal, or whose character is U+0000,
// a surrogate or not representable in the local code page, is copied as is.
// Returns 0, or -1 (nothing written) when either pointer is null.
int DecodeCharRefs(char* out, const char* text);
