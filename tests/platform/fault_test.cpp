#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "test_dir.h"

namespace acekit::platform {
namespace {

using FaultTest = testing::TempDirTest;

// Each primitive, armed for its third call, fails that call only, leaves no
// trace of it, and counts every call made since the last disarm.
TEST_F(FaultTest, EachPrimitiveFailsOnTheArmedCallOnly) {
  MakeFile("f.txt", "abcdef");
  for (const char* n : {"d1", "d2", "d3", "d4", "m"}) MakeFile(n);
  const Handle r = Open(Path("f.txt").c_str(), 'r');
  const Handle s = Open(Path("f.txt").c_str(), 'r');
  const Handle w = Open(Path("w.bin").c_str(), 'w');
  ASSERT_NE(r, kBadHandle);
  ASSERT_NE(s, kBadHandle);
  ASSERT_NE(w, kBadHandle);
  const char digits[] = "0123456789";
  char next = 'a';
  std::string moved = "m";
  struct Case {
    Fault fault;
    std::function<bool(int)> call;
    std::function<void()> after_failure;
  };
  const Case cases[] = {
      {Fault::kOpen,
       [&](int i) {
         const Handle h = Open(Path("o" + std::to_string(i)).c_str(), 'w');
         return h != kBadHandle && Close(h) == 1;
       },
       [&] { EXPECT_FALSE(IsExistingFile(Path("o3").c_str())); }},
      {Fault::kRead,  // a failed read consumes nothing
       [&](int) {
         char c = 0;
         if (Read(&c, 1, r) != 1) return false;
         EXPECT_EQ(c, next++);
         return true;
       },
       [] {}},
      {Fault::kWrite,  // a failing write is short: half of it lands
       [&](int) { return Write(digits, 10, w) == 10; }, [&] { EXPECT_EQ(Size(w), 25); }},
      {Fault::kSeek, [&](int i) { return Seek(s, i, 0) == i; }, [&] { EXPECT_EQ(Tell(s), 2); }},
      {Fault::kRename,
       [&](int i) {
         const std::string to = "m" + std::to_string(i);
         if (!Move(Path(moved).c_str(), Path(to).c_str())) return false;
         moved = to;
         return true;
       },
       [&] {
         EXPECT_TRUE(IsExistingFile(Path(moved).c_str()));
         EXPECT_FALSE(IsExistingFile(Path("m3").c_str()));
       }},
      {Fault::kDelete, [&](int i) { return Delete(Path("d" + std::to_string(i)).c_str()); },
       [&] { EXPECT_TRUE(IsExistingFile(Path("d3").c_str())); }},
      {Fault::kCreateDir, [&](int i) { return CreateDir(Path("c" + std::to_string(i)).c_str()); },
       [&] { EXPECT_FALSE(IsExistingDirectory(Path("c3").c_str())); }},
      {Fault::kAlloc,  // either form counts; zero bytes still give a block
       [&](int i) {
         auto* p = static_cast<unsigned char*>(i % 2 != 0 ? Alloc(0) : AllocZeroed(64));
         EXPECT_TRUE(p == nullptr || i % 2 != 0 || std::count(p, p + 64, 0) == 64);
         Free(p);
         return p != nullptr;
       },
       [] {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    DisarmFaults();
    ArmFault(c.fault, 3);
    for (int i = 1; i <= 4; ++i) {
      EXPECT_EQ(c.call(i), i != 3) << "call " << i;
      if (i == 3) c.after_failure();
    }
    EXPECT_EQ(FaultCalls(c.fault), 4u);
  }
  Close(r);
  Close(s);
  Close(w);
  EXPECT_EQ(ReadAll("w.bin").substr(20, 6), "012340");
}

// Kinds armed together count down apart; disarming cancels what is pending.
TEST_F(FaultTest, KindsArmedTogetherFailIndependentlyUntilDisarmed) {
  MakeFile("f.txt", "x");
  ArmFault(Fault::kRead, 1);
  ArmFault(Fault::kAlloc, 2);
  ArmFault(Fault::kCreateDir, 1);
  const Handle h = Open(Path("f.txt").c_str(), 'r');
  char c;
  EXPECT_EQ(Read(&c, 1, h), -1);
  EXPECT_EQ(Read(&c, 1, h), 1);
  Close(h);
  void* a = Alloc(1);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(Alloc(1), nullptr);
  Free(a);
  DisarmFaults();
  EXPECT_TRUE(CreateDir(Path("d").c_str()));
}

}  // namespace
}  // namespace acekit::platform
