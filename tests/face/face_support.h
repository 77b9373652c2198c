// Writing archives from memory and reading them back whole through the
// handle-based interface, for its tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "acekit/acekit.h"
#include "common/temp_dir.h"

namespace acekit::testing {

constexpr int64_t kTime = 1262401444;  // 2010-01-02 03:04:04 UTC, even seconds

struct Got {
  std::string data;
  acekit_entry entry{};
  std::string name, comment;
};

inline int Collect(void* ctx, const void* data, size_t n) {
  static_cast<std::string*>(ctx)->append(static_cast<const char*>(data), n);
  return 0;
}

// Every entry with its data, in archive order.
inline std::vector<Got> ReadAll(const std::string& path, std::string* main_comment = nullptr) {
  acekit_reader* r = nullptr;
  EXPECT_EQ(acekit_reader_open(&r, path.c_str()), 0) << acekit_last_error(nullptr);
  std::vector<Got> out;
  if (r == nullptr) return out;
  if (main_comment != nullptr) {
    const char* c = acekit_reader_comment(r);
    *main_comment = c != nullptr ? c : "";
  }
  acekit_entry e;
  int rc;
  while ((rc = acekit_reader_next(r, &e)) == 1) {
    Got g;
    g.entry = e;
    g.name = e.name;
    g.comment = e.comment != nullptr ? e.comment : "";
    EXPECT_EQ(acekit_reader_read(r, Collect, &g.data), 0) << acekit_last_error(r);
    out.push_back(g);
  }
  EXPECT_EQ(rc, 0) << acekit_last_error(r);
  acekit_reader_close(r);
  return out;
}

using Files = std::vector<std::pair<std::string, std::string>>;

// Writes the entries from memory, all stamped kTime; returns the path.
inline std::string WriteMemory(const TempDir& dir, const char* name, const Files& files,
                               const acekit_options* o = nullptr) {
  const std::string path = dir.Native(name).string();
  acekit_writer* w = nullptr;
  EXPECT_EQ(acekit_writer_create(&w, path.c_str(), o), 0) << acekit_last_error(nullptr);
  if (w == nullptr) return path;
  for (const auto& [n, data] : files) {
    EXPECT_EQ(acekit_writer_add_memory(w, n.c_str(), data.data(), data.size(), kTime, 0), 0)
        << acekit_last_error(w);
  }
  EXPECT_EQ(acekit_writer_finish(w), 0) << acekit_last_error(nullptr);
  return path;
}

}  // namespace acekit::testing
