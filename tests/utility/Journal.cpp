// Atomic runs that end abruptly: killed between a record and its change,
// killed while rolling back, killed while committing. Recovery finishes each.
#include "Doubles.h"
#include "utility/AtomicRun.h"
#include "utility/Utility.h"

using namespace Utility;

// What a killed process does: stops at once, leaving everything as it is.
struct Killed {};

// The POSIX file system, killed at the n-th rename or tree removal.
struct MortalFs : posix::PosixFileSystem {
  int movesLeft = -1, removalsLeft = -1;
  static void Count(int& left) {
    if (left == 0) throw Killed{};
    if (left > 0) --left;
  }
  bool MoveEntry(const std::wstring& from, const std::wstring& to) override {
    Count(movesLeft);
    return PosixFileSystem::MoveEntry(from, to);
  }
  void RemoveTree(const std::wstring& path) override {
    Count(removalsLeft);
    PosixFileSystem::RemoveTree(path);
  }
};

struct JournalTest : ScratchPlatformOf<MortalFs> {
  JournalTest() { sys.journalDir = dir.W("journal"); }
  // Runs `work` as an atomic run that the test's file system may kill.
  void Run(const std::function<void()>& work) {
    try {
      AtomicRun run(Pieces(), L"test.vsl");
      platform::ScopedPlatform journaled(run.Pieces());
      work();
      FAIL() << "the run was not killed";
    } catch (const Killed&) {
    }
  }
  std::vector<RollbackReport> Recover() {
    std::vector<RollbackReport> reports;
    Journal::RecoverAll(Pieces(), [&](const std::wstring& script, const RollbackReport& r) {
      EXPECT_EQ(script, L"test.vsl");
      reports.push_back(r);
    });
    return reports;
  }
};

TEST_F(JournalTest, KilledRunsAndRollbacksAreFinishedByRecovery) {
  for (const char* f : {"a", "b", "c"}) dir.Make(f, f);
  fs.movesLeft = 2;  // a and b go aside; the run dies after noting c, before moving it
  Run([&] {
    EXPECT_TRUE(RegWriteString(HKLM, L"Software\\J", L"v", L"1"));
    for (const char* f : {"a", "b", "c"}) DelFile(dir.W(f));
  });
  EXPECT_FALSE(dir.Exists("a"));
  EXPECT_TRUE(dir.Exists("c"));
  fs.movesLeft = 1;  // the rollback puts b back and dies putting back a
  EXPECT_THROW(Recover(), Killed);
  EXPECT_TRUE(dir.Exists("b"));
  EXPECT_FALSE(dir.Exists("a"));
  fs.movesLeft = -1;
  const std::vector<RollbackReport> reports = Recover();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].undone, 2);  // a and the new key (its value goes with it); b was done, c never moved
  EXPECT_TRUE(reports[0].failed.empty());
  for (const char* f : {"a", "b", "c"}) EXPECT_EQ(dir.Read(f), f);
  EXPECT_FALSE(IsRegKeyExists(L"Software\\J"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.H("journal")));
  EXPECT_TRUE(Recover().empty());
}

TEST_F(JournalTest, ACommitThatWasKilledIsFinishedNotUndone) {
  dir.Make("a", "a");
  fs.removalsLeft = 0;
  try {
    AtomicRun run(Pieces(), L"test.vsl");
    {
      platform::ScopedPlatform journaled(run.Pieces());
      DelFile(dir.W("a"));
      WriteFile(dir.W("new"), L"x");
    }
    run.TheJournal().Commit();
    FAIL() << "the commit was not killed";
  } catch (const Killed&) {
  }
  fs.removalsLeft = -1;
  EXPECT_TRUE(Recover().empty());
  EXPECT_FALSE(dir.Exists("a"));
  EXPECT_TRUE(dir.Exists("new"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.H("journal")));
}
