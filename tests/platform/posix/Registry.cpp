// The POSIX registry: an SQLite database shared by processes, files it cannot use,
// converting names of an older folding, and the codes of its handles.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/TestMachine.h"
#include "platform/posix/Registry.h"

using namespace platform;
using posix::PosixRegistry;
using V = std::vector<std::wstring>;
using Codes = std::vector<long>;

static std::string Describe(Registry& reg) {
  RegKey k = 0;
  return text::ToUtf8(Raised([&] { reg.OpenKey(kHKeyLocalMachine, L"Any", kKeyRead, &k); }));
}
// Forks a child that exits with `body()`, with a pipe from it; WaitFor gives its wait status.
template <class F> static pid_t Child(int fds[2], F body) {
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {  // a child that raises reports and exits: it must not run on into the rest of the test
    close(fds[0]);
    try { _exit(body(fds[1])); } catch (const std::exception& e) { std::fprintf(stderr, "child: %s\n", e.what()); }
    _exit(99);
  }
  close(fds[1]);
  return pid;
}
static int WaitFor(pid_t pid) {
  int status = -1;
  return waitpid(pid, &status, 0), status;
}
// Reads from `fd` until its end or until `lines` line ends have come.
static std::string Drain(int fd, long lines = 1L << 30) {
  std::string all;
  char buf[256];
  for (ssize_t n; std::count(all.begin(), all.end(), '\n') < lines && (n = read(fd, buf, sizeof buf)) > 0;)
    all.append(buf, static_cast<std::size_t>(n));
  return all;
}
// Runs SQL on a database file; the first column of the last row returned, or "<none>".
static std::string Sql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  std::string result = "<none>";
  auto keep = [](void* r, int, char** row, char**) { return *static_cast<std::string*>(r) = row[0] ? row[0] : "", 0; };
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) sqlite3_exec(db, sql, keep, &result, nullptr);
  sqlite3_close(db);
  return result;
}

class PosixRegistryTest : public ::testing::Test {
 protected:
  TestMachine m;
  const std::string path = m.HostPath(L"registry.db");
  std::unique_ptr<PosixRegistry> Open(const std::string& p = "") {
    return std::make_unique<PosixRegistry>([p = p.empty() ? path : p] { return p; });
  }
};

TEST_F(PosixRegistryTest, HandlesNamesAndRootsAnswerWithWindowsCodes) {
  auto reg = Open();
  HeldKeys key{*reg};
  RegKey k = 0;
  // Empty components: a trailing one is ignored, others name nothing and make nothing; names up to 255.
  const RegKey a = key(kHKeyLocalMachine, L"P\\Q\\", true);
  EXPECT_EQ((Codes{reg->OpenKey(kHKeyLocalMachine, L"\\P", kKeyRead, &k), reg->CreateKey(kHKeyLocalMachine, L"P\\\\R", &k),
                   reg->CreateKey(kHKeyLocalMachine, std::wstring(256, L'n'), &k)}),
            (Codes{kErrorFileNotFound, kErrorFileNotFound, posix::kErrorInvalidParameter}));
  EXPECT_EQ(Subkeys(*reg, key(kHKeyLocalMachine, L"P")), V{L"Q"});
  EXPECT_TRUE(a != 0 && key(kHKeyLocalMachine, std::wstring(255, L'n'), true) != 0);
  // The root is never deleted, whatever names it (by name: tests/scripts/registry/parse_time.vsl).
  EXPECT_EQ(reg->DeleteKey(key(kHKeyLocalMachine, L""), L""), kErrorAccessDenied);
  // A failed transaction leaves nothing behind.
  EXPECT_THROW(reg->Transact([&] { SetSz(*reg, a, L"undone", "1"), throw VslError(L"stop"); }), VslError);
  EXPECT_EQ(GetValue(*reg, a, L"undone"), "<missing>");
  // Handles of deleted keys fail without reaching a new key of the same name.
  const RegKey stale = key(kHKeyLocalMachine, L"Gone", true);
  ASSERT_EQ(reg->DeleteKey(kHKeyLocalMachine, L"Gone"), kErrorSuccess);
  key(kHKeyLocalMachine, L"Gone", true);
  EXPECT_EQ(SetSz(*reg, stale, L"w", "x"), posix::kErrorKeyDeleted);
}

// A walk over subkeys reads them once, yet sees at its next step what changed meanwhile, here or through
// another connection; a key that it opened without subkeys finds the ones it got since. Inside a snapshot
// the other connection's changes stay out of sight.
TEST_F(PosixRegistryTest, WalksOverSubkeysSeeChangesButASnapshotDoesNot) {
  auto reg = Open(), other = Open();
  HeldKeys key{*reg}, otherKey{*other};
  const RegKey base = key(kHKeyLocalMachine, L"W", true);
  for (const wchar_t* n : {L"a", L"b", L"c"}) ASSERT_NE(key(base, n, true), 0u);
  std::wstring second, inC;
  ASSERT_EQ(reg->EnumKey(base, 1, 256, &second), kErrorSuccess);
  const RegKey c = key(base, L"C");
  ASSERT_EQ(reg->EnumKey(c, 0, 256, &inC), kErrorNoMoreItems);
  ASSERT_NE(otherKey(kHKeyLocalMachine, L"W\\c\\new", true), 0u);
  ASSERT_EQ(other->DeleteKey(kHKeyLocalMachine, L"W\\b"), kErrorSuccess);
  EXPECT_EQ((Codes{reg->EnumKey(base, 1, 256, &second), reg->EnumKey(c, 0, 256, &inC)}), (Codes{0, 0}));
  EXPECT_EQ((V{second, inC}), (V{L"c", L"new"}));
  RegKey gone = 0;
  EXPECT_EQ(reg->OpenKey(base, L"B", kKeyRead, &gone), kErrorFileNotFound);
  ASSERT_NE(key(base, L"_b", true), 0u);  // a change of this connection; '_' sorts after the letters
  EXPECT_EQ(Subkeys(*reg, base), (V{L"a", L"c", L"_b"}));
  reg->Snapshot([&] {
    const V before = Subkeys(*reg, base);
    ASSERT_NE(otherKey(kHKeyLocalMachine, L"W\\d", true), 0u);
    EXPECT_EQ(Subkeys(*reg, base), before);
  });
  EXPECT_EQ(Subkeys(*reg, base), (V{L"a", L"c", L"d", L"_b"}));
}

// An atomic run's undo records, by run and number: one of them goes, or all of the run's.
TEST_F(PosixRegistryTest, UndoRecordsAreKeptAndDroppedByRunAndNumber) {
  auto reg = Open();
  using Records = std::vector<std::pair<std::int64_t, std::string>>;
  reg->Transact([&] {
    for (std::int64_t seq : {1, 0, 2}) reg->AddUndoRecord("run", seq, "r" + std::to_string(seq));
    reg->AddUndoRecord("other", 0, "o0");
  });
  EXPECT_EQ(reg->UndoRecords("run"), (Records{{0, "r0"}, {1, "r1"}, {2, "r2"}}));
  reg->DropUndoRecords("run", 0);
  EXPECT_EQ(reg->UndoRecords("run"), (Records{{1, "r1"}, {2, "r2"}}));
  reg->DropUndoRecords("run", -1);
  EXPECT_EQ((std::pair{reg->UndoRecords("run"), reg->UndoRecords("other")}), (std::pair{Records{}, Records{{0, "o0"}}}));
}

TEST_F(PosixRegistryTest, ReportsUnusableFilesByName) {  // and one that is no database: broken_database.vsl
  const std::string other = m.HostPath(L"other.db"), odd = m.HostPath(L"odd.db"), none = m.HostPath(L"no/dir/r.db");
  const std::string cannot = "Cannot open the registry database ";
  Sql(other, "CREATE TABLE t(x); INSERT INTO t VALUES(42);");
  auto reg = Open(other);
  EXPECT_EQ(Describe(*reg), cannot + other + ": the file holds another database, not a registry");
  EXPECT_EQ(Sql(other, "SELECT group_concat(name) FROM sqlite_master"), "t");
  Sql(odd, "CREATE TABLE keys(a); CREATE TABLE key_values(b);");
  EXPECT_EQ(Describe(*Open(odd)).rfind(cannot + odd + ": the file is not a registry database (", 0), 0u);
  EXPECT_EQ(Describe(*Open(none)), cannot + none + ": unable to open database file");
}

TEST_F(PosixRegistryTest, SeveralProcessesWritingAtOnceLoseNothing) {
  constexpr int kChildren = 4, kValues = 150;
  auto keyOf = [](int i) { return L"Shared\\Deep\\K" + std::to_wstring(i % 7); };
  auto nameOf = [](int c, int i) { return L"c" + std::to_wstring(c) + L"_" + std::to_wstring(i); };
  std::vector<pid_t> pids;
  for (int c = 0; c < kChildren; ++c) {
    int fds[2];
    pids.push_back(Child(fds, [&](int) {
      PosixRegistry reg([p = path] { return p; });
      for (int i = 0; i < kValues; ++i) {
        KeyHandle k(reg);
        if (reg.CreateKey(kHKeyLocalMachine, keyOf(i), k.Out()) != kErrorSuccess ||
            SetSz(reg, k.Get(), nameOf(c, i), std::to_string(c * 1000 + i)) != kErrorSuccess)
          return 2;
      }
      return 0;
    }));
    close(fds[0]);
  }
  for (pid_t pid : pids) EXPECT_EQ(WaitFor(pid), 0);
  auto reg = Open();
  HeldKeys key{*reg};
  for (int c = 0; c < kChildren; ++c)
    for (int i = 0; i < kValues; ++i)
      EXPECT_EQ(GetValue(*reg, key(kHKeyLocalMachine, keyOf(i)), nameOf(c, i)), std::to_string(c * 1000 + i) + '\0');
  EXPECT_EQ(Subkeys(*reg, key(kHKeyLocalMachine, L"Shared\\Deep")).size(), 7u);  // no duplicates from racing creations
}

TEST_F(PosixRegistryTest, AWriterKilledMidStreamLeavesEveryCommittedValue) {
  auto valueOf = [](int i) { return std::string(100 + i % 50, 'x') + std::to_string(i); };
  int fds[2];
  const pid_t pid = Child(fds, [&](int out) {
    PosixRegistry reg([p = path] { return p; });
    RegKey k = 0;
    if (reg.CreateKey(kHKeyLocalMachine, L"Stream", &k) != kErrorSuccess) return 2;
    for (int i = 0;; ++i)
      if (SetSz(reg, k, L"v" + std::to_wstring(i), valueOf(i)) != kErrorSuccess || write(out, "\n", 1) != 1) return 3;
  });
  std::string seen = Drain(fds[0], 400);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  ASSERT_TRUE(WIFSIGNALED(WaitFor(pid)));
  seen += Drain(fds[0]);
  close(fds[0]);
  const int reported = static_cast<int>(std::count(seen.begin(), seen.end(), '\n'));
  ASSERT_GE(reported, 400);
  auto reg = Open();
  HeldKeys key{*reg};
  const RegKey k = key(kHKeyLocalMachine, L"Stream");
  for (int i = 0; i < reported; ++i)
    ASSERT_EQ(GetValue(*reg, k, L"v" + std::to_wstring(i)), valueOf(i) + '\0') << i;
  EXPECT_EQ(Sql(path, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(SetSz(*reg, k, L"after", "1"), kErrorSuccess);
}

// A registry of the older folding (ASCII and Latin-1 upper-cased; Cyrillic as itself), no registry_info, is
// refused untouched while it is read-only, even to root, then converted once. Key 4 ("ЖАР") collides with the
// older key 3 ("жар"), its subkey 6 with key 5.
TEST_F(PosixRegistryTest, AnOldFoldingIsRefusedWhileReadOnlyThenConvertedOnceMergingKeysThatNowCollide) {
  Sql(path,
      "PRAGMA journal_mode=WAL; CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent_id INTEGER NOT NULL,"
      " name TEXT NOT NULL, name_folded TEXT NOT NULL, UNIQUE(parent_id, name_folded)); CREATE TABLE key_values(key_id"
      " INTEGER NOT NULL, name TEXT NOT NULL, name_folded TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
      " UNIQUE(key_id, name_folded)); INSERT INTO keys VALUES(1, 0, '', ''), (2, 1, 'Software', 'SOFTWARE'), (3, 2, 'жар', 'жар'),"
      " (4, 2, 'ЖАР', 'ЖАР'), (5, 3, 'Sub', 'SUB'), (6, 4, 'sub', 'SUB'), (7, 4, 'Other', 'OTHER'), (8, 6, 'deep', 'DEEP'),"
      " (9, 2, 'Café', 'CAFÉ'); INSERT INTO key_values VALUES(3, 'v', 'V', 1, 'older'), (4, 'V', 'V', 1, 'newer'),"
      " (4, 'только', 'только', 1, 'moved'), (5, 'x', 'X', 1, 'five'), (6, 'X', 'X', 1, 'six'), (6, 'y', 'Y', 1, 'why'),"
      " (2, 'ключ', 'ключ', 1, 'first'), (2, 'КЛЮЧ', 'КЛЮЧ', 1, 'second'), (9, 'É', 'É', 1, 'latin');");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(chmod(m.HostPath().c_str(), 0777), 0);  // room for SQLite's shared-memory file
  ASSERT_EQ(chmod((m.HostPath() + "/..").c_str(), 0755), 0);
  int fds[2];
  const pid_t pid = Child(fds, [&](int out) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;  // root may write any file
    PosixRegistry reg([p = path] { return p; });
    const std::string d = Describe(reg);
    return write(out, d.data(), d.size()) == static_cast<ssize_t>(d.size()) ? 0 : 3;
  });
  const std::string said = Drain(fds[0]);
  close(fds[0]);
  EXPECT_EQ(WaitFor(pid), 0);
  EXPECT_EQ(said, "Cannot open the registry database " + path + ": its key and value names must be converted to" +
                      " the case folding of Unicode " + text::kCaseFoldingVersion + ", but the file is read-only");
  EXPECT_EQ(Sql(path, "SELECT name_folded || (SELECT count(*) FROM sqlite_master WHERE name = 'registry_info')"
                      " FROM keys WHERE id = 4"), "ЖАР0");
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  {
    auto reg = Open();
    HeldKeys key{*reg};
    const RegKey soft = key(kHKeyLocalMachine, L"software"), zhar = key(soft, L"ЖАР"), sub = key(zhar, L"sub");
    // The older spelling stays; keys are merged one level down too.
    EXPECT_EQ((std::vector<V>{Subkeys(*reg, soft), Subkeys(*reg, zhar), Subkeys(*reg, sub)}),
              (std::vector<V>{{L"Café", L"жар"}, {L"Other", L"Sub"}, {L"deep"}}));
    // Of two values that now share a name, the older stays.
    const std::tuple<RegKey, const wchar_t*, const char*> values[] = {{zhar, L"v", "older"}, {zhar, L"ТОЛЬКО", "moved"},
        {sub, L"X", "five"}, {sub, L"Y", "why"}, {soft, L"Ключ", "first"}, {key(soft, L"CAFÉ"), L"é", "latin"}};
    for (auto [k, name, value] : values) EXPECT_EQ(GetValue(*reg, k, name), value) << value;
  }
  EXPECT_EQ(Sql(path, "SELECT value FROM registry_info WHERE name = 'name_folding'"), text::FoldingIdentity());
  EXPECT_EQ(Sql(path, "SELECT (SELECT group_concat(id) FROM (SELECT id FROM keys ORDER BY id)) || ' ' || count(*)"
                      " FROM key_values"), "1,2,3,5,7,8,9 6");
  Sql(path, "UPDATE keys SET name_folded = 'MARK' WHERE id = 7");  // a file of the current folding stays as it is
  auto reg = Open();
  EXPECT_NE(HeldKeys{*reg}(kHKeyLocalMachine, L"Software"), 0u);
  EXPECT_EQ(Sql(path, "SELECT name_folded FROM keys WHERE id = 7"), "MARK");
}
