// The POSIX registry's own behaviour: an SQLite database shared by
// processes, what it does with files it cannot use, converting the names
// of an older folding, and the return codes of its handles.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "platform/TestMachine.h"
#include "platform/Text.h"
#include "platform/posix/Registry.h"

namespace {

using namespace platform;
using posix::PosixRegistry;
using V = std::vector<std::wstring>;

std::string Describe(Registry& reg) {
  RegKey k = 0;
  return text::ToUtf8(Raised([&] { reg.OpenKey(kHKeyLocalMachine, L"Any", kKeyRead, &k); }));
}
std::string Drain(int fd) {
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<std::size_t>(n));
  return all;
}
// Runs SQL on a database file; the first column of the first row, or "<none>".
std::string Sql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  std::string result = "<none>";
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    const char* rest = sql;
    while (*rest != '\0' && sqlite3_prepare_v2(db, rest, -1, &stmt, &rest) == SQLITE_OK && stmt != nullptr) {
      if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0) != nullptr)
        result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      sqlite3_finalize(stmt);
    }
  }
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
  RegKey k = 0;
  EXPECT_EQ(reg->CloseKey(12345), kErrorInvalidHandle);
  EXPECT_EQ(reg->CloseKey(kHKeyLocalMachine), kErrorSuccess);
  std::uint32_t size = 0;
  EXPECT_EQ(reg->QueryValue(777, L"", nullptr, nullptr, &size), kErrorInvalidHandle);
  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"X", &k), kErrorSuccess);
  EXPECT_NE(k, kHKeyLocalMachine);
  EXPECT_EQ(reg->CloseKey(k), kErrorSuccess);
  EXPECT_EQ(reg->CloseKey(k), kErrorInvalidHandle);
  EXPECT_EQ(reg->SetValue(k, L"v", kRegSz, nullptr, 0), kErrorInvalidHandle);
  // Empty components: a trailing one is ignored, others name nothing; nothing is made.
  KeyHandle a(*reg), c(*reg);
  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"P\\Q\\", a.Out()), kErrorSuccess);
  EXPECT_EQ(reg->OpenKey(kHKeyLocalMachine, L"\\P", kKeyRead, c.Out()), kErrorFileNotFound);
  EXPECT_EQ(reg->OpenKey(kHKeyLocalMachine, L"P\\\\Q", kKeyRead, c.Out()), kErrorFileNotFound);
  EXPECT_EQ(reg->CreateKey(kHKeyLocalMachine, L"P\\\\R", c.Out()), kErrorFileNotFound);
  ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"P", kKeyRead, c.Out()), kErrorSuccess);
  EXPECT_EQ(Subkeys(*reg, c.Get()), V{L"Q"});
  EXPECT_EQ(reg->CreateKey(kHKeyLocalMachine, std::wstring(256, L'n'), c.Out()), posix::kErrorInvalidParameter);
  EXPECT_EQ(reg->CreateKey(kHKeyLocalMachine, std::wstring(255, L'n'), c.Out()), kErrorSuccess);
  // The root is never deleted, whatever names it.
  EXPECT_EQ(reg->DeleteKey(kHKeyLocalMachine, L""), kErrorAccessDenied);
  ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"", kKeyRead, c.Out()), kErrorSuccess);
  EXPECT_EQ(reg->DeleteKey(c.Get(), L""), kErrorAccessDenied);
  EXPECT_EQ(reg->EncodeText(L"caf\u00e9"), "caf\xC3\xA9");
  // A failed transaction leaves nothing behind.
  EXPECT_THROW(reg->Transact([&] {
    SetSz(*reg, a.Get(), L"undone", "1");
    throw VslError(L"stop");
  }), VslError);
  EXPECT_EQ(GetValue(*reg, a.Get(), L"undone"), "<missing>");
}

TEST_F(PosixRegistryTest, HandlesOfDeletedKeysFailWithoutReachingANewKey) {
  auto reg = Open();
  KeyHandle again(*reg), fresh(*reg);
  RegKey stale = 0;
  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"Gone", &stale), kErrorSuccess);
  ASSERT_EQ(reg->DeleteKey(kHKeyLocalMachine, L"Gone"), kErrorSuccess);
  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"Gone", fresh.Out()), kErrorSuccess);
  std::wstring name;
  std::uint32_t size = 0;
  EXPECT_EQ(reg->QueryValue(stale, L"v", nullptr, nullptr, &size), posix::kErrorKeyDeleted);
  EXPECT_EQ(SetSz(*reg, stale, L"w", "x"), posix::kErrorKeyDeleted);
  EXPECT_EQ(reg->EnumKey(stale, 0, 256, &name), posix::kErrorKeyDeleted);
  EXPECT_EQ(reg->OpenKey(stale, L"", kKeyRead, again.Out()), posix::kErrorKeyDeleted);
  EXPECT_EQ(reg->CreateKey(stale, L"child", again.Out()), posix::kErrorKeyDeleted);
  EXPECT_EQ(reg->DeleteValue(stale, L"v"), posix::kErrorKeyDeleted);
  EXPECT_EQ(reg->DeleteKey(stale, L""), posix::kErrorKeyDeleted);
  EXPECT_EQ(GetValue(*reg, fresh.Get(), L"w"), "<missing>");
  EXPECT_EQ(Subkeys(*reg, fresh.Get()).size(), 0u);
  EXPECT_EQ(reg->CloseKey(stale), kErrorSuccess);
}

TEST_F(PosixRegistryTest, OpensTheFileLazily) {
  int calls = 0;
  {
    PosixRegistry reg([&] { return ++calls, path; });
    EXPECT_EQ(reg.CloseKey(kHKeyLocalMachine), kErrorSuccess);  // needs no database
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(m.Exists(L"registry.db"));
    KeyHandle k(reg);
    ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, L"Keep\\Me", k.Out()), kErrorSuccess);
    ASSERT_EQ(SetSz(reg, k.Get(), L"Name", "value"), kErrorSuccess);
    EXPECT_EQ(calls, 1);
  }
  EXPECT_TRUE(m.Exists(L"registry.db"));
}

TEST_F(PosixRegistryTest, UnusableFilesAreReportedByNameAndLeftAlone) {
  const std::string other = m.HostPath(L"other.db"), odd = m.HostPath(L"odd.db"), none = m.HostPath(L"no/dir/r.db");
  Sql(other, "CREATE TABLE t(x); INSERT INTO t VALUES(42);");
  auto reg = Open(other);
  const std::string notOurs = "Cannot open the registry database " + other + ": the file holds another database, not a registry";
  EXPECT_EQ(Describe(*reg), notOurs);
  EXPECT_EQ(Describe(*reg), notOurs);  // each call that needs it reports it again
  EXPECT_EQ(Sql(other, "SELECT group_concat(name) FROM sqlite_master"), "t");
  Sql(odd, "CREATE TABLE keys(a); CREATE TABLE key_values(b);");
  EXPECT_EQ(Describe(*Open(odd)).rfind("Cannot open the registry database " + odd + ": the file is not a registry database (", 0), 0u);
  EXPECT_EQ(Describe(*Open(none)), "Cannot open the registry database " + none + ": unable to open database file");
}

TEST_F(PosixRegistryTest, SeveralProcessesWritingAtOnceLoseNothing) {
  constexpr int kChildren = 4, kValues = 150;
  auto keyOf = [](int c, int i) {
    return (i % 2 == 0 ? L"Shared\\Deep\\" : L"Own" + std::to_wstring(c) + L"\\") + L"K" + std::to_wstring(i % 7);
  };
  std::vector<pid_t> pids;
  for (int c = 0; c < kChildren; ++c) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      try {
        PosixRegistry reg([p = path] { return p; });
        for (int i = 0; i < kValues && status == 0; ++i) {
          RegKey k = 0;
          if (reg.CreateKey(kHKeyLocalMachine, keyOf(c, i), &k) != kErrorSuccess) status = 2;
          if (SetSz(reg, k, L"c" + std::to_wstring(c) + L"_" + std::to_wstring(i), std::to_string(c * 1000 + i)) != kErrorSuccess) status = 3;
          reg.CloseKey(k);
        }
      } catch (...) {
        status = 4;
      }
      _exit(status);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  auto reg = Open();
  for (int c = 0; c < kChildren; ++c)
    for (int i = 0; i < kValues; ++i) {
      KeyHandle k(*reg);
      ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, keyOf(c, i), kKeyRead, k.Out()), kErrorSuccess);
      EXPECT_EQ(GetValue(*reg, k.Get(), L"c" + std::to_wstring(c) + L"_" + std::to_wstring(i)), std::to_string(c * 1000 + i) + '\0');
    }
  KeyHandle deep(*reg);
  ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"Shared\\Deep", kKeyRead, deep.Out()), kErrorSuccess);
  EXPECT_EQ(Subkeys(*reg, deep.Get()).size(), 7u);  // no duplicates from racing creations
}

TEST_F(PosixRegistryTest, AWriterKilledMidStreamLeavesEveryCommittedValue) {
  auto valueOf = [](int i) { return std::string(100 + i % 50, 'x') + std::to_string(i); };
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    PosixRegistry reg([p = path] { return p; });
    RegKey k = 0;
    if (reg.CreateKey(kHKeyLocalMachine, L"Stream", &k) != kErrorSuccess) _exit(2);
    for (int i = 0;; ++i) {
      if (SetSz(reg, k, L"v" + std::to_wstring(i), valueOf(i)) != kErrorSuccess) _exit(3);
      if (write(fds[1], "\n", 1) != 1) _exit(4);
    }
  }
  close(fds[1]);
  std::string seen;
  char buf[256];
  while (std::count(seen.begin(), seen.end(), '\n') < 400) {
    const ssize_t n = read(fds[0], buf, sizeof buf);
    ASSERT_GT(n, 0);
    seen.append(buf, static_cast<std::size_t>(n));
  }
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  seen += Drain(fds[0]);
  close(fds[0]);
  auto reg = Open();
  KeyHandle k(*reg);
  ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"Stream", kKeyRead, k.Out()), kErrorSuccess);
  const int reported = static_cast<int>(std::count(seen.begin(), seen.end(), '\n'));
  for (int i = 0; i < reported; ++i) ASSERT_EQ(GetValue(*reg, k.Get(), L"v" + std::to_wstring(i)), valueOf(i) + '\0') << i;
  EXPECT_EQ(Sql(path, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(SetSz(*reg, k.Get(), L"after", "1"), kErrorSuccess);
}

// A registry as written when names were folded by upper-casing ASCII and
// Latin-1 only: no registry_info, and Cyrillic names folded as themselves.
// Key 4 ("ЖАР") collides with the older key 3 ("жар"), its subkey 6 with key 5.
void WriteOldRegistry(const std::string& path) {
  Sql(path,
      "PRAGMA journal_mode=WAL;"
      "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent_id INTEGER NOT NULL, name TEXT NOT NULL,"
      "  name_folded TEXT NOT NULL, UNIQUE(parent_id, name_folded));"
      "CREATE TABLE key_values(key_id INTEGER NOT NULL, name TEXT NOT NULL, name_folded TEXT NOT NULL,"
      "  type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key_id, name_folded));"
      "INSERT INTO keys VALUES(1, 0, '', ''), (2, 1, 'Software', 'SOFTWARE'),"
      "  (3, 2, 'жар', 'жар'), (4, 2, 'ЖАР', 'ЖАР'), (5, 3, 'Sub', 'SUB'), (6, 4, 'sub', 'SUB'),"
      "  (7, 4, 'Other', 'OTHER'), (8, 6, 'deep', 'DEEP'), (9, 2, 'Café', 'CAFÉ');"
      "INSERT INTO key_values VALUES(3, 'v', 'V', 1, 'older'), (4, 'V', 'V', 1, 'newer'),"
      "  (4, 'только', 'только', 1, 'moved'), (5, 'x', 'X', 1, 'five'), (6, 'X', 'X', 1, 'six'),"
      "  (6, 'y', 'Y', 1, 'why'), (2, 'ключ', 'ключ', 1, 'first'), (2, 'КЛЮЧ', 'КЛЮЧ', 1, 'second'),"
      "  (9, 'É', 'É', 1, 'latin');");
}

TEST_F(PosixRegistryTest, AFileOfTheOldFoldingIsConvertedOnceMergingKeysThatNowCollide) {
  WriteOldRegistry(path);
  {
    auto reg = Open();
    auto raw = [&](RegKey k, const wchar_t* name) { return GetValue(*reg, k, name); };
    KeyHandle soft(*reg), zhar(*reg), sub(*reg), deep(*reg), cafe(*reg);
    ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"software", kKeyRead, soft.Out()), kErrorSuccess);
    EXPECT_EQ(Subkeys(*reg, soft.Get()), (V{L"Café", L"жар"}));  // the older spelling stays
    ASSERT_EQ(reg->OpenKey(soft.Get(), L"ЖАР", kKeyRead, zhar.Out()), kErrorSuccess);
    EXPECT_EQ(Subkeys(*reg, zhar.Get()), (V{L"Other", L"Sub"}));
    EXPECT_EQ(raw(zhar.Get(), L"v"), "older");
    EXPECT_EQ(raw(zhar.Get(), L"ТОЛЬКО"), "moved");
    ASSERT_EQ(reg->OpenKey(zhar.Get(), L"sub", kKeyRead, sub.Out()), kErrorSuccess);  // merged one level down
    EXPECT_EQ(Subkeys(*reg, sub.Get()), V{L"deep"});
    EXPECT_EQ(raw(sub.Get(), L"X"), "five");
    EXPECT_EQ(raw(sub.Get(), L"Y"), "why");
    ASSERT_EQ(reg->OpenKey(sub.Get(), L"DEEP", kKeyRead, deep.Out()), kErrorSuccess);
    EXPECT_EQ(raw(soft.Get(), L"Ключ"), "first");  // of two values that now share a name, the older
    ASSERT_EQ(reg->OpenKey(soft.Get(), L"CAFÉ", kKeyRead, cafe.Out()), kErrorSuccess);
    EXPECT_EQ(raw(cafe.Get(), L"é"), "latin");
  }
  EXPECT_EQ(Sql(path, "SELECT value FROM registry_info WHERE name = 'name_folding'"), text::FoldingIdentity());
  EXPECT_EQ(Sql(path, "SELECT group_concat(id) FROM (SELECT id FROM keys ORDER BY id)"), "1,2,3,5,7,8,9");
  EXPECT_EQ(Sql(path, "SELECT count(*) FROM key_values"), "6");
  // A file of the current folding is left as it is.
  Sql(path, "UPDATE keys SET name_folded = 'MARK' WHERE id = 7");
  auto reg = Open();
  KeyHandle soft(*reg);
  ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"Software", kKeyRead, soft.Out()), kErrorSuccess);
  EXPECT_EQ(Sql(path, "SELECT name_folded FROM keys WHERE id = 7"), "MARK");
}

TEST_F(PosixRegistryTest, AReadOnlyFileOfTheOldFoldingIsRefusedUntouchedEvenForRoot) {
  WriteOldRegistry(path);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(chmod(m.HostPath().c_str(), 0777), 0);  // room for SQLite's shared-memory file
  ASSERT_EQ(chmod((m.HostPath() + "/..").c_str(), 0755), 0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    // Root may write any file: open it as another user.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    PosixRegistry reg([p = path] { return p; });
    const std::string d = Describe(reg);
    _exit(write(fds[1], d.data(), d.size()) == static_cast<ssize_t>(d.size()) ? 0 : 3);
  }
  close(fds[1]);
  const std::string said = Drain(fds[0]);
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(said, "Cannot open the registry database " + path +
                      ": its key and value names must be converted to the case folding of Unicode " +
                      text::kCaseFoldingVersion + ", but the file is read-only");
  EXPECT_EQ(Sql(path, "SELECT name_folded FROM keys WHERE id = 4"), "ЖАР");
  EXPECT_EQ(Sql(path, "SELECT count(*) FROM sqlite_master WHERE name = 'registry_info'"), "0");
}

}  // namespace
