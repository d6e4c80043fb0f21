#pragma once
// Text at the border between the engine and Qt: the engine holds text in the
// local code page, Qt in Unicode. The shell's own texts are written in UTF-8.
#include <QString>
#include <cstddef>
#include <string>

// Local code page -> Qt.
QString Ui(const std::string& local);
// Qt -> local code page (characters it cannot hold become "?").
std::string Local(const QString& text);
// A UTF-8 literal of the shell -> local code page.
std::string LocalFromUtf8(const char* utf8);

// The longest prefix of `utf8` of at most `maxBytes` bytes that ends on a
// character boundary: for fixed-size text fields (tooltip, balloon).
std::string CutUtf8(const std::string& utf8, std::size_t maxBytes);
// Local code page -> UTF-8, cut as above.
std::string Utf8Cut(const std::string& local, std::size_t maxBytes);
