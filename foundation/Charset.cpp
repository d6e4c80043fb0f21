#include "foundation/Charset.h"

#include <strings.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/CodePage.h"

namespace {

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);

// Owns one iconv descriptor for the length of a conversion.
class Descriptor {
 public:
  Descriptor(const char* from, const char* to) : cd_(iconv_open(to, from)) {}
  ~Descriptor() {
    if (ok()) iconv_close(cd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  bool ok() const { return cd_ != kNoDescriptor; }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

bool IsUtf8Name(const char* name) {
  return strcasecmp(name, "UTF-8") == 0 || strcasecmp(name, "UTF8") == 0;
}

// Length of the bytes to drop for the character iconv stopped at in UTF-8
// input: the whole sequence when it is well formed (the target cannot hold the
// character), else its longest well-formed beginning, at least one byte, so
// that one broken character gives one "?".
std::size_t Utf8SkipLength(const unsigned char* p, std::size_t left) {
  const unsigned char lead = p[0];
  std::size_t need = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 1;
  }
  std::size_t length = 1;
  for (std::size_t k = 0; k < need && length < left; ++k) {
    const unsigned char next = p[length];
    if (next < low || next > high) break;
    ++length;
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

// Bytes to drop for one unusable character of other input encodings.
std::size_t SkipLength(const char* from, const unsigned char* p, std::size_t left) {
  if (IsUtf8Name(from)) return Utf8SkipLength(p, left);
  if (strncasecmp(from, "UCS-2", 5) == 0 || strncasecmp(from, "UTF-16", 6) == 0) {
    return left >= 2 ? 2 : left;
  }
  return 1;
}

// Converts `in` through `cd`, growing `out` as needed. On a character iconv
// cannot take, `onBad` decides: it returns false to give up, or true after
// advancing past the character.
template <typename OnBad>
bool Run(iconv_t cd, const std::string& in, std::string& out, OnBad onBad) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out.assign(in.size() * 2 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  std::size_t used = 0;
  for (;;) {
    char* dst = out.data() + used;
    std::size_t dstLeft = out.size() - used;
    // Once the input is consumed, a null source writes out the shift state.
    const bool flushing = srcLeft == 0;
    const std::size_t rc = flushing ? iconv(cd, nullptr, nullptr, &dst, &dstLeft)
                                    : iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    const int error = errno;
    used = out.size() - dstLeft;
    if (rc != static_cast<std::size_t>(-1)) {
      if (flushing) break;
      continue;
    }
    if (error == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    out.resize(used);
    if (!onBad(error, src, srcLeft, out)) return false;
    used = out.size();
    out.resize(used + srcLeft * 2 + 16);
  }
  out.resize(used);
  return true;
}

// One UCS-2 unit through `cd`; false when the target has no such character.
bool Ucs2To(iconv_t cd, unsigned unit, std::string& text) {
  const char ucs2[2] = {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
  return Run(cd, std::string(ucs2, 2), text, [](int, char*&, std::size_t&, std::string&) { return false; });
}

bool ReadHex(const char* digits, int count, unsigned& value) {
  value = 0;
  for (int k = 0; k < count; ++k) {
    const char c = digits[k];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value * 16 + digit;
  }
  return true;
}

// Converters for the reference decoding, opened once per decoded text and
// only when a reference is met.
class RefDecoder {
 public:
  // The local bytes for the reference of `length` bytes (8: four digits,
  // 6: two) at `ref`; false when the reference is to be kept as it stands.
  bool Decode(const char* ref, std::size_t length, std::string& bytes) {
    unsigned unit = 0;
    const int digits = static_cast<int>(length) - 4;
    if (!ReadHex(ref + 3, digits, unit)) return false;
    if (unit == 0 || (unit >= 0xD800 && unit <= 0xDFFF)) return false;
    if (digits == 4) {
      if (!Open(toLocal_, "UCS-2BE", local()) || !Ucs2To(toLocal_->get(), unit, bytes)) return false;
    } else {
      // The short form names a Latin-1 character; it goes through UTF-8 first.
      std::string utf8;
      if (!Open(toUtf8_, "UCS-2BE", "UTF-8") || !Ucs2To(toUtf8_->get(), unit, utf8)) return false;
      if (IsUtf8Name(local())) {
        bytes = utf8;
      } else if (!ConvertStrict("UTF-8", local(), utf8, bytes)) {
        return false;
      }
    }
    // Never longer than the reference, never a NUL inside the text.
    return !bytes.empty() && bytes.size() <= length && bytes.find('\0') == std::string::npos;
  }

 private:
  const char* local() {
    if (localName_.empty()) localName_ = platform::LocalCodePage();
    return localName_.c_str();
  }
  static bool Open(std::unique_ptr<Descriptor>& d, const char* from, const char* to) {
    if (!d) d = std::make_unique<Descriptor>(from, to);
    return d->ok();
  }

  std::string localName_;
  std::unique_ptr<Descriptor> toLocal_;
  std::unique_ptr<Descriptor> toUtf8_;
};

}  // namespace

bool CCharsetConverter::Open(const char* from, const char* to) {
  Close();
  if (!from || !to) return false;
  cd_ = iconv_open(to, from);
  return cd_ != kNoDescriptor;
}

int CCharsetConverter::Convert(const char* in, std::size_t inLength, char* out, std::size_t outLength) {
  if (out && outLength) std::memset(out, 0, outLength);
  if (cd_ == kNoDescriptor || (!in && inLength) || (!out && outLength)) return -1;
  iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  char* src = const_cast<char*>(in);
  char* dst = out;
  std::size_t srcLeft = inLength;
  std::size_t dstLeft = outLength;
  if (srcLeft && iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return -1;
  if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return -1;
  return static_cast<int>(outLength - dstLeft);
}

void CCharsetConverter::Close() {
  if (cd_ != kNoDescriptor) iconv_close(cd_);
  cd_ = kNoDescriptor;
}

bool ConvertStrict(const char* from, const char* to, const std::string& in, std::string& out) {
  Descriptor cd(from, to);
  if (!cd.ok()) return false;
  return Run(cd.get(), in, out, [](int, char*&, std::size_t&, std::string&) { return false; });
}

std::string ConvertLossy(const char* from, const char* to, const std::string& in) {
  Descriptor cd(from, to);
  // An encoding iconv does not know leaves the text as it is rather than
  // losing it.
  if (!cd.ok()) return in;
  std::string question;  // "?" in the target encoding, made when first needed
  std::string out;
  Run(cd.get(), in, out, [&](int error, char*& src, std::size_t& srcLeft, std::string& text) {
    if (question.empty() && (!ConvertStrict("ASCII", to, "?", question) || question.empty())) {
      question.assign(1, '?');
    }
    text += question;
    if (error != EILSEQ) {  // an incomplete character at the end
      src += srcLeft;
      srcLeft = 0;
      return true;
    }
    const std::size_t skip = SkipLength(from, reinterpret_cast<const unsigned char*>(src), srcLeft);
    src += skip;
    srcLeft -= skip;
    return true;
  });
  return out;
}

int DecodeCharRefs(char* out, const char* text) {
  if (!out || !text) return -1;
  const std::size_t length = std::strlen(text);
  RefDecoder decoder;
  std::string bytes;
  std::size_t in = 0;
  std::size_t at = 0;
  while (in < length) {
    const char* p = text + in;
    const std::size_t left = length - in;
    bool decoded = false;
    // The long form first; when its digits do not make a character, the same
    // bytes may still start a short reference.
    for (const std::size_t form : {std::size_t{8}, std::size_t{6}}) {
      if (left >= form && p[0] == '&' && p[1] == '#' && p[form - 1] == ';' &&
          decoder.Decode(p, form, bytes)) {
        std::memcpy(out + at, bytes.data(), bytes.size());
        at += bytes.size();
        in += form;
        decoded = true;
        break;
      }
    }
    if (!decoded) out[at++] = text[in++];
  }
  out[at] = '\0';
  return 0;
}
