#include "shell/LocalText.h"

#include "foundation/Util.h"

QString Ui(const std::string& local) {
  std::string utf8 = local;
  CUtil::AnsiToUtf8(utf8);
  return QString::fromStdString(utf8);
}

std::string Local(const QString& text) {
  std::string bytes = text.toStdString();
  CUtil::Utf8ToAnsi(bytes);
  return bytes;
}

std::string LocalFromUtf8(const char* utf8) {
  std::string bytes = utf8 ? utf8 : "";
  CUtil::Utf8ToAnsi(bytes);
  return bytes;
}

std::string CutUtf8(const std::string& utf8, std::size_t maxBytes) {
  if (utf8.size() <= maxBytes) return utf8;
  std::size_t end = maxBytes;
  // Step back over continuation bytes (10xxxxxx) to the start of the cut character.
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
  return utf8.substr(0, end);
}

std::string Utf8Cut(const std::string& local, std::size_t maxBytes) {
  std::string utf8 = local;
  CUtil::AnsiToUtf8(utf8);
  return CutUtf8(utf8, maxBytes);
}
