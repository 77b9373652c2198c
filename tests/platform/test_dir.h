// A temporary directory per test under the system temp directory, removed
// afterwards (read-only marks are lifted first). Library paths are built with
// `\` as the contract has them; Native() gives the form the test's own file
// checks understand on this system.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/platform.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef CharToOem
#undef OemToChar
#undef CharUpper
#endif

namespace acekit::platform::testing {

namespace fs = std::filesystem;

// Windows refuses to write, truncate or delete a read-only file and to set
// times through a handle opened for reading; the posix backend does the same
// on purpose. Wine (as root, as CI runs it) lets these through, so the tests
// of those refusals are skipped there.
inline bool SystemEnforcesWindowsRights() {
#if defined(_WIN32)
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr;
#else
  return true;
#endif
}

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DisarmFaults();
    const fs::path base = fs::temp_directory_path();
    static unsigned counter = 0;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
      const fs::path candidate =
          base / ("acekit_platform_" + std::to_string(stamp) + "_" + std::to_string(counter++));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) {
        native_ = candidate;
        break;
      }
    }
    ASSERT_FALSE(native_.empty()) << "no temporary directory under " << base;
    dir_ = native_.string();
  }

  void TearDown() override {
    DisarmFaults();
    if (native_.empty()) return;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(native_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code ignored;
      fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(native_, ec);
  }

  // The library path of name inside the test directory.
  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

  static fs::path Native(const std::string& library_path) {
#if defined(_WIN32)
    return fs::path(library_path);
#else
    std::string s = library_path;
    for (char& c : s) {
      if (c == '\\') c = '/';
    }
    return fs::path(s);
#endif
  }

  // Creates name with the given content through the platform layer.
  void MakeFile(const std::string& name, const std::string& content = "") {
    const Handle h = Open(Path(name).c_str(), 'w');
    ASSERT_NE(h, kBadHandle) << name;
    if (!content.empty()) {
      ASSERT_EQ(Write(content.data(), static_cast<uint32_t>(content.size()), h),
                static_cast<int32_t>(content.size()));
    }
    ASSERT_EQ(Close(h), 1);
  }

  // The whole content of name, read through the platform layer.
  std::string ReadAll(const std::string& name) {
    std::string out;
    const Handle h = Open(Path(name).c_str(), 'r');
    if (h == kBadHandle) return "<missing>";
    char buf[256];
    int32_t n;
    while ((n = Read(buf, sizeof(buf), h)) > 0) out.append(buf, static_cast<size_t>(n));
    Close(h);
    return out;
  }

  fs::path native_;
  std::string dir_;
};

}  // namespace acekit::platform::testing
