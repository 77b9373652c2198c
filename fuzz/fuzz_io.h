// What the fuzz targets share: the in-memory ends of a stream they feed and
// drain, and for the targets that open archives from files, the scratch
// directory, the archive made from an input and the check that nothing was
// written outside the output directory.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "format/records.h"
#include "platform/stream.h"

namespace fuzz {

// Hands out `size` bytes, at most `piece` at a time.
class Source final : public acekit::platform::ByteSource {
 public:
  Source(const uint8_t* data, size_t size, uint32_t piece = 0xFFFFFFFFu)
      : data_(data), size_(size), piece_(piece) {}
  int32_t Read(void* buf, uint32_t count) override {
    const size_t n = std::min<size_t>({count, piece_, size_ - at_});
    if (n > 0) std::memcpy(buf, data_ + at_, n);
    at_ += n;
    return static_cast<int32_t>(n);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  uint32_t piece_;
  size_t at_ = 0;
};

// Keeps every byte written, so that the sanitizers see each one read.
class Sink final : public acekit::platform::ByteSink {
 public:
  int32_t Write(const void* buf, uint32_t count) override {
    const auto* p = static_cast<const uint8_t*>(buf);
    data.insert(data.end(), p, p + count);
    return static_cast<int32_t>(count);
  }
  std::vector<uint8_t> data;
};

// The scratch directory: the archive at its root, the output directory
// three levels below it.
struct Scratch {
  std::filesystem::path root;
  std::filesystem::path archive;
  std::filesystem::path out;
};

inline void Wipe(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(dir, ec))
    fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(dir, ec);
}

inline const Scratch& GetScratch() {
  // Never destroyed, so that the cleanup at exit can still read it.
  static const Scratch& scratch = *[] {
    std::string templ = (std::filesystem::temp_directory_path() / "acekit-fuzz-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) std::abort();
    const std::filesystem::path root = templ;
    std::atexit([] { Wipe(GetScratch().root); });
    return new Scratch{root, root / "a.ace", root / "d1" / "d2" / "out"};
  }();
  return scratch;
}

// The archive file an input stands for. Byte 0 chooses its form:
//   bit 0 clear: the remaining bytes are the archive file as they are;
//   bit 0 set:   a valid main header (solid when bit 1 is set) comes first,
//                and the remaining bytes follow with the checksum of their
//                first header made to fit, so that inputs reach the entry
//                walk and the decoder without having to guess checksums.
inline std::string MakeArchive(const uint8_t* data, size_t size) {
  const uint8_t mode = data[0];
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((mode & 1) == 0) return bytes;
  if (bytes.size() >= acekit::format::kFrameSize) {
    auto* h = reinterpret_cast<uint8_t*>(bytes.data());
    h[4] = acekit::format::kHeadFile;
    const uint32_t head_size = acekit::format::Get16(h + 2);
    if (head_size <= bytes.size() - 4)
      acekit::format::Put16(h, acekit::format::HeaderCrc(h + 4, head_size));
  }
  uint8_t main[acekit::format::kMainHeaderBytes];
  acekit::format::BuildMainHeader(main, nullptr, 0, (mode & 2) ? acekit::format::kMainFlagSolid : 0,
                                  0x286373C5);
  return std::string(reinterpret_cast<const char*>(main), sizeof main) + bytes;
}

// Everything below the root other than the archive and the output
// directory's own chain must lie inside the output directory; `also`, when
// given, sees every path and aborts on what else a target forbids.
inline void CheckNothingEscaped(
    const Scratch& s, const std::function<void(const std::filesystem::path&)>& also = {}) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path chain[] = {s.archive, s.root / "d1", s.root / "d1" / "d2", s.out};
  for (auto it = fs::recursive_directory_iterator(s.root, ec); it != fs::end(it);
       it.increment(ec)) {
    const fs::path& p = it->path();
    bool known = false;
    for (const fs::path& c : chain) known |= p == c;
    // A name such as "..,." is a legal file inside the directory, so only
    // a leading ".." component counts as an escape.
    const fs::path rel = fs::relative(p, s.out, ec);
    const bool escaped = rel.empty() || *rel.begin() == "..";
    if (!known && escaped) {
      std::fprintf(stderr, "written outside the output directory: %s\n", p.c_str());
      std::abort();
    }
    if (also) also(p);
  }
}

}  // namespace fuzz
