// Feeds arbitrary bytes to the library as an archive file, the way a host
// opens, lists, tests and extracts one. Extraction goes into a directory
// three levels below a scratch root; after every input the root must hold
// nothing but the archive and what landed inside that directory.
//
// Byte 0 chooses the form of the archive:
//   bit 0 clear: the remaining bytes are the archive file as they are;
//   bit 0 set:   a valid main header (solid when bit 1 is set) comes first,
//                and the remaining bytes follow with the checksum of their
//                first header made to fit, so that inputs reach the entry
//                walk and the decoder without having to guess checksums;
//   bit 2:       extraction keeps the stored directories.
//
// The host stops any single call once it has seen 1 MB of decoded output:
// a tiny stream may legally declare gigabytes of data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "exports.h"
#include "format/records.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kOutputLimit = 1 << 20;

struct Scratch {
  fs::path root;
  fs::path archive;
  fs::path out;
  std::string archive_lib;
  std::string out_lib;
};

std::string LibPath(const fs::path& p) {
  std::string s = p.string();
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

void Wipe(const fs::path& dir) {
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(dir, ec))
    fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(dir, ec);
}

const Scratch& GetScratch() {
  // Never destroyed, so that the cleanup at exit can still read it.
  static const Scratch& scratch = *[] {
    std::string templ = (fs::temp_directory_path() / "acekit-fuzz-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) std::abort();
    const fs::path root = templ;
    std::atexit([] { Wipe(GetScratch().root); });
    return new Scratch{root, root / "a.ace", root / "d1" / "d2" / "out", LibPath(root / "a.ace"),
                       LibPath(root / "d1" / "d2" / "out") + "\\"};
  }();
  return scratch;
}

int64_t g_output = 0;

int32_t ACEKIT_CALL Progress(ArcContext, int32_t, int32_t bytes) {
  g_output += bytes;
  return g_output < kOutputLimit ? 1 : 0;
}

// Everything below the root other than the archive and the output
// directory's own chain must lie inside the output directory.
void CheckNothingEscaped(const Scratch& s) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Scratch& s = GetScratch();
  const std::string archive = MakeArchive(data, size);
  std::ofstream(s.archive, std::ios::binary | std::ios::trunc)
      .write(archive.data(), static_cast<std::streamsize>(archive.size()));
  fs::create_directories(s.out);

  InitArcFile(s.archive_lib.c_str());
  if (GetArchiveStatus() == 0) {
    SetSetProgressProc(0, Progress);
    SetOutputPath(s.out_lib.c_str());
    if ((data[0] & 4) != 0) arOptionsOn(0x0001);

    FileMaskList masks;
    InitFileMaskList(&masks);
    ArcFileList list;
    InitArcFileList(&list);
    BuildArcFileList(&list, &masks);
    DoneArcFileList(&list);

    g_output = 0;
    TestArc();
    g_output = 0;
    ExtractFileMaskListArc(&masks);
    DoneFileMaskList(&masks);
  }
  DoneArcFile();

  CheckNothingEscaped(s);
  Wipe(s.root / "d1");
  return 0;
}
