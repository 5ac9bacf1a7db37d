// Atomic runs that end abruptly: killed between a record and its change,
// killed while rolling back, killed while committing. Recovery finishes each.
#include <fstream>

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
  // A full disk at an append: 1 before the file is made, 2 after.
  int appendFails = 0;
  void AppendTextLine(const std::wstring& path, const std::wstring& text) override {
    if (appendFails == 2) PosixFileSystem::AppendTextLine(path, text);
    if (appendFails != 0) throw VslError(L"Cannot write " + path + L": the disk is full");
    PosixFileSystem::AppendTextLine(path, text);
  }
};

struct JournalTest : ScratchPlatformOf<MortalFs> {
  JournalTest() { sys.journalDir = m.Path(L"journal"); }
  // Runs `work` as an atomic run, then commits it if `commit`; the test's file system may kill it on the way.
  void Run(const std::function<void()>& work, bool commit = false) {
    try {
      AtomicRun run(Pieces(), L"test.vsl");
      {
        platform::ScopedPlatform journaled(run.Pieces());
        work();
      }
      if (commit) run.TheJournal().Commit();
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
  for (const wchar_t* f : {L"a", L"b", L"c"}) m.Write(f, text::ToUtf8(f));
  fs.movesLeft = 2;  // a and b go aside; the run dies after noting c, before moving it
  Run([&] {
    EXPECT_TRUE(RegWriteString(HKLM, L"Software\\J", L"v", L"1"));
    for (const wchar_t* f : {L"a", L"b", L"c"}) DelFile(m.Path(f));
  });
  EXPECT_FALSE(m.Exists(L"a"));
  EXPECT_TRUE(m.Exists(L"c"));
  // Lines that are no records are passed over.
  for (const auto& e : std::filesystem::directory_iterator(m.HostPath(L"journal")))
    if (e.path().extension() == ".journal") std::ofstream(e.path(), std::ios::app) << "no json\n[1]\n{\"of\":1}\n{\"kind\":7}\n";
  fs.movesLeft = 1;  // the rollback puts b back and dies putting back a
  EXPECT_THROW(Recover(), Killed);
  EXPECT_TRUE(m.Exists(L"b"));
  EXPECT_FALSE(m.Exists(L"a"));
  fs.movesLeft = -1;
  const std::vector<RollbackReport> reports = Recover();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].undone, 2);  // a and the new key (its value goes with it); b was done, c never moved
  EXPECT_TRUE(reports[0].failed.empty());
  for (const wchar_t* f : {L"a", L"b", L"c"}) EXPECT_EQ(m.Read(f), text::ToUtf8(f));
  EXPECT_FALSE(IsRegKeyExists(L"Software\\J"));
  EXPECT_TRUE(std::filesystem::is_empty(m.HostPath(L"journal")));
  EXPECT_TRUE(Recover().empty());
}

TEST_F(JournalTest, ACommitThatWasKilledIsFinishedNotUndone) {
  m.Write(L"a", "a");
  fs.removalsLeft = 0;
  Run([&] {
    DelFile(m.Path(L"a"));
    WriteFile(m.Path(L"new"), L"x");
  }, true);
  fs.removalsLeft = -1;
  EXPECT_TRUE(Recover().empty());
  EXPECT_FALSE(m.Exists(L"a"));
  EXPECT_TRUE(m.Exists(L"new"));
  EXPECT_TRUE(std::filesystem::is_empty(m.HostPath(L"journal")));
}

// An append that fails on its way to a new file: what it left goes with the rollback, and where it left
// nothing there is nothing to undo.
TEST_F(JournalTest, AFailedAppendToANewFileIsUndoneByWhatItLeft) {
  for (int fails : {1, 2}) {
    fs.appendFails = fails;
    AtomicRun run(Pieces(), L"test.vsl");
    {
      platform::ScopedPlatform journaled(run.Pieces());
      EXPECT_THROW(platform::Fs().AppendTextLine(m.Path(L"new"), L"x"), VslError);
    }
    EXPECT_EQ(m.Exists(L"new"), fails == 2);
    const RollbackReport r = run.TheJournal().Rollback();
    EXPECT_EQ((std::pair{r.undone, r.failed.size()}), (std::pair{fails == 2 ? 1 : 0, std::size_t{0}})) << fails;
    EXPECT_FALSE(m.Exists(L"new"));
  }
}
