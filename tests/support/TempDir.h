#pragma once
// A fresh folder under $TMPDIR for one test, removed with everything in it.
#include <string>

class TempDir {
 public:
  // A folder named `prefix` and six random characters.
  explicit TempDir(const std::string& prefix = "vessa-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Whole content of a file ("" when it cannot be read).
std::string ReadFile(const std::string& path);
// Creates or replaces a file with `content`.
void WriteFile(const std::string& path, const std::string& content);
