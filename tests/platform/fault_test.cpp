#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "test_dir.h"

namespace acekit::platform {
namespace {

using FaultTest = testing::TempDirTest;

TEST_F(FaultTest, OpenFailsOnTheNthCallOnly) {
  MakeFile("f.txt", "data");
  DisarmFaults();
  ArmFault(Fault::kOpen, 3);
  for (int call = 1; call <= 6; ++call) {
    const Handle h = Open(Path("f.txt").c_str(), 'r');
    if (call == 3) {
      EXPECT_EQ(h, kBadHandle);
    } else {
      EXPECT_NE(h, kBadHandle) << call;
      Close(h);
    }
  }
  EXPECT_EQ(FaultCalls(Fault::kOpen), 6u);
}

TEST_F(FaultTest, FailedOpenCreatesNothing) {
  ArmFault(Fault::kOpen, 1);
  EXPECT_EQ(Open(Path("new.txt").c_str(), 'w'), kBadHandle);
  EXPECT_FALSE(IsExistingFile(Path("new.txt").c_str()));
}

TEST_F(FaultTest, ReadFailsOnTheNthCallWithoutConsuming) {
  MakeFile("f.txt", "abcdef");
  const Handle h = Open(Path("f.txt").c_str(), 'r');
  ASSERT_NE(h, kBadHandle);
  ArmFault(Fault::kRead, 2);
  char c = 0;
  EXPECT_EQ(Read(&c, 1, h), 1);
  EXPECT_EQ(c, 'a');
  EXPECT_EQ(Read(&c, 1, h), -1);
  EXPECT_EQ(Read(&c, 1, h), 1);
  EXPECT_EQ(c, 'b');
  EXPECT_EQ(Read(&c, 1, h), 1);
  EXPECT_EQ(c, 'c');
  Close(h);
  EXPECT_EQ(FaultCalls(Fault::kRead), 4u);
}

TEST_F(FaultTest, WriteIsShortOnTheNthCall) {
  const Handle h = Open(Path("w.bin").c_str(), 'w');
  ASSERT_NE(h, kBadHandle);
  ArmFault(Fault::kWrite, 3);
  const char data[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Write(data, 10, h), 10);
  EXPECT_EQ(Write(data, 10, h), 10);
  EXPECT_EQ(Write(data, 10, h), 5);  // half of it
  EXPECT_EQ(Write(data, 10, h), 10);
  EXPECT_EQ(Size(h), 35);
  Close(h);
  EXPECT_EQ(ReadAll("w.bin").substr(20, 6), "012340");
  EXPECT_EQ(FaultCalls(Fault::kWrite), 4u);
}

TEST_F(FaultTest, SeekFailsOnTheNthCall) {
  MakeFile("f.txt", "abcdef");
  const Handle h = Open(Path("f.txt").c_str(), 'r');
  ASSERT_NE(h, kBadHandle);
  ArmFault(Fault::kSeek, 2);
  EXPECT_EQ(Seek(h, 1, 0), 1);
  EXPECT_EQ(Seek(h, 2, 0), -1);
  EXPECT_EQ(Tell(h), 1);  // nothing moved
  EXPECT_EQ(Seek(h, 3, 0), 3);
  Close(h);
  EXPECT_EQ(FaultCalls(Fault::kSeek), 3u);
}

TEST_F(FaultTest, MoveFailsOnTheNthCall) {
  MakeFile("a", "x");
  ArmFault(Fault::kRename, 3);
  EXPECT_TRUE(Move(Path("a").c_str(), Path("b").c_str()));
  EXPECT_TRUE(Move(Path("b").c_str(), Path("c").c_str()));
  EXPECT_FALSE(Move(Path("c").c_str(), Path("d").c_str()));
  EXPECT_TRUE(IsExistingFile(Path("c").c_str()));
  EXPECT_FALSE(IsExistingFile(Path("d").c_str()));
  EXPECT_TRUE(Move(Path("c").c_str(), Path("d").c_str()));
  EXPECT_EQ(FaultCalls(Fault::kRename), 4u);
}

TEST_F(FaultTest, DeleteFailsOnTheNthCall) {
  for (const char* n : {"1", "2", "3", "4"}) MakeFile(n);
  ArmFault(Fault::kDelete, 3);
  EXPECT_TRUE(Delete(Path("1").c_str()));
  EXPECT_TRUE(Delete(Path("2").c_str()));
  EXPECT_FALSE(Delete(Path("3").c_str()));
  EXPECT_TRUE(IsExistingFile(Path("3").c_str()));
  EXPECT_TRUE(Delete(Path("3").c_str()));
  EXPECT_TRUE(Delete(Path("4").c_str()));
  EXPECT_EQ(FaultCalls(Fault::kDelete), 5u);
}

TEST_F(FaultTest, CreateDirFailsOnTheNthCall) {
  ArmFault(Fault::kCreateDir, 2);
  EXPECT_TRUE(CreateDir(Path("d1").c_str()));
  EXPECT_FALSE(CreateDir(Path("d2").c_str()));
  EXPECT_FALSE(IsExistingDirectory(Path("d2").c_str()));
  EXPECT_TRUE(CreateDir(Path("d2").c_str()));
  EXPECT_TRUE(CreateDir(Path("d3").c_str()));
  EXPECT_EQ(FaultCalls(Fault::kCreateDir), 4u);
}

TEST_F(FaultTest, AllocFailsOnTheNthCallOfEitherForm) {
  ArmFault(Fault::kAlloc, 3);
  void* a = Alloc(16);
  void* b = AllocZeroed(16);
  void* c = Alloc(16);
  void* d = AllocZeroed(64);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  ASSERT_NE(d, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(static_cast<unsigned char*>(d)[i], 0);
  Free(a);
  Free(b);
  Free(c);
  Free(d);
  EXPECT_EQ(FaultCalls(Fault::kAlloc), 4u);
}

TEST_F(FaultTest, AllocOfZeroBytesIsABlock) {
  void* p = Alloc(0);
  void* q = AllocZeroed(0);
  EXPECT_NE(p, nullptr);
  EXPECT_NE(q, nullptr);
  Free(p);
  Free(q);
  Free(nullptr);
}

TEST_F(FaultTest, FirstCallAndOtherKindsUntouched) {
  MakeFile("f.txt", "x");
  ArmFault(Fault::kRead, 1);
  const Handle h = Open(Path("f.txt").c_str(), 'r');  // opening is not armed
  ASSERT_NE(h, kBadHandle);
  EXPECT_EQ(Seek(h, 0, 0), 0);
  char c;
  EXPECT_EQ(Read(&c, 1, h), -1);
  EXPECT_EQ(Read(&c, 1, h), 1);
  Close(h);
}

TEST_F(FaultTest, DisarmCancelsAndResetsTheCounts) {
  MakeFile("f.txt", "x");
  DisarmFaults();  // the count starts here
  ArmFault(Fault::kOpen, 2);
  Handle h = Open(Path("f.txt").c_str(), 'r');
  ASSERT_NE(h, kBadHandle);
  Close(h);
  EXPECT_EQ(FaultCalls(Fault::kOpen), 1u);
  DisarmFaults();
  EXPECT_EQ(FaultCalls(Fault::kOpen), 0u);
  for (int i = 0; i < 5; ++i) {
    h = Open(Path("f.txt").c_str(), 'r');
    EXPECT_NE(h, kBadHandle);
    Close(h);
  }
  EXPECT_EQ(FaultCalls(Fault::kOpen), 5u);
}

TEST_F(FaultTest, SeveralKindsArmedTogether) {
  ArmFault(Fault::kAlloc, 2);
  ArmFault(Fault::kCreateDir, 1);
  EXPECT_FALSE(CreateDir(Path("d").c_str()));
  void* a = Alloc(1);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(Alloc(1), nullptr);
  EXPECT_TRUE(CreateDir(Path("d").c_str()));
  Free(a);
}

TEST_F(FaultTest, SweepFindsEveryFailurePoint) {
  // The way a caller sizes a sweep: count the calls of a clean run, then
  // fail each of them in turn.
  auto run = [&]() -> bool {
    for (int i = 0; i < 3; ++i) {
      const Handle h = Open(Path("s" + std::to_string(i)).c_str(), 'w');
      if (h == kBadHandle) return false;
      Close(h);
    }
    return true;
  };
  DisarmFaults();
  ASSERT_TRUE(run());
  const uint32_t calls = FaultCalls(Fault::kOpen);
  EXPECT_EQ(calls, 3u);
  for (uint32_t n = 1; n <= calls; ++n) {
    DisarmFaults();
    ArmFault(Fault::kOpen, n);
    EXPECT_FALSE(run()) << n;
  }
  DisarmFaults();
  EXPECT_TRUE(run());
}

}  // namespace
}  // namespace acekit::platform
