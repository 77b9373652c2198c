// A scratch directory per test and the helpers every layer's tests share:
// the library's form of a path (`\` between parts), the temporary-directory
// variables pointed somewhere a test can watch, and generated file contents.
#pragma once

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace acekit::testing {

namespace fs = std::filesystem;

inline std::string LibPath(const fs::path& p) {
  std::string s = p.string();
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

inline void SetEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnv(const char* name) {
#if defined(_WIN32)
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}

// Points the system temporary directory at `dir` for one scope, so that a
// test can see every working directory an operation makes.
class ScopedTempEnv {
 public:
  explicit ScopedTempEnv(const std::string& dir) {
    for (size_t i = 0; i < kNames.size(); ++i) {
      const char* old = std::getenv(kNames[i]);
      had_[i] = old != nullptr;
      if (old != nullptr) old_[i] = old;
      SetEnv(kNames[i], dir);
    }
  }
  ~ScopedTempEnv() {
    for (size_t i = 0; i < kNames.size(); ++i) {
      if (had_[i]) {
        SetEnv(kNames[i], old_[i]);
      } else {
        UnsetEnv(kNames[i]);
      }
    }
  }
  ScopedTempEnv(const ScopedTempEnv&) = delete;
  ScopedTempEnv& operator=(const ScopedTempEnv&) = delete;

 private:
  static constexpr std::array<const char*, 3> kNames = {"TMPDIR", "TMP", "TEMP"};
  std::array<bool, 3> had_{};
  std::array<std::string, 3> old_;
};

// A fresh directory under the system temporary directory, removed with
// everything in it (read-only marks are lifted first). Files are named
// relative to it, with either separator.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    const fs::path base = fs::temp_directory_path();
    for (;;) {
      root_ = base / ("acekit" + std::to_string(rd() % 100000000));
      if (fs::create_directory(root_)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto& e : fs::recursive_directory_iterator(root_, ec)) {
      fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  fs::path Native(std::string_view rel = {}) const {
    std::string r(rel);
    std::replace(r.begin(), r.end(), '\\', '/');
    return r.empty() ? root_ : root_ / r;
  }
  // The library's form, with a trailing separator for the directory itself.
  std::string Lib(std::string_view rel = {}) const {
    return rel.empty() ? LibPath(root_) + "\\" : LibPath(Native(rel));
  }

  void Write(std::string_view rel, std::string_view bytes) const {
    const fs::path p = Native(rel);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
  }
  std::string Read(std::string_view rel) const {
    std::ifstream in(Native(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Exists(std::string_view rel) const { return fs::exists(Native(rel)); }
  void MakeDir(std::string_view rel) const { fs::create_directories(Native(rel)); }

  // Names directly in `rel`, sorted.
  std::vector<std::string> List(std::string_view rel = {}) const {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(Native(rel)))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Everything below `rel`, relative and sorted, directories ending in '/'.
  std::vector<std::string> Tree(std::string_view rel = {}) const {
    const fs::path root = Native(rel);
    std::vector<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(root)) {
      out.push_back(fs::relative(e.path(), root).generic_string() + (e.is_directory() ? "/" : ""));
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  // The same with every file's bytes; a directory holds "/", and a missing
  // `rel` gives nothing.
  std::map<std::string, std::string> Contents(std::string_view rel = {}) const {
    std::map<std::string, std::string> out;
    if (!Exists(rel)) return out;
    for (const std::string& name : Tree(rel)) {
      out[name.ends_with('/') ? name.substr(0, name.size() - 1) : name] =
          name.ends_with('/') ? "/" : Read(std::string(rel) + "/" + name);
    }
    return out;
  }

 private:
  fs::path root_;
};

// Bytes that compress well, and bytes that do not.
inline std::string TextBytes(size_t n, unsigned seed = 1) {
  static const char* const kWords[] = {"alpha ",   "beta ",    "gamma ",  "delta\n",
                                       "epsilon ", "archive ", "window ", "match "};
  std::string s;
  std::mt19937 rng(seed);
  while (s.size() < n) s += kWords[rng() % 8];
  s.resize(n);
  return s;
}
inline std::string RandomBytes(size_t n, unsigned seed = 7) {
  std::string s(n, '\0');
  std::mt19937 rng(seed);
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

}  // namespace acekit::testing
