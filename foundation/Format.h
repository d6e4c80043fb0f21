#pragma once
// printf-style formatting into a std::string, for log lines and SQL texts
// whose exact wording is fixed.
#include <cstdarg>
#include <string>

std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StrFormatV(const char* format, va_list args);
