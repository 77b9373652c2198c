// Feeds arbitrary bytes to the handle-based reader as an archive file: every
// entry is listed and read, then a second reader extracts the whole archive
// into a directory three levels below a scratch root. After every input the
// root must hold nothing but the archive and what landed inside that
// directory, and nothing the reader reports may be inconsistent.
//
// Byte 0 chooses the form of the archive, as for fuzz_archive:
//   bit 0 clear: the remaining bytes are the archive file as they are;
//   bit 0 set:   a valid main header (solid when bit 1 is set) comes first,
//                and the first header of the remaining bytes gets a
//                checksum that fits.
//
// A sink stops any single entry after 1 MB: a tiny stream may declare
// gigabytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>

#include "acekit/acekit.h"
#include "format/records.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kOutputLimit = 1 << 20;

struct Scratch {
  fs::path root;
  fs::path archive;
  fs::path out;
};

void Wipe(const fs::path& dir) {
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(dir, ec))
    fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(dir, ec);
}

const Scratch& GetScratch() {
  static const Scratch& scratch = *[] {
    std::string templ = (fs::temp_directory_path() / "acekit-fuzz-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) std::abort();
    const fs::path root = templ;
    std::atexit([] { Wipe(GetScratch().root); });
    return new Scratch{root, root / "a.ace", root / "d1" / "d2" / "out"};
  }();
  return scratch;
}

// The last parts of the entries' names: a file the archive itself names
// ".acekit-..." is not a leftover.
std::set<std::string> g_names;

void CheckNothingEscaped(const Scratch& s) {
  std::error_code ec;
  const fs::path chain[] = {s.archive, s.root / "d1", s.root / "d1" / "d2", s.out};
  for (auto it = fs::recursive_directory_iterator(s.root, ec); it != fs::end(it);
       it.increment(ec)) {
    const fs::path& p = it->path();
    bool known = false;
    for (const fs::path& c : chain) known |= p == c;
    const fs::path rel = fs::relative(p, s.out, ec);
    if (!known && (rel.empty() || *rel.begin() == "..")) {
      std::fprintf(stderr, "written outside the output directory: %s\n", p.c_str());
      std::abort();
    }
    const std::string base = p.filename().string();
    if (base.rfind(".acekit-", 0) == 0 && g_names.count(base) == 0) {
      std::fprintf(stderr, "temporary file left behind: %s\n", p.c_str());
      std::abort();
    }
  }
}

std::string MakeArchive(const uint8_t* data, size_t size) {
  const uint8_t mode = data[0];
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((mode & 1) == 0) return bytes;
  if (bytes.size() >= acekit::kFrameSize) {
    auto* h = reinterpret_cast<uint8_t*>(bytes.data());
    h[4] = acekit::kHeadFile;
    const uint32_t head_size = acekit::Get16(h + 2);
    if (head_size <= bytes.size() - 4) acekit::Put16(h, acekit::HeaderCrc(h + 4, head_size));
  }
  uint8_t main[acekit::kMainHeaderBytes];
  acekit::BuildMainHeader(main, nullptr, 0, (mode & 2) ? acekit::kMainFlagSolid : 0, 0x286373C5);
  return std::string(reinterpret_cast<const char*>(main), sizeof main) + bytes;
}

struct Count {
  size_t bytes = 0;
};

int Drain(void* ctx, const void*, size_t n) {
  auto* c = static_cast<Count*>(ctx);
  c->bytes += n;
  return c->bytes > kOutputLimit ? 1 : 0;
}

int Stop(void* ctx, int) {
  // Extraction gets the same bound through the progress callback.
  return ++*static_cast<int*>(ctx) > 2000 ? 1 : 0;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "inconsistent: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Scratch& s = GetScratch();
  g_names.clear();
  const std::string archive = MakeArchive(data, size);
  std::ofstream(s.archive, std::ios::binary | std::ios::trunc)
      .write(archive.data(), static_cast<std::streamsize>(archive.size()));
  fs::create_directories(s.out);

  acekit_reader* r = nullptr;
  if (acekit_reader_open(&r, s.archive.c_str()) == 0) {
    const char* comment = acekit_reader_comment(r);
    if (comment != nullptr) Check(std::strlen(comment) > 0, "empty main comment");
    acekit_entry e;
    int rc;
    while ((rc = acekit_reader_next(r, &e)) == 1) {
      Check(e.name != nullptr, "entry without a name");
      const std::string name = e.name;
      g_names.insert(name.substr(name.find_last_of('/') + 1));
      Count c;
      const int read = acekit_reader_read(r, Drain, &c);
      if (read == 0 && !e.is_dir) Check(c.bytes == e.size, "size differs from the data");
      if (read < 0) Check(acekit_last_error(r)[0] != '\0', "failure without a message");
    }
    Check(rc <= 0, "next returned more than 1");
    acekit_reader_close(r);
  } else {
    Check(acekit_last_error(nullptr)[0] != '\0', "failed open without a message");
  }

  if (acekit_reader_open(&r, s.archive.c_str()) == 0) {
    int calls = 0;
    acekit_reader_set_progress(r, Stop, &calls);
    acekit_reader_extract_all(r, s.out.c_str(), 0);
    acekit_reader_close(r);
  }

  CheckNothingEscaped(s);
  Wipe(s.root / "d1");
  return 0;
}
