#pragma once
// Values as they travel in the payloads. Requests are serialised without
// escaping (SerializePayload), so every value is stored in the tree already
// in its escaped wire form; answers are parsed by a standard XML parser, so
// their values arrive unescaped.
#include <cstdint>
#include <string>

// A text handed over unchanged, escaped for XML (&, <, >, ", and tab, line
// feed and carriage return, which attributes would otherwise lose).
std::string WireText(const std::string& text);

// A local path for a request: CUtil::XmlText (UTF-8, "&" -> "&amp;"), and
// also "<", ">", '"', tab, line feed and carriage return, which a Linux
// file name may hold.
std::string WirePath(const std::string& path);

// A path received from the service, in the local code page: UTF-8 converted,
// then the service's character references decoded (CUtil::ChnDecode).
std::string ReceivedPath(const char* value);

// A decimal number of an answer. An empty text reads as 0; anything but an
// optionally signed decimal integer in the range of T, with optional blanks
// around it, is refused (false).
bool ReadDecimal(const char* text, int64_t& value);
bool ReadDecimal(const char* text, int32_t& value);
