#pragma once
// Installs a real logger on a temporary file as the application's logger for
// the lifetime of the object, so tests can read what was logged.
#include <string>

#include "foundation/Logger.h"
#include "tests/support/TempDir.h"

class LogCapture {
 public:
  LogCapture() {
    logger_.Open(dir_ / "test.log");
    SetAppLogger(&logger_);
  }
  ~LogCapture() { SetAppLogger(nullptr); }

  std::string Text() const { return ReadFile(dir_ / "test.log"); }
  bool Contains(const std::string& fragment) const { return Text().find(fragment) != std::string::npos; }
  CLogger& logger() { return logger_; }

 private:
  TempDir dir_;
  CLogger logger_;
};
