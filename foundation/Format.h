#pragma once
// printf-style formatting into a std::string, for log lines and SQL texts
// whose exact wording is fixed, and the lower-case form of protocol words.
#include <cstdarg>
#include <string>
#include <string_view>

std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StrFormatV(const char* format, va_list args);

// "A"-"Z" turned into "a"-"z", whatever the locale; every other byte kept.
// For header names, hex digits and other words that compare without case.
std::string LowerAscii(std::string_view text);
