// Extraction and testing of normal archives with worker threads: every
// thread count gives what one thread gives, in the host's view (status,
// names, progress reports, questions) and on disk, for intact and damaged
// archives and a cancel at several points.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/sanitized.h"
#include "decompress/decode_pool.h"
#include "decompress/decoder.h"
#include "decompress/stream_builder.h"
#include "ops/extract.h"
#include "ops/extract_fixture.h"
#include "platform/stream.h"

namespace acekit::extract_test {
namespace {

using acekit::testing::kSanitized;

// What one run shows: the status, the host's view and the files written.
struct Outcome {
  uint32_t status = 0;
  std::vector<std::pair<std::string, std::string>> names;
  std::vector<std::pair<int32_t, int32_t>> progress;
  std::vector<std::string> asked;
  std::map<std::string, std::string> files;

  bool operator==(const Outcome&) const = default;
};

std::string Pattern(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s = TextBytes(n, seed);
  for (size_t i = 0; i < n; i += 97) s[i] = static_cast<char>(rng());
  return s;
}

class ExtractThreads : public ExtractTest {
 protected:
  void TearDown() override {
    testing::UnsetEnv("ACEKIT_THREADS");
    ExtractTest::TearDown();
  }

  // One run with `threads` threads; cancel_at: the n-th progress report
  // answers stop (0: none).
  Outcome Run(int threads, bool test, int cancel_at = 0) {
    testing::SetEnv("ACEKIT_THREADS", std::to_string(threads));
    fs::remove_all(Out());
    fs::create_directories(Out());
    if (keep_ != nullptr) dir_.Write("out/" + std::string(keep_), "there before");
    host_ = Host{};
    host_.cancel_at = cancel_at;
    host_.replace[keep_ != nullptr ? keep_ : ""] = 1;
    arc_.status = kOk;
    platform::DisarmFaults();
    if (fault_at_ != 0) platform::ArmFault(fault_, fault_at_);
    if (test) {
      arc_.status = ops::TestArc(Ctx());
    } else {
      arc_.status = ops::ExtractFileMaskListArc(Ctx(), nullptr);
    }
    if (fault_at_ != 0) platform::ArmFault(fault_, 0);
    return {arc_.status, host_.names, host_.progress, host_.Asked(), dir_.Contents("out")};
  }

  // Every thread count against one, extracting and testing, uncancelled and
  // cancelled at several reports. Returns the one-thread extraction.
  Outcome ExpectSameForEveryThreadCount() {
    Outcome first;
    for (const bool test : {false, true}) {
      for (const int cancel_at : cancels_) {
        SCOPED_TRACE(::testing::Message()
                     << (test ? "test" : "extract") << ", cancel at " << cancel_at);
        const Outcome serial = Run(1, test, cancel_at);
        if (!test && cancel_at == 0) first = serial;
        for (const int threads : {2, 3, 7}) {
          // One worker and more workers than jobs; three adds little there.
          if (kSanitized && threads == 3) continue;
          EXPECT_TRUE(Run(threads, test, cancel_at) == serial) << threads << " threads";
        }
      }
    }
    return first;
  }

  // Entries of every kind the parallel path meets: empty, shorter than a
  // match reaches, stored, a directory, one too large for a worker, and
  // enough small ones to keep several workers busy.
  std::vector<Entry> Mixed() {
    std::vector<Entry> e = {{"empty", ""},
                            {"empty.stored", "", 0x20, 0},
                            {"tiny", Pattern(100, 1)},
                            {"stored", Pattern(5000, 2), 0x20, 0},
                            Dir("d"),
                            {"d\\big", Pattern((1u << 20) + 300000, 3)},
                            {"window", Pattern(1u << 20, 4)}};
    for (unsigned i = 0; i < 24; ++i) {
      e.push_back({"f" + std::to_string(i), Pattern(200 + i * 2711, 10 + i)});
    }
    return e;
  }

  // Entries too large for a worker to hold whole, among small ones: one
  // that fills the ring of chunks from little packed data, two whose packed
  // data takes several fetches, and a stored one.
  static std::vector<Entry> Large() {
    std::string runs(5u << 19, 'r');
    for (size_t i = 0; i < runs.size(); i += 40000) runs[i] = static_cast<char>(i >> 10);
    return {{"small", Pattern(3000, 20)},
            {"big", Pattern(3u << 19, 21)},
            {"runs", runs},
            {"f1", Pattern(700, 22)},
            {"stored", Pattern((1u << 20) + 200000, 23), 0x20, 0},
            {"big2", Pattern((1u << 20) + 100077, 25)},
            {"f2", Pattern(9000, 26)}};
  }

  // Where entry `index` of `entries`, laid out by BuildArchive, has its
  // packed data, and how long that is.
  static std::pair<size_t, size_t> DataOf(const std::vector<Entry>& entries, size_t index,
                                          bool solid = false) {
    const std::vector<Entry> before(entries.begin(), entries.begin() + index);
    const std::vector<Entry> with(entries.begin(), entries.begin() + index + 1);
    const size_t at = BuildArchive(before, solid).size() + format::kFileHeaderFixed +
                      entries[index].name.size() + 2;
    return {at, BuildArchive(with, solid).size() - at};
  }

  const char* keep_ = nullptr;  // a file the host keeps when asked
  std::vector<int> cancels_ = {0, 1, 4, 17, 60};
  platform::Fault fault_ = platform::Fault::kOpen;
  uint32_t fault_at_ = 0;  // the call of fault_ that fails (0: none)
};

TEST_F(ExtractThreads, IntactArchiveComesOutTheSame) {
  const std::vector<Entry> entries = Mixed();
  Open(entries, false);
  keep_ = "f3";
  const Outcome o = ExpectSameForEveryThreadCount();
  EXPECT_EQ(o.status, kOk);
  EXPECT_EQ(o.asked, std::vector<std::string>{"f3"});
  for (const Entry& e : entries) {
    std::string name = e.name;
    for (char& c : name) c = c == '\\' ? '/' : c;
    if (e.attr == 0x10 || e.name == "f3") continue;
    EXPECT_TRUE(o.files.count(name) && o.files.at(name) == e.data) << e.name;
  }
}

// A wrong checksum, damaged streams and a cut archive end the run where one
// thread ends it, with the same status and the same files left.
TEST_F(ExtractThreads, DamagedArchivesReportAsWithOneThread) {
  std::vector<Entry> entries = Mixed();
  entries[12].bad_crc = true;
  Open(entries, false);
  EXPECT_EQ(ExpectSameForEveryThreadCount().status, kCrcMismatch);

  const std::string intact = BuildArchive(Mixed(), false);
  std::mt19937 rng(7);
  for (int round = 0; round < 6; ++round) {
    std::string bytes = intact;
    // Damage past the big entries, where the small ones lie.
    const size_t from = bytes.size() / 2;
    for (int k = 0; k < 3; ++k) bytes[from + rng() % (bytes.size() - from)] ^= 1 << (rng() % 8);
    if (round == 5) bytes.resize(bytes.size() - 700);
    SCOPED_TRACE(round);
    Open(bytes);
    ExpectSameForEveryThreadCount();
  }
}

// A solid archive's entries go to one worker whole at two threads, and to
// the workers only as far as tokens at more; the calls stay on the calling
// thread. Stored entries and a directory in the run, an entry too large for
// a worker, one the host keeps (decoded all the same, for the window),
// cancels, a wrong checksum, damaged streams and cut archives all come out
// as with one thread.
TEST_F(ExtractThreads, SolidArchivesComeOutAsWithOneThread) {
  std::vector<Entry> entries = Mixed();
  // Entries that match into the ones before them, as a solid run's do.
  for (unsigned i = 0; i < 12; ++i) {
    entries.push_back({"again" + std::to_string(i), entries[9 + i].data.substr(100) + "!"});
  }
  entries.push_back({"stored2", Pattern(3000, 50), 0x20, 0});
  entries.push_back({"last", entries[20].data});
  Open(entries, true);
  keep_ = "again3";
  const Outcome o = ExpectSameForEveryThreadCount();
  EXPECT_EQ(o.status, kOk);
  EXPECT_EQ(o.asked, std::vector<std::string>{"again3"});
  EXPECT_TRUE(o.files.count("again7") && o.files.at("again7") == entries[38].data);
  EXPECT_TRUE(o.files.count("last") && o.files.at("last") == entries[20].data);

  keep_ = nullptr;
  cancels_ = {0, 30};
  entries[33].bad_crc = true;
  Open(entries, true);
  EXPECT_EQ(ExpectSameForEveryThreadCount().status, kCrcMismatch);
  entries[33].bad_crc = false;

  const std::string intact = BuildArchive(entries, true);
  std::mt19937 rng(17);
  cancels_ = {0};
  for (int round = 0; round < 5; ++round) {
    std::string bytes = intact;
    // Past the large entries, in the small ones that follow.
    const size_t from = bytes.size() * 3 / 4;
    bytes[from + rng() % (bytes.size() - from)] ^= static_cast<char>(1 << (rng() % 8));
    if (round >= 3) bytes.resize(bytes.size() - (round == 3 ? 20 : 5000));
    SCOPED_TRACE(round);
    Open(bytes);
    EXPECT_NE(ExpectSameForEveryThreadCount().status, kOk);
  }
}

// The first entry a solid archive decodes starts the window afresh; here it
// is one the calling thread decodes itself (after a directory), and the
// small ones after it, which match into it, are decoded by a worker that
// must continue it. The last but one is damaged, and the run after it is
// decoded on the calling thread.
TEST_F(ExtractThreads, SolidRunAfterAnEntryDecodedHereContinuesIt) {
  const std::string big = Pattern((1u << 20) + 5000, 60);
  std::vector<Entry> entries = {Dir("d"), {"d\\big", big}};
  for (unsigned i = 0; i < 20; ++i) {
    entries.push_back({"s" + std::to_string(i), big.substr(i * 40000, 3000 + i * 100)});
  }
  cancels_ = {0, 3};
  Open(entries, true);
  const Outcome o = ExpectSameForEveryThreadCount();
  EXPECT_EQ(o.status, kOk);
  EXPECT_TRUE(o.files.count("s7") && o.files.at("s7") == entries[9].data);

  const auto [at, size] = DataOf(entries, 20, true);
  std::string bytes = BuildArchive(entries, true);
  bytes[at + size / 2] ^= 0x21;
  cancels_ = {0};
  Open(bytes);
  EXPECT_NE(ExpectSameForEveryThreadCount().status, kOk);
}

// A normal archive of `window`, then `tail` coded as its solid
// continuation, then a stored entry that keeps both away from the archive's
// end (near which entries are decoded on the calling thread).
std::string AfterWindowEntry(const std::string& window, const std::string& tail) {
  std::string bytes = BuildArchive(
      {{"window", window}, {"tail", tail}, {"after", Pattern(20000, 7), 0x20, 0}}, true);
  uint8_t main[format::kMainHeaderBytes];
  format::BuildMainHeader(main, nullptr, 0, 0, kTime);
  bytes.replace(0, sizeof main, reinterpret_cast<const char*>(main), sizeof main);
  return bytes;
}

// An entry whose match reaches before its own start reads what the entries
// before it left in the window. After an entry of a whole number of windows,
// a stream written to continue it (here: taken from a solid archive)
// decodes in a normal archive just as it did there, so its stored checksum
// holds, but only when decoded after that entry: a small damaged one; a
// large one, taken on by the calling thread from the chunk that reaches
// back; and one after a streamed entry, whose last window, handed over once
// it is through, is what the calling thread's decoder holds next.
TEST_F(ExtractThreads, EntryReachingBeforeItsStartSeesTheEarlierEntries) {
  const std::string one = Pattern(1u << 20, 5);
  const std::string two = Pattern(2u << 20, 9);
  const struct {
    const std::string& window;
    std::string tail;
    std::vector<int> cancels;
  } cases[] = {{one, one.substr(one.size() - 40000, 30000) + Pattern(3000, 6), {0, 1, 4, 17, 60}},
               {one,
                Pattern(20000, 8) + one.substr(one.size() - 40000, 30000) + Pattern(1500000, 6),
                {0, 5, 700}},
               {two, two.substr(two.size() - 30000) + Pattern(3000, 6), {0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail.size());
    cancels_ = c.cancels;
    Open(AfterWindowEntry(c.window, c.tail));
    const Outcome o = ExpectSameForEveryThreadCount();
    EXPECT_EQ(o.status, kOk);
    EXPECT_TRUE(o.files.count("tail") && o.files.at("tail") == c.tail);
  }
}

// The same after more entries than the window waits for, each smaller than
// the one before, so that none covers another: the oldest go into the
// window before the entry that reaches back, and those tested were decoded
// again to get there.
TEST_F(ExtractThreads, EntryReachingBackPastManyShrinkingEntries) {
  const std::string one = Pattern(1u << 20, 5);
  const std::string tail = one.substr(one.size() - 40000, 30000) + Pattern(3000, 6);
  const std::string solid = AfterWindowEntry(one, tail);
  const size_t window_end = BuildArchive({{"window", one}}, true).size();
  std::vector<Entry> shrinking;
  for (int i = 0; i < 40; ++i) {
    shrinking.push_back({"s" + std::to_string(i), Pattern(6000 - 100 * i, 100 + i)});
  }
  const size_t head = BuildArchive({}, false).size();
  const std::string between = BuildArchive(shrinking, false).substr(head);
  cancels_ = {0, 30};
  Open(solid.substr(0, window_end) + between + solid.substr(window_end));
  const Outcome o = ExpectSameForEveryThreadCount();
  EXPECT_EQ(o.status, kOk);
  EXPECT_TRUE(o.files.count("tail") && o.files.at("tail") == tail);
  EXPECT_TRUE(o.files.count("s39") && o.files.at("s39") == shrinking[39].data);
}

// Entries decoded here go over the ones kept back before them: an entry
// near the archive's end (decoded here) comes after more kept ones than are
// kept when extracting, each smaller than the one before (so that some go
// into the window as it is kept), and one written to read across it and two
// of them, whose bytes are checked by decoding it after all of them laid
// out by hand.
TEST_F(ExtractThreads, EntriesDecodedHereLieOverTheKeptOnes) {
  const std::string big = Pattern(300000, 21);
  const std::string mid = Pattern(120000, 22);
  std::vector<Entry> entries = {{"big", big}, {"mid", mid}};
  for (unsigned i = 0; i < 10; ++i) {
    entries.push_back({"s" + std::to_string(i), Pattern(90000 - 5000 * i, 30 + i)});
  }
  // Stored, so that the entries before it are not near the end.
  entries.push_back({"stored", Pattern(25000, 40), 0x20, 0});
  const std::string near_end = Pattern(20000, 23);
  entries.push_back({"near_end", near_end});
  // From within near_end, mid and big, each match starting past the bytes
  // written so far.
  decompress::test::Script script;
  script.Lit("ab").New(decompress::kWindowSize + 2 - 15000, 30);
  script.New(decompress::kWindowSize + 40 - 100000, 30);
  script.New(decompress::kWindowSize + 80 - 250000, 30);
  const std::vector<uint8_t> packed = script.Bytes();

  std::string window(decompress::kWindowSize, '\0');
  for (const Entry& e : entries) window.replace(0, e.data.size(), e.data);
  decompress::DecoderPtr d = decompress::NewDecoder();
  ASSERT_TRUE(d);
  std::memcpy(d->window, window.data(), window.size());
  d->backed = decompress::kWindowSize;
  decompress::test::MemorySource source(packed);
  decompress::test::MemorySink sink;
  // Matches from that far back take 4 bytes more than their length code.
  decompress::DecoderStart(*d, &source, 2 + 3 * 34, false, 1, decompress::kMethodLz77);
  ASSERT_EQ(decompress::DecodeEntry(*d, decompress::kMethodLz77, &sink), kOk);
  const std::string reads(sink.data.begin(), sink.data.end());
  ASSERT_EQ(reads,
            "ab" + near_end.substr(15000, 34) + mid.substr(99996, 34) + big.substr(249990, 34));

  entries.push_back({"across", reads});
  cancels_ = {0, 1};
  Open(BuildArchive(entries, false,
                    {{entries.size() - 1, std::string(packed.begin(), packed.end())}}));
  const Outcome o = ExpectSameForEveryThreadCount();
  EXPECT_EQ(o.status, kOk);
  EXPECT_TRUE(o.files.count("across") && o.files.at("across") == reads);
}

// Large entries stream through the workers and come out as with one thread,
// a cancel in the middle of one included; the host keeping a large file
// leaves its job unused.
TEST_F(ExtractThreads, LargeEntriesComeOutTheSame) {
  const std::vector<Entry> entries = Large();
  Open(entries, false);
  keep_ = "runs";
  // Reports come one per chunk: these land in "big", "stored" and "big2".
  cancels_ = {0, 500, 1800};
  const Outcome o = ExpectSameForEveryThreadCount();
  EXPECT_EQ(o.status, kOk);
  for (const Entry& e : entries) {
    if (e.name == "runs") continue;
    EXPECT_TRUE(o.files.count(e.name) && o.files.at(e.name) == e.data) << e.name;
  }
  EXPECT_EQ(o.files.at("runs"), "there before");
}

// Damage inside a large entry: the worker's chunks up to it are written,
// and the rest is decoded on the calling thread with the same result, status
// and reports as with one thread. Also a wrong checksum, an archive cut in
// the middle of a large entry and one cut within a word buffer of its end.
TEST_F(ExtractThreads, DamagedLargeEntryReportsAsWithOneThread) {
  // Without the long "runs", which takes no part here.
  std::vector<Entry> entries = Large();
  entries.erase(entries.begin() + 2);
  cancels_ = {0};
  entries[1].bad_crc = true;
  Open(entries, false);
  EXPECT_EQ(ExpectSameForEveryThreadCount().status, kCrcMismatch);
  entries[1].bad_crc = false;

  const std::string intact = BuildArchive(entries, false);
  std::mt19937 rng(11);
  const auto [big_at, big_size] = DataOf(entries, 1);
  std::string bytes = intact;
  // Somewhere past the first fetches, and near the start.
  bytes[big_at + big_size / 2 + rng() % (big_size / 2)] ^= static_cast<char>(1 << (rng() % 8));
  bytes[big_at + 100 + rng() % 1000] ^= static_cast<char>(1 << (rng() % 8));
  Open(bytes);
  EXPECT_NE(ExpectSameForEveryThreadCount().status, kOk);

  // Reports in "big2" run from about 1500 to 2140.
  const auto [at, size] = DataOf(entries, 4);
  for (const size_t cut : {at + size / 2, at + size - 1000}) {
    SCOPED_TRACE(cut);
    cancels_ = cut == at + size / 2 ? std::vector<int>{0, 1700} : std::vector<int>{0};
    Open(intact.substr(0, cut));
    EXPECT_NE(ExpectSameForEveryThreadCount().status, kOk);
  }
}

// In a solid archive a large entry streams to the worker that runs the
// decoder while the calling thread writes it; one that fills the short ring
// from little packed data, one the host keeps (decoded all the same), a
// cancel inside one, damage in the first fetch and past it, a wrong
// checksum, and the archive cut inside one all end as with one thread. The
// entries after a damaged one are decoded on the calling thread.
TEST_F(ExtractThreads, LargeEntriesOfASolidArchiveComeOutAsWithOneThread) {
  std::vector<Entry> entries = Large();
  entries.push_back({"again", entries[1].data.substr(5000, 70000)});
  Open(entries, true);
  keep_ = "big2";
  cancels_ = {0, 500, 1800};
  const Outcome o = ExpectSameForEveryThreadCount();
  EXPECT_EQ(o.status, kOk);
  EXPECT_TRUE(o.files.count("runs") && o.files.at("runs") == entries[2].data);
  EXPECT_TRUE(o.files.count("again") && o.files.at("again") == entries.back().data);
  keep_ = nullptr;

  cancels_ = {0};
  entries[2].bad_crc = true;
  Open(entries, true);
  EXPECT_EQ(ExpectSameForEveryThreadCount().status, kCrcMismatch);
  entries[2].bad_crc = false;

  const std::string intact = BuildArchive(entries, true);
  const auto [at, size] = DataOf(entries, 1, true);
  for (const size_t damage : {at + 300, at + size - 20000}) {
    std::string bytes = intact;
    bytes[damage] ^= 0x08;
    SCOPED_TRACE(damage - at);
    Open(bytes);
    EXPECT_NE(ExpectSameForEveryThreadCount().status, kOk);
  }
  Open(intact.substr(0, at + size / 2));
  EXPECT_NE(ExpectSameForEveryThreadCount().status, kOk);
}

// A tested entry too large for a worker gets its packed data read ahead in
// a fixed number of fetches: entries whose data ends exactly there, one byte
// before and one after, and one at the size where streaming starts, with
// many tiny entries before them that fill the jobs in flight; then the same
// with damage in the entry read ahead while the one before it is tested.
TEST_F(ExtractThreads, ReadAheadBoundariesComeOutTheSame) {
  constexpr size_t kAhead = size_t{decompress::kTestedFetches} * platform::kFileBufferBytes;
  std::vector<Entry> entries;
  for (unsigned i = 0; i < 150; ++i)
    entries.push_back({"t" + std::to_string(i), Pattern(i % 7, i)});
  for (const auto& [name, size] : {std::pair{"exact", kAhead},
                                   {"less", kAhead - 1},
                                   {"more", kAhead + 1},
                                   {"limit", size_t{1} << 20}}) {
    entries.push_back({name, Pattern(size, static_cast<unsigned>(size)), 0x20, 0});
  }
  entries.push_back({"packed", Pattern(3u << 20, 40)});
  entries.push_back({"last", Pattern(5000, 41)});
  cancels_ = {0, 3000};
  Open(entries, false);
  const Outcome o = ExpectSameForEveryThreadCount();
  EXPECT_EQ(o.status, kOk);
  EXPECT_EQ(o.files.size(), entries.size());
  EXPECT_TRUE(o.files.count("more") && o.files.at("more") == entries[152].data);

  const std::string intact = BuildArchive(entries, false);
  cancels_ = {0};
  for (const size_t index : {size_t{151}, size_t{154}}) {
    const auto [at, size] = DataOf(entries, index);
    std::string bytes = intact;
    bytes[at + size / 2] ^= 0x10;
    SCOPED_TRACE(entries[index].name);
    Open(bytes);
    EXPECT_NE(ExpectSameForEveryThreadCount().status, kOk);
  }
}

// Every file call and allocation of a run with large entries fails in turn,
// with workers: the run ends with that call's status (or completes), the
// entries left are the first ones, each complete, and no temporary file
// stays behind; in a normal archive and in a solid one.
class ExtractThreadsFaults : public ExtractThreads, public ::testing::WithParamInterface<bool> {};

TEST_P(ExtractThreadsFaults, AnyFailingCallLeavesTheFirstEntriesComplete) {
  const std::vector<Entry> entries = {{"a", Pattern(3000, 30)},
                                      {"big", Pattern((1u << 20) + 100000, 31)},
                                      {"stored", Pattern((1u << 20) + 1000, 32), 0x20, 0},
                                      {"b", Pattern(5000, 33)},
                                      {"c", Pattern(7000, 34)},
                                      {"d", Pattern(300, 35)}};
  Open(entries, GetParam());
  using platform::Fault;
  const std::pair<Fault, std::set<uint32_t>> kinds[] = {
      {Fault::kOpen, {kOpenFailed}},   {Fault::kRead, {kOpenFailed, kCrcMismatch, kCorrupt}},
      {Fault::kWrite, {kShortWrite}},  {Fault::kSeek, {kOpenFailed, kCrcMismatch, kCorrupt}},
      {Fault::kRename, {kOpenFailed}}, {Fault::kAlloc, {kNoMemory}}};
  // The fewest threads that run each parallel path, as the other sweeps do:
  // a solid archive's whole decoder on one worker, and its split in two
  // stages.
  for (const int threads : GetParam() ? std::vector<int>{2, 3} : std::vector<int>{2}) {
    for (const auto& [fault, allowed] : kinds) {
      platform::DisarmFaults();
      ASSERT_EQ(Run(threads, false).status, kOk);
      const uint32_t calls = platform::FaultCalls(fault);
      for (uint32_t n = 1; n <= calls; ++n) {
        SCOPED_TRACE(::testing::Message()
                     << threads << " threads, fault " << static_cast<int>(fault) << " call " << n);
        fault_ = fault;
        fault_at_ = n;
        const Outcome o = Run(threads, false);
        fault_at_ = 0;
        EXPECT_TRUE(o.status == kOk || allowed.count(o.status)) << o.status;
        size_t done = 0;
        while (done < entries.size() && o.files.count(entries[done].name)) ++done;
        EXPECT_EQ(o.files.size(), done);
        EXPECT_TRUE(o.status != kOk || done == entries.size());
        for (size_t i = 0; i < done; ++i) {
          EXPECT_TRUE(o.files.at(entries[i].name) == entries[i].data) << entries[i].name;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(NormalAndSolid, ExtractThreadsFaults, ::testing::Bool());

}  // namespace
}  // namespace acekit::extract_test
