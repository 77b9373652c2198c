// Feeds arbitrary bytes to the library as an archive file, the way a host
// opens, lists, tests and extracts one. Extraction goes into a directory
// three levels below a scratch root; after every input the root must hold
// nothing but the archive and what landed inside that directory.
//
// Byte 0 chooses the form of the archive (fuzz_io.h, MakeArchive); its
// bit 2 makes extraction keep the stored directories.
//
// The host stops any single call once it has seen 1 MB of decoded output:
// a tiny stream may legally declare gigabytes of data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "exports.h"
#include "fuzz_io.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kOutputLimit = 1 << 20;

std::string LibPath(const fs::path& p) {
  std::string s = p.string();
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

int64_t g_output = 0;

int32_t ACEKIT_CALL Progress(ArcContext, int32_t, int32_t bytes) {
  g_output += bytes;
  return g_output < kOutputLimit ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const fuzz::Scratch& s = fuzz::GetScratch();
  // Never destroyed, as the scratch directory.
  static const std::string& archive_lib = *new std::string(LibPath(s.archive));
  static const std::string& out_lib = *new std::string(LibPath(s.out) + "\\");
  const std::string archive = fuzz::MakeArchive(data, size);
  std::ofstream(s.archive, std::ios::binary | std::ios::trunc)
      .write(archive.data(), static_cast<std::streamsize>(archive.size()));
  fs::create_directories(s.out);

  InitArcFile(archive_lib.c_str());
  if (GetArchiveStatus() == 0) {
    SetSetProgressProc(0, Progress);
    SetOutputPath(out_lib.c_str());
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

  fuzz::CheckNothingEscaped(s);
  fuzz::Wipe(s.root / "d1");
  return 0;
}
