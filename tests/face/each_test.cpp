// One run over an archive with events: the same events and files at any
// thread count, damage that ends nothing but its own entry (or its solid
// stream), and the questions about files already there.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "acekit/acekit.h"
#include "common/temp_dir.h"

namespace {

using acekit::testing::RandomBytes;
using acekit::testing::TempDir;
using acekit::testing::TextBytes;
namespace fs = std::filesystem;

// Files of every size class the workers handle (a streamed one above 1 MB,
// a stored one that starts a fresh solid stream) and a directory.
std::map<std::string, std::string> Files() {
  std::map<std::string, std::string> f;
  for (int i = 0; i < 10; ++i) f["d/f" + std::to_string(i) + ".txt"] = TextBytes(3000 + 700 * i, i);
  f["big.txt"] = TextBytes(1500000, 99);
  f["y.txt"] = RandomBytes(5000, 3);
  f["z.txt"] = TextBytes(4000, 42);
  return f;
}

std::string Make(const TempDir& dir, const char* name, bool solid) {
  const std::string path = dir.Native(name).string();
  acekit_options o{};
  o.solid = solid ? 1 : 0;
  acekit_writer* w = nullptr;
  EXPECT_EQ(acekit_writer_create(&w, path.c_str(), &o), 0);
  EXPECT_EQ(acekit_writer_add_directory(w, "d", 1262401444), 0);
  for (const auto& [n, data] : Files()) {
    EXPECT_EQ(acekit_writer_add_memory(w, n.c_str(), data.data(), data.size(), 1262401444, 0), 0);
  }
  EXPECT_EQ(acekit_writer_finish(w), 0);
  return path;
}

// A byte of the data of `entry` changed (`skip` bytes past its name).
void Damage(TempDir& dir, const char* name, const std::string& entry, size_t skip = 60) {
  std::string bytes = dir.Read(name);
  const size_t at = bytes.find(entry);
  ASSERT_NE(at, std::string::npos) << entry;
  bytes[at + entry.size() + skip] ^= 0x55;
  dir.Write(name, bytes);
}

struct Log {
  std::vector<std::string> lines;
  int answer = ACEKIT_REPLACE;
  std::string take;  // select only names starting so ("": all)
};

int Record(void* ctx, const acekit_event* ev) {
  auto* log = static_cast<Log*>(ctx);
  static const char* const kinds[] = {"",     "select",  "start", "exists",
                                      "done", "damaged", "lost",  "failed"};
  std::string line = std::string(kinds[ev->kind]) + " " + ev->entry->name;
  if (ev->error != 0) line += " " + std::to_string(ev->error);
  log->lines.push_back(line);
  if (ev->kind == ACEKIT_EVENT_SELECT) return std::string(ev->entry->name).rfind(log->take, 0) == 0;
  return ev->kind == ACEKIT_EVENT_EXISTS ? log->answer : 0;
}

int Each(const std::string& archive, const std::string& out, unsigned flags, int threads,
         Log* log) {
  acekit_reader* r = nullptr;
  EXPECT_EQ(acekit_reader_open(&r, archive.c_str()), 0);
  if (r == nullptr) return ACEKIT_E_INVALID;
  EXPECT_EQ(acekit_reader_set_threads(r, threads), 0);
  const int rc = acekit_reader_extract_each(r, out.c_str(), flags, Record, log);
  acekit_reader_close(r);
  return rc;
}

size_t Count(const Log& log, const std::string& prefix) {
  size_t n = 0;
  for (const std::string& l : log.lines) n += l.rfind(prefix, 0) == 0;
  return n;
}

TEST(FaceEach, SameEventsAndFilesAtEveryThreadCount) {
  for (const bool solid : {false, true}) {
    SCOPED_TRACE(solid ? "solid" : "normal");
    TempDir dir;
    Make(dir, "a.ace", solid);
    Damage(dir, "a.ace", "d\\f2.txt");
    if (!solid) Damage(dir, "a.ace", "big.txt", 5000);
    const std::string archive = dir.Native("a.ace").string();
    Log one, two;
    const int rc1 = Each(archive, dir.Native("o1").string(), 0, 1, &one);
    const int rc2 = Each(archive, dir.Native("o2").string(), 0, 2, &two);
    EXPECT_EQ(rc1, rc2);
    EXPECT_EQ(one.lines, two.lines);
    EXPECT_EQ(dir.Contents("o1"), dir.Contents("o2"));

    EXPECT_EQ(Count(one, "damaged d/f2.txt"), 1u);
    const auto files = Files();
    const auto got = dir.Contents("o1");
    for (const auto& [name, data] : files) {
      const bool gone =
          name == "d/f2.txt" || (!solid && name == "big.txt") || Count(one, "lost " + name) == 1;
      EXPECT_EQ(got.count(name), gone ? 0u : 1u) << name;
      if (!gone && got.count(name) != 0) {
        EXPECT_EQ(got.at(name), data) << name;
      }
    }
    if (solid) {
      // The rest of f2's stream is lost up to the stored file, which starts
      // a fresh one (y.txt); what follows it comes out.
      EXPECT_EQ(Count(one, "lost d/f3.txt"), 1u);
      EXPECT_EQ(got.count("z.txt"), 1u);
    } else {
      EXPECT_EQ(Count(one, "lost"), 0u);
      EXPECT_EQ(Count(one, "damaged"), 2u);
    }
    EXPECT_EQ(rc1, static_cast<int>(Count(one, "done")));
    EXPECT_EQ(Count(one, "start"), Count(one, "done") + Count(one, "damaged"));
  }
}

// The workers start on the entries while the walk still reads headers, so
// a selection that ends a solid run's list early or takes nothing, one that
// leaves out a normal archive's first entries, and a damaged stream must
// still give what one thread gives.
TEST(FaceEach, DecodingDuringTheWalkChangesNothing) {
  for (const bool solid : {false, true}) {
    for (const bool damaged : {false, true}) {
      TempDir dir;
      Make(dir, "a.ace", solid);
      if (damaged) Damage(dir, "a.ace", "d\\f4.txt");
      const std::string archive = dir.Native("a.ace").string();
      for (const char* take : {"", "d/", "big", "z", "none"}) {
        for (const unsigned flags : {0u, static_cast<unsigned>(ACEKIT_EACH_TEST)}) {
          SCOPED_TRACE(std::string(solid ? "solid" : "normal") + (damaged ? " damaged" : "") +
                       " take '" + take + "' flags " + std::to_string(flags));
          Log one;
          one.take = take;
          const std::string out1 = "o1" + std::string(take) + std::to_string(flags);
          const int rc1 = Each(archive, dir.Native(out1).string(), flags, 1, &one);
          for (const int threads : {2, 7}) {
            Log more;
            more.take = take;
            const std::string out = out1 + "-" + std::to_string(threads);
            EXPECT_EQ(Each(archive, dir.Native(out).string(), flags, threads, &more), rc1);
            EXPECT_EQ(more.lines, one.lines) << threads;
            if (flags == 0) {
              EXPECT_EQ(dir.Contents(out), dir.Contents(out1)) << threads;
            }
          }
        }
      }
    }
  }
}

TEST(FaceEach, TestFlatAndSelection) {
  TempDir dir;
  const std::string archive = Make(dir, "a.ace", false);
  const size_t files = Files().size();
  Log test;
  EXPECT_EQ(Each(archive, "", ACEKIT_EACH_TEST, 2, &test), static_cast<int>(files));
  EXPECT_FALSE(fs::exists(dir.Native("d")));

  Log flat;
  flat.take = "d/";
  EXPECT_EQ(Each(archive, dir.Native("flat").string(), ACEKIT_EACH_FLAT, 2, &flat), 10);
  EXPECT_EQ(Count(flat, "select d "), 0u);  // directories are not even offered
  const auto got = dir.Contents("flat");
  EXPECT_EQ(got.size(), 10u);
  EXPECT_EQ(got.at("f3.txt"), Files().at("d/f3.txt"));
}

TEST(FaceEach, FilesThereAlreadyAreAskedAbout) {
  TempDir dir;
  const std::string archive = Make(dir, "a.ace", false);
  const std::string out = dir.Native("out").string();
  Log first;
  ASSERT_GT(Each(archive, out, 0, 2, &first), 0);
  dir.Write("out/z.txt", "mine");

  Log keep;
  keep.answer = ACEKIT_KEEP;
  EXPECT_EQ(Each(archive, out, 0, 2, &keep), 1);  // only the directory
  EXPECT_EQ(Count(keep, "exists"), Files().size());
  EXPECT_EQ(dir.Read("out/z.txt"), "mine");

  Log stop;
  stop.answer = ACEKIT_STOP;
  EXPECT_EQ(Each(archive, out, 0, 2, &stop), ACEKIT_E_CANCELLED);
  EXPECT_EQ(Count(stop, "exists"), 1u);

  Log replace;
  EXPECT_EQ(Each(archive, out, 0, 1, &replace), static_cast<int>(Files().size()) + 1);
  EXPECT_EQ(dir.Read("out/z.txt"), Files().at("z.txt"));
}

}  // namespace
