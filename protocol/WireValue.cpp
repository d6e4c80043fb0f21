#include "protocol/WireValue.h"

#include <charconv>
#include <cstring>
#include <limits>

#include "foundation/Util.h"

namespace {

void AppendEscaped(std::string& out, char c, bool ampersand) {
  switch (c) {
    case '&':
      out += ampersand ? "&amp;" : "&";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    // A parser turns these into blanks inside an attribute; written as
    // references they arrive as they were.
    case '\t':
      out += "&#9;";
      break;
    case '\n':
      out += "&#10;";
      break;
    case '\r':
      out += "&#13;";
      break;
    default:
      out += c;
  }
}

}  // namespace

std::string WireText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) AppendEscaped(out, c, true);
  return out;
}

std::string WirePath(const std::string& path) {
  const std::string xml = CUtil::XmlText(path);  // "&" is escaped already
  std::string out;
  out.reserve(xml.size());
  for (const char c : xml) AppendEscaped(out, c, false);
  return out;
}

std::string ReceivedPath(const char* value) {
  std::string text = value ? value : "";
  CUtil::Utf8ToAnsi(text);
  return CUtil::ChnDecode(text);
}

bool ReadDecimal(const char* text, int64_t& value) {
  const char* begin = text ? text : "";
  const char* end = begin + std::strlen(begin);
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
  if (begin == end) {
    value = 0;
    return true;
  }
  if (*begin == '+' && begin + 1 < end && begin[1] != '-') ++begin;
  int64_t number = 0;
  const auto [stop, error] = std::from_chars(begin, end, number);
  if (error != std::errc() || stop != end) return false;
  value = number;
  return true;
}

bool ReadDecimal(const char* text, int32_t& value) {
  int64_t wide = 0;
  if (!ReadDecimal(text, wide)) return false;
  if (wide < std::numeric_limits<int32_t>::min() || wide > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(wide);
  return true;
}
