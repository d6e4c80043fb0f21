// Test entry point: every test program runs with HOME and the XDG folders in a
// temporary folder of its own, never in the real home.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  TempDir home;
  setenv("HOME", home.path().c_str(), 1);
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"}) {
    const std::string folder = home / name;
    std::filesystem::create_directory(folder);
    setenv(name, folder.c_str(), 1);
  }
  return RUN_ALL_TESTS();
}
