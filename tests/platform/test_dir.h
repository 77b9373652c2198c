// A scratch directory per test, with files made and read through the
// platform layer itself. Library paths are built with `\` as the contract has
// them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/temp_dir.h"
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
  void SetUp() override { DisarmFaults(); }
  void TearDown() override { DisarmFaults(); }

  // The library path of name inside the test directory.
  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

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

  acekit::testing::TempDir tmp_;
  const fs::path native_ = tmp_.Native();
  const std::string dir_ = native_.string();
};

}  // namespace acekit::platform::testing
