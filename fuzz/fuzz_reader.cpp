// Feeds arbitrary bytes to the handle-based reader as an archive file: every
// entry is listed and read, then a second reader extracts the whole archive
// into a directory three levels below a scratch root. After every input the
// root must hold nothing but the archive and what landed inside that
// directory, and nothing the reader reports may be inconsistent.
//
// Byte 0 chooses the form of the archive (fuzz_io.h, MakeArchive).
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

#include "acekit/acekit.h"
#include "fuzz_io.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kOutputLimit = 1 << 20;

// The last parts of the entries' names: a file the archive itself names
// ".acekit-..." is not a leftover.
std::set<std::string> g_names;

// A temporary file the reader left behind, unless the archive itself named
// a file so.
void CheckNoTemporary(const fs::path& p) {
  // Temporaries are files; a folder of that name comes from a directory
  // entry's path, whose parts the extraction cleans of control characters.
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(p, ec))) return;
  const std::string base = p.filename().string();
  if (base.rfind(".acekit-", 0) == 0 && g_names.count(base) == 0) {
    std::fprintf(stderr, "temporary file left behind: %s\n", p.c_str());
    std::abort();
  }
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
  const fuzz::Scratch& s = fuzz::GetScratch();
  g_names.clear();
  const std::string archive = fuzz::MakeArchive(data, size);
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

  fuzz::CheckNothingEscaped(s, CheckNoTemporary);
  fuzz::Wipe(s.root / "d1");
  return 0;
}
