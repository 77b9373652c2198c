#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "test_dir.h"

namespace acekit::platform {
namespace {

using TimeTest = testing::TempDirTest;

// 14:30:10 on 3 March 2000: the date (year - 1980 << 9 | month << 5 | day)
// in the high half, the time (hours << 11 | minutes << 5 | seconds / 2) low.
constexpr uint16_t kDate = 0x2863;
constexpr uint16_t kTime = 0x73C5;
constexpr uint32_t kPacked = 0x286373C5u;

uint64_t Ticks(const FindTime& t) {
  return (static_cast<uint64_t>(t.high) << 32) | t.low;
}

bool LocalTimeIsUtc() {
  const char* tz = std::getenv("TZ");
  return tz != nullptr && (std::strcmp(tz, "UTC") == 0 || std::strcmp(tz, "UTC0") == 0);
}

TEST(DosTime, ToFileTimeAndBackAndWhatDosCannotHold) {
  FindTime ft{};
  ASSERT_TRUE(DosTimeToFileTime(kPacked, &ft));
  uint32_t back = 0;
  ASSERT_TRUE(FileTimeToDosTime(ft, &back));
  EXPECT_EQ(back, kPacked);
  if (LocalTimeIsUtc()) {
    // 2000-03-03 14:30:10 UTC: 952093810 s after 1970, 11644473600 s more from 1601.
    EXPECT_EQ(Ticks(ft), (952093810ull + 11644473600ull) * 10000000ull);
  }
  // Odd seconds round down to the 2-second DOS step.
  FindTime odd = ft;
  const uint64_t t = Ticks(ft) + 10000000ull + 5;  // one second (and a bit) later
  odd.low = static_cast<uint32_t>(t);
  odd.high = static_cast<uint32_t>(t >> 32);
  ASSERT_TRUE(FileTimeToDosTime(odd, &back));
  EXPECT_EQ(back, kPacked);
  // Month 13, month 0, day 0, hour 24; and 1 January 1970, before DOS dates.
  for (const uint32_t bad : {0x29A30000u, 0x28030000u, 0x28600000u, 0x2863C000u})
    EXPECT_FALSE(DosTimeToFileTime(bad, &ft)) << std::hex << bad;
  EXPECT_FALSE(FileTimeToDosTime(FindTime{0xD53E8000u, 0x019DB1DEu}, &back));
}

TEST_F(TimeTest, SetThenGetGivesEachValueBackOverTheDosRange) {
  const uint32_t values[] = {
      (0x0021u << 16) | 0x0000u,  // 1980-01-01 00:00:00
      (static_cast<uint32_t>((24 << 9) | (2 << 5) | 29) << 16) | ((23 << 11) | (59 << 5) | 29),
      (static_cast<uint32_t>((44 << 9) | (7 << 5) | 15) << 16) | ((12 << 11) | (0 << 5) | 1),
      (static_cast<uint32_t>((119 << 9) | (12 << 5) | 31) << 16) | ((23 << 11) | (59 << 5) | 29),
  };
  const Handle h = Open(Path("t.bin").c_str(), 'b');
  ASSERT_NE(h, kBadHandle);
  uint32_t packed = 0;
  for (uint32_t v : values) {
    ASSERT_EQ(SetPackedFileTime(h, v), 0) << std::hex << v;
    ASSERT_EQ(GetPackedFileTime(h, &packed), 0) << std::hex << v;
    EXPECT_EQ(packed, v) << std::hex << v;
  }
  ASSERT_EQ(SetFileTime(h, kDate, kTime), 0);
  uint16_t date = 0;
  uint16_t time = 0;
  ASSERT_EQ(GetFileTime(h, &date, &time), 0);
  EXPECT_EQ(date, kDate);
  EXPECT_EQ(time, kTime);
  ASSERT_EQ(GetPackedFileTime(h, &packed), 0);
  EXPECT_EQ(packed, kPacked);
  Close(h);

  // The time stays on the file and reads back through another handle.
  const Handle r = Open(Path("t.bin").c_str(), 'r');
  ASSERT_NE(r, kBadHandle);
  ASSERT_EQ(GetPackedFileTime(r, &packed), 0);
  EXPECT_EQ(packed, kPacked);
  Close(r);
}

TEST_F(TimeTest, SetOnlyChangesTheLastWriteTime) {
  const Handle h = Open(Path("t.bin").c_str(), 'w');
  ASSERT_NE(h, kBadHandle);
  const auto listed = [&] {
    FindData fd{};
    FindClose(FindFirst(Path("t.bin").c_str(), &fd));
    return fd;
  };
  const FindData before = listed();
  ASSERT_EQ(SetFileTime(h, kDate, kTime), 0);
  Close(h);
  const FindData after = listed();
  // The creation time stays (where the file system keeps one apart from the
  // last-write time; elsewhere the listing shows the last-write time there).
  EXPECT_TRUE(Ticks(after.creation_time) == Ticks(before.creation_time) ||
              Ticks(after.creation_time) == Ticks(after.last_write_time));
  EXPECT_NE(Ticks(after.last_write_time), Ticks(before.last_write_time));
}

TEST_F(TimeTest, InvalidDosValuesAndReadHandlesFail) {
  const Handle h = Open(Path("t.bin").c_str(), 'w');
  ASSERT_NE(h, kBadHandle);
  EXPECT_NE(SetFileTime(h, static_cast<uint16_t>((20 << 9) | (13 << 5) | 3), kTime), 0);
  EXPECT_EQ(SetPackedFileTime(h, 0), -1);  // month 0, day 0
  Close(h);

  const Handle r = Open(Path("t.bin").c_str(), 'r');
  ASSERT_NE(r, kBadHandle);
  if (testing::SystemEnforcesWindowsRights()) {
    EXPECT_NE(SetFileTime(r, kDate, kTime), 0);  // no right to change it
  }
  uint16_t date = 0;
  uint16_t time = 0;
  EXPECT_EQ(GetFileTime(r, &date, &time), 0);
  Close(r);

  uint32_t packed = 0;
  EXPECT_EQ(GetPackedFileTime(kBadHandle, &packed), -1);
  EXPECT_NE(GetFileTime(kBadHandle, &date, &time), 0);
  EXPECT_NE(SetFileTime(kBadHandle, kDate, kTime), 0);
}

TEST_F(TimeTest, CurrentTimeMatchesANewFile) {
  uint32_t now = 0;
  CurrentPackedTime(&now);
  const Handle h = Open(Path("now.bin").c_str(), 'w');
  ASSERT_NE(h, kBadHandle);
  ASSERT_EQ(Write("x", 1, h), 1);
  uint32_t stamp = 0;
  ASSERT_EQ(GetPackedFileTime(h, &stamp), 0);
  Close(h);
  FindTime a{};
  FindTime b{};
  ASSERT_TRUE(DosTimeToFileTime(now, &a)) << std::hex << now;
  ASSERT_TRUE(DosTimeToFileTime(stamp, &b)) << std::hex << stamp;
  const int64_t diff = static_cast<int64_t>(Ticks(b)) - static_cast<int64_t>(Ticks(a));
  EXPECT_LE(diff < 0 ? -diff : diff, 10 * 10000000LL);
  EXPECT_GE(now >> 25, 44u);  // year 2024 or later
}

#ifndef _WIN32
// A zone with summer time, as a rule rather than a file, so that no zone
// database is needed: every half hour of a year that switches both ways,
// 1980 and the last year a 32-bit clock holds whole included, comes back as the
// instant the C library's own conversion gives wherever that instant is
// unambiguous, and as a time that reads back as itself elsewhere but in
// the skipped hour.
TEST(DosTime, LocalTimeWithSummerTimeMatchesTheCLibrary) {
  const char* old = std::getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
  for (const int year : {1980, 2021, 2037}) {
    for (int day = 0; day < 365; ++day) {
      for (int half = 0; half < 48; ++half) {
        struct tm want = {};
        want.tm_year = year - 1900;
        want.tm_mday = 1 + day;  // mktime carries the days into months
        want.tm_hour = half / 2;
        want.tm_min = half % 2 * 30;
        want.tm_isdst = -1;
        const time_t expected = std::mktime(&want);
        const uint32_t packed = static_cast<uint32_t>(((want.tm_year - 80) << 9) |
                                                      ((want.tm_mon + 1) << 5) | want.tm_mday)
                                    << 16 |
                                static_cast<uint32_t>(want.tm_hour << 11 | want.tm_min << 5);
        FindTime ft{};
        ASSERT_TRUE(DosTimeToFileTime(packed, &ft)) << std::hex << packed;
        const auto got = static_cast<time_t>(Ticks(ft) / 10000000ull - 11644473600ull);
        struct tm back = {};
        ASSERT_NE(::localtime_r(&got, &back), nullptr);
        const time_t before = expected - 3600;
        const time_t after = expected + 3600;
        struct tm near = {};
        const bool twice = (::localtime_r(&before, &near), near.tm_hour == want.tm_hour) ||
                           (::localtime_r(&after, &near), near.tm_hour == want.tm_hour);
        if (!twice && back.tm_hour == half / 2) {
          EXPECT_EQ(got, expected) << year << " day " << day << " half hour " << half;
        }
        if (back.tm_hour != half / 2) {
          // Only the hour the spring switch skips cannot read back.
          EXPECT_EQ(back.tm_mon, 2) << year << " day " << day << " half hour " << half;
        }
      }
    }
  }
  if (old != nullptr) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}
#endif

}  // namespace
}  // namespace acekit::platform
