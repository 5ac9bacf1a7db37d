#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "platform/posix/Registry.h"

using namespace platform;
using posix::PosixRegistry;

namespace {

class PosixRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vslregXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/registry.db";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::unique_ptr<PosixRegistry> Open() {
    return std::make_unique<PosixRegistry>([p = path_] { return p; });
  }

  static std::vector<std::uint8_t> Sz(const std::string& s) {
    std::vector<std::uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return v;
  }
  static long SetSz(Registry& r, RegKey k, const std::wstring& name, const std::string& s) {
    auto v = Sz(s);
    return r.SetValue(k, name, kRegSz, v.data(), static_cast<std::uint32_t>(v.size()));
  }
  static std::string GetSz(Registry& r, RegKey k, const std::wstring& name) {
    std::uint8_t buf[512];
    std::uint32_t size = sizeof buf;
    std::uint32_t type = 0;
    if (r.QueryValue(k, name, &type, buf, &size) != kErrorSuccess) return "<missing>";
    return std::string(reinterpret_cast<char*>(buf), size);
  }
  static std::vector<std::wstring> Subkeys(Registry& r, RegKey k) {
    std::vector<std::wstring> names;
    std::wstring name;
    for (std::uint32_t i = 0; r.EnumKey(k, i, 256, &name) == kErrorSuccess; ++i) names.push_back(name);
    return names;
  }

  std::string dir_;
  std::string path_;
};

TEST_F(PosixRegistryTest, NamesAreCaseInsensitiveAndKeepTheirFirstSpelling) {
  auto reg = Open();
  KeyHandle a(*reg), b(*reg), c(*reg);
  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"Software\\Vendor", a.Out()), kErrorSuccess);
  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"SOFTWARE\\vendor\\Sub", b.Out()), kErrorSuccess);
  ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"software\\VENDOR", kKeyRead, c.Out()), kErrorSuccess);
  EXPECT_EQ(Subkeys(*reg, kHKeyLocalMachine), std::vector<std::wstring>{L"Software"});
  EXPECT_EQ(Subkeys(*reg, c.Get()), std::vector<std::wstring>{L"Sub"});

  EXPECT_EQ(SetSz(*reg, a.Get(), L"Path", "one"), kErrorSuccess);
  EXPECT_EQ(SetSz(*reg, c.Get(), L"PATH", "two"), kErrorSuccess);  // same value, other spelling
  EXPECT_EQ(GetSz(*reg, a.Get(), L"path"), std::string("two\0", 4));
  EXPECT_EQ(reg->DeleteValue(a.Get(), L"pAtH"), kErrorSuccess);
  EXPECT_EQ(reg->DeleteValue(a.Get(), L"Path"), kErrorFileNotFound);

  // Non-ASCII names fold too, in every script.
  const std::pair<const wchar_t*, const wchar_t*> spellings[] = {
      {L"Software\\\u00e9t\u00e9", L"SOFTWARE\\\u00c9T\u00c9"},      // été
      {L"Software\\\u0436\u0430\u0440", L"SOFTWARE\\\u0416\u0410\u0420"},  // жар
      {L"Software\\\u03c3\u03c2", L"SOFTWARE\\\u03a3\u03a3"},        // σς
  };
  for (auto [made, asked] : spellings) {
    KeyHandle d(*reg), e(*reg);
    ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, made, d.Out()), kErrorSuccess);
    EXPECT_EQ(reg->OpenKey(kHKeyLocalMachine, asked, kKeyRead, e.Out()), kErrorSuccess) << text::ToUtf8(asked);
  }
}

TEST_F(PosixRegistryTest, SubkeysEnumerateInCaseInsensitiveOrder) {
  auto reg = Open();
  KeyHandle k(*reg);
  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"Order", k.Out()), kErrorSuccess);
  for (const wchar_t* n : {L"b", L"_x", L"C", L"a", L"B2"}) {
    KeyHandle sub(*reg);
    ASSERT_EQ(reg->CreateKey(k.Get(), n, sub.Out()), kErrorSuccess);
  }
  // Upper-case comparison: '_' (0x5F) sorts after the letters.
  EXPECT_EQ(Subkeys(*reg, k.Get()), (std::vector<std::wstring>{L"a", L"b", L"B2", L"C", L"_x"}));

  std::wstring name = L"unchanged";
  EXPECT_EQ(reg->EnumKey(k.Get(), 5, 256, &name), kErrorNoMoreItems);
  EXPECT_EQ(reg->EnumKey(k.Get(), 2, 2, &name), kErrorMoreData);  // "B2" needs 3 with its terminator
  EXPECT_EQ(reg->EnumKey(k.Get(), 2, 3, &name), kErrorSuccess);
  EXPECT_EQ(name, L"B2");

  KeyHandle empty(*reg);
  ASSERT_EQ(reg->OpenKey(k.Get(), L"a", kKeyRead, empty.Out()), kErrorSuccess);
  EXPECT_EQ(reg->EnumKey(empty.Get(), 0, 256, &name), kErrorNoMoreItems);
}

TEST_F(PosixRegistryTest, ReturnCodesOfMissingThingsAndBadHandles) {
  auto reg = Open();
  RegKey k = 0;
  EXPECT_EQ(reg->OpenKey(kHKeyLocalMachine, L"Nope", kKeyRead, &k), kErrorFileNotFound);
  EXPECT_EQ(k, 0u);
  EXPECT_EQ(reg->DeleteKey(kHKeyLocalMachine, L"Nope"), kErrorFileNotFound);
  EXPECT_EQ(reg->CloseKey(12345), kErrorInvalidHandle);
  EXPECT_EQ(reg->CloseKey(kHKeyLocalMachine), kErrorSuccess);
  std::uint32_t size = 0;
  EXPECT_EQ(reg->QueryValue(777, L"", nullptr, nullptr, &size), kErrorInvalidHandle);
  EXPECT_EQ(reg->QueryValue(kHKeyLocalMachine, L"none", nullptr, nullptr, &size), kErrorFileNotFound);
  EXPECT_EQ(reg->DeleteValue(kHKeyLocalMachine, L"none"), kErrorFileNotFound);

  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"X", &k), kErrorSuccess);
  EXPECT_NE(k, 0u);
  EXPECT_NE(k, kHKeyLocalMachine);
  EXPECT_EQ(reg->CloseKey(k), kErrorSuccess);
  EXPECT_EQ(reg->CloseKey(k), kErrorInvalidHandle);  // closed twice
  EXPECT_EQ(reg->SetValue(k, L"v", kRegSz, nullptr, 0), kErrorInvalidHandle);
}

TEST_F(PosixRegistryTest, PathsWithEmptyComponents) {
  auto reg = Open();
  KeyHandle a(*reg), b(*reg), c(*reg), d(*reg);
  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"P\\Q\\", a.Out()), kErrorSuccess);  // trailing: ignored
  EXPECT_EQ(reg->OpenKey(kHKeyLocalMachine, L"P\\Q", kKeyRead, b.Out()), kErrorSuccess);
  EXPECT_EQ(Subkeys(*reg, b.Get()).size(), 0u);
  EXPECT_EQ(reg->OpenKey(kHKeyLocalMachine, L"\\P", kKeyRead, c.Out()), kErrorFileNotFound);
  EXPECT_EQ(reg->OpenKey(kHKeyLocalMachine, L"P\\\\Q", kKeyRead, c.Out()), kErrorFileNotFound);
  EXPECT_EQ(reg->CreateKey(kHKeyLocalMachine, L"P\\\\R", c.Out()), kErrorFileNotFound);
  KeyHandle p(*reg);
  ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"P", kKeyRead, p.Out()), kErrorSuccess);
  EXPECT_EQ(Subkeys(*reg, p.Get()), std::vector<std::wstring>{L"Q"});  // nothing made by the failures

  // "" opens the parent again as a handle of its own.
  ASSERT_EQ(reg->OpenKey(a.Get(), L"", kKeyRead, d.Out()), kErrorSuccess);
  EXPECT_NE(d.Get(), a.Get());
  ASSERT_EQ(SetSz(*reg, d.Get(), L"v", "x"), kErrorSuccess);
  EXPECT_EQ(GetSz(*reg, b.Get(), L"v"), std::string("x\0", 2));

  // Key names longer than 255 characters are refused, 255 are fine.
  KeyHandle e(*reg);
  EXPECT_EQ(reg->CreateKey(kHKeyLocalMachine, std::wstring(256, L'n'), e.Out()), posix::kErrorInvalidParameter);
  EXPECT_EQ(reg->CreateKey(kHKeyLocalMachine, std::wstring(255, L'n'), e.Out()), kErrorSuccess);
}

TEST_F(PosixRegistryTest, QueryValueReportsSizeAndRefusesSmallBuffers) {
  auto reg = Open();
  KeyHandle k(*reg);
  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"V", k.Out()), kErrorSuccess);
  ASSERT_EQ(SetSz(*reg, k.Get(), L"s", "hello"), kErrorSuccess);

  std::uint32_t type = 99, size = 0;
  EXPECT_EQ(reg->QueryValue(k.Get(), L"s", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 6u);

  std::uint8_t buf[6];
  size = 5;
  type = 99;
  EXPECT_EQ(reg->QueryValue(k.Get(), L"s", &type, buf, &size), kErrorMoreData);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(type, kRegSz);
  size = 6;
  EXPECT_EQ(reg->QueryValue(k.Get(), L"s", &type, buf, &size), kErrorSuccess);
  EXPECT_EQ(std::memcmp(buf, "hello", 6), 0);

  // Stored bytes come back exactly, without a terminator when none was given.
  const std::uint8_t raw[3] = {1, 0, 2};
  ASSERT_EQ(reg->SetValue(k.Get(), L"b", kRegBinary, raw, 3), kErrorSuccess);
  size = sizeof buf;
  EXPECT_EQ(reg->QueryValue(k.Get(), L"b", &type, buf, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(std::memcmp(buf, raw, 3), 0);

  // Rewriting changes type and data; an empty value has size 0.
  ASSERT_EQ(reg->SetValue(k.Get(), L"b", kRegDword, nullptr, 0), kErrorSuccess);
  size = sizeof buf;
  EXPECT_EQ(reg->QueryValue(k.Get(), L"b", &type, buf, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(size, 0u);
}

TEST_F(PosixRegistryTest, DefaultValueIsNamedByTheEmptyString) {
  auto reg = Open();
  KeyHandle k(*reg);
  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"D", k.Out()), kErrorSuccess);
  EXPECT_EQ(GetSz(*reg, k.Get(), L""), "<missing>");
  ASSERT_EQ(SetSz(*reg, k.Get(), L"", "default"), kErrorSuccess);
  ASSERT_EQ(SetSz(*reg, k.Get(), L"named", "other"), kErrorSuccess);
  EXPECT_EQ(GetSz(*reg, k.Get(), L""), std::string("default\0", 8));
  EXPECT_EQ(reg->DeleteValue(k.Get(), L""), kErrorSuccess);
  EXPECT_EQ(GetSz(*reg, k.Get(), L""), "<missing>");
  EXPECT_EQ(GetSz(*reg, k.Get(), L"named"), std::string("other\0", 6));
}

TEST_F(PosixRegistryTest, DeleteKeyRefusesKeysWithSubkeysAndTakesValuesAlong) {
  auto reg = Open();
  {
    KeyHandle k(*reg);
    ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"T\\U", k.Out()), kErrorSuccess);
    ASSERT_EQ(SetSz(*reg, k.Get(), L"v", "1"), kErrorSuccess);
  }
  EXPECT_EQ(reg->DeleteKey(kHKeyLocalMachine, L"T"), kErrorAccessDenied);
  EXPECT_EQ(reg->DeleteKey(kHKeyLocalMachine, L"t\\u"), kErrorSuccess);
  EXPECT_EQ(reg->DeleteKey(kHKeyLocalMachine, L"T\\U"), kErrorFileNotFound);
  {
    KeyHandle k(*reg);
    ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"T\\U", k.Out()), kErrorSuccess);
    EXPECT_EQ(GetSz(*reg, k.Get(), L"v"), "<missing>");  // the old value went with the old key
  }
  // The root is never deleted, whatever names it.
  EXPECT_EQ(reg->DeleteKey(kHKeyLocalMachine, L""), kErrorAccessDenied);
  KeyHandle root(*reg);
  ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"", kKeyRead, root.Out()), kErrorSuccess);
  EXPECT_EQ(reg->DeleteKey(root.Get(), L""), kErrorAccessDenied);
}

TEST_F(PosixRegistryTest, HandlesOfDeletedKeysFailWithoutReachingANewKey) {
  auto reg = Open();
  KeyHandle again(*reg), fresh(*reg);
  RegKey stale = 0;
  ASSERT_EQ(reg->CreateKey(kHKeyLocalMachine, L"Gone", &stale), kErrorSuccess);
  ASSERT_EQ(SetSz(*reg, stale, L"v", "old"), kErrorSuccess);
  ASSERT_EQ(reg->DeleteKey(kHKeyLocalMachine, L"Gone"), kErrorSuccess);
  // A key of the same name made afterwards is a different key.
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
  EXPECT_EQ(GetSz(*reg, fresh.Get(), L"w"), "<missing>");
  EXPECT_EQ(Subkeys(*reg, fresh.Get()).size(), 0u);
  EXPECT_EQ(reg->CloseKey(stale), kErrorSuccess);
}

TEST_F(PosixRegistryTest, OpensTheFileLazilyAndKeepsChangesAcrossReopening) {
  int calls = 0;
  {
    PosixRegistry reg([&] {
      ++calls;
      return path_;
    });
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(std::filesystem::exists(path_));
    EXPECT_EQ(reg.CloseKey(kHKeyLocalMachine), kErrorSuccess);  // needs no database
    EXPECT_EQ(calls, 0);
    KeyHandle k(reg);
    ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, L"Keep\\Me", k.Out()), kErrorSuccess);
    ASSERT_EQ(SetSz(reg, k.Get(), L"Name", "value"), kErrorSuccess);
    EXPECT_EQ(calls, 1);
  }
  auto reg = Open();
  KeyHandle k(*reg);
  ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"KEEP\\ME", kKeyRead, k.Out()), kErrorSuccess);
  EXPECT_EQ(GetSz(*reg, k.Get(), L"name"), std::string("value\0", 6));
  EXPECT_EQ(Subkeys(*reg, kHKeyLocalMachine), std::vector<std::wstring>{L"Keep"});
}

std::string Describe(Registry& reg) {
  try {
    RegKey k = 0;
    reg.OpenKey(kHKeyLocalMachine, L"Any", kKeyRead, &k);
  } catch (const VslError& e) {
    return text::ToUtf8(e.Description());
  }
  return "no error";
}

TEST_F(PosixRegistryTest, UnusableFilesAreReportedByNameAndLeftAlone) {
  {
    std::ofstream(path_) << "this is a text file, not a database, and it is long enough to be noticed\n";
    auto reg = Open();
    EXPECT_EQ(Describe(*reg), "Cannot open the registry database " + path_ + ": file is not a database");
    // Each call that needs the database reports it again.
    EXPECT_EQ(Describe(*reg), "Cannot open the registry database " + path_ + ": file is not a database");
    RegKey k = 0;
    EXPECT_THROW(reg->CreateKey(kHKeyLocalMachine, L"x", &k), VslError);
    std::ifstream in(path_);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "this is a text file, not a database, and it is long enough to be noticed");
  }
  {
    // An SQLite database of something else is not turned into a registry.
    std::string other = dir_ + "/other.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(42);", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    PosixRegistry reg([other] { return other; });
    EXPECT_EQ(Describe(reg),
              "Cannot open the registry database " + other + ": the file holds another database, not a registry");
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    char* names = nullptr;
    int rows = 0, cols = 0;
    char** table = nullptr;
    ASSERT_EQ(sqlite3_get_table(db, "SELECT name FROM sqlite_master", &table, &rows, &cols, &names), SQLITE_OK);
    EXPECT_EQ(rows, 1);
    sqlite3_free_table(table);
    sqlite3_close(db);
  }
  {
    // Tables of the right names but the wrong shape.
    std::string odd = dir_ + "/odd.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(odd.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE keys(a); CREATE TABLE key_values(b);", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    PosixRegistry reg([odd] { return odd; });
    std::string d = Describe(reg);
    EXPECT_EQ(d.rfind("Cannot open the registry database " + odd + ": the file is not a registry database (", 0), 0u)
        << d;
  }
  {
    std::string missing = dir_ + "/no/such/dir/registry.db";
    PosixRegistry reg([missing] { return missing; });
    EXPECT_EQ(Describe(reg), "Cannot open the registry database " + missing + ": unable to open database file");
  }
}

// Reads every byte a child wrote to a pipe.
std::string Drain(int fd) {
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<std::size_t>(n));
  return all;
}

TEST_F(PosixRegistryTest, SeveralProcessesWritingAtOnceLoseNothing) {
  constexpr int kChildren = 4;
  constexpr int kValues = 150;
  std::vector<pid_t> pids;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      try {
        PosixRegistry reg([p = path_] { return p; });
        for (int i = 0; i < kValues && status == 0; ++i) {
          RegKey k = 0;
          // Everyone creates the same shared path and a path of its own.
          std::wstring path = (i % 2 == 0 ? L"Shared\\Deep\\" : L"Own" + std::to_wstring(c) + L"\\") +
                              L"K" + std::to_wstring(i % 7);
          if (reg.CreateKey(kHKeyLocalMachine, path, &k) != kErrorSuccess) status = 2;
          auto v = Sz(std::to_string(c * 1000 + i));
          if (reg.SetValue(k, L"c" + std::to_wstring(c) + L"_" + std::to_wstring(i), kRegSz, v.data(),
                           static_cast<std::uint32_t>(v.size())) != kErrorSuccess)
            status = 3;
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
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  auto reg = Open();
  for (int c = 0; c < kChildren; ++c) {
    for (int i = 0; i < kValues; ++i) {
      std::wstring path = (i % 2 == 0 ? L"Shared\\Deep\\" : L"Own" + std::to_wstring(c) + L"\\") + L"K" +
                          std::to_wstring(i % 7);
      KeyHandle k(*reg);
      ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, path, kKeyRead, k.Out()), kErrorSuccess);
      EXPECT_EQ(GetSz(*reg, k.Get(), L"c" + std::to_wstring(c) + L"_" + std::to_wstring(i)),
                std::to_string(c * 1000 + i) + '\0');
    }
  }
  KeyHandle deep(*reg);
  ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"Shared\\Deep", kKeyRead, deep.Out()), kErrorSuccess);
  EXPECT_EQ(Subkeys(*reg, deep.Get()).size(), 7u);  // no duplicates from racing creations
}

TEST_F(PosixRegistryTest, AWriterKilledMidStreamLeavesEveryCommittedValue) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    PosixRegistry reg([p = path_] { return p; });
    RegKey k = 0;
    if (reg.CreateKey(kHKeyLocalMachine, L"Stream", &k) != kErrorSuccess) _exit(2);
    for (int i = 0;; ++i) {
      auto v = Sz(std::string(100 + i % 50, 'x') + std::to_string(i));
      if (reg.SetValue(k, L"v" + std::to_wstring(i), kRegSz, v.data(), static_cast<std::uint32_t>(v.size())) !=
          kErrorSuccess)
        _exit(3);
      std::string line = std::to_string(i) + "\n";
      if (write(fds[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(4);
    }
  }
  close(fds[1]);
  // Let it commit a few hundred values, then kill it in the middle of the stream.
  std::string seen;
  char buf[256];
  while (std::count(seen.begin(), seen.end(), '\n') < 400) {
    ssize_t n = read(fds[0], buf, sizeof buf);
    ASSERT_GT(n, 0);
    seen.append(buf, static_cast<std::size_t>(n));
  }
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  seen += Drain(fds[0]);
  close(fds[0]);
  int reported = static_cast<int>(std::count(seen.begin(), seen.end(), '\n'));
  ASSERT_GE(reported, 400);

  auto reg = Open();
  KeyHandle k(*reg);
  ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"Stream", kKeyRead, k.Out()), kErrorSuccess);
  for (int i = 0; i < reported; ++i) {
    ASSERT_EQ(GetSz(*reg, k.Get(), L"v" + std::to_wstring(i)), std::string(100 + i % 50, 'x') + std::to_string(i) + '\0')
        << i;
  }
  // The file is sound, and writable again.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
  char** table = nullptr;
  int rows = 0, cols = 0;
  ASSERT_EQ(sqlite3_get_table(db, "PRAGMA integrity_check", &table, &rows, &cols, nullptr), SQLITE_OK);
  ASSERT_EQ(rows, 1);
  EXPECT_STREQ(table[1], "ok");
  sqlite3_free_table(table);
  sqlite3_close(db);
  EXPECT_EQ(SetSz(*reg, k.Get(), L"after", "1"), kErrorSuccess);
}

// Runs SQL on a database file directly.
void Sql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error != nullptr ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

// The first column of the first row, or "<none>".
std::string SqlText(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  std::string result = "<none>";
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return result;
}

// A registry as written when names were folded by upper-casing ASCII and
// Latin-1 only: no registry_info, and Cyrillic names folded as themselves,
// so "жар" and "ЖАР" could both be made under Software. Key 4 ("ЖАР")
// collides with the older key 3 ("жар"), and its subkey 6 with key 5.
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
  WriteOldRegistry(path_);
  auto Raw = [](Registry& r, RegKey k, const std::wstring& name) {
    std::uint8_t buf[64];
    std::uint32_t size = sizeof buf;
    if (r.QueryValue(k, name, nullptr, buf, &size) != kErrorSuccess) return std::string("<missing>");
    return std::string(reinterpret_cast<char*>(buf), size);
  };
  {
    auto reg = Open();
    KeyHandle soft(*reg), zhar(*reg), sub(*reg), deep(*reg), cafe(*reg);
    ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"software", kKeyRead, soft.Out()), kErrorSuccess);
    // The older spelling stays; both keys' subkeys and values are in it.
    EXPECT_EQ(Subkeys(*reg, soft.Get()), (std::vector<std::wstring>{L"Café", L"жар"}));
    ASSERT_EQ(reg->OpenKey(soft.Get(), L"ЖАР", kKeyRead, zhar.Out()), kErrorSuccess);
    EXPECT_EQ(Subkeys(*reg, zhar.Get()), (std::vector<std::wstring>{L"Other", L"Sub"}));
    EXPECT_EQ(Raw(*reg, zhar.Get(), L"v"), "older");
    EXPECT_EQ(Raw(*reg, zhar.Get(), L"ТОЛЬКО"), "moved");
    // Merged again one level down.
    ASSERT_EQ(reg->OpenKey(zhar.Get(), L"sub", kKeyRead, sub.Out()), kErrorSuccess);
    EXPECT_EQ(Subkeys(*reg, sub.Get()), std::vector<std::wstring>{L"deep"});
    EXPECT_EQ(Raw(*reg, sub.Get(), L"X"), "five");
    EXPECT_EQ(Raw(*reg, sub.Get(), L"Y"), "why");
    ASSERT_EQ(reg->OpenKey(sub.Get(), L"DEEP", kKeyRead, deep.Out()), kErrorSuccess);
    // Two values of one key that now share a name: the older one stays.
    EXPECT_EQ(Raw(*reg, soft.Get(), L"Ключ"), "first");
    ASSERT_EQ(reg->OpenKey(soft.Get(), L"CAFÉ", kKeyRead, cafe.Out()), kErrorSuccess);
    EXPECT_EQ(Raw(*reg, cafe.Get(), L"é"), "latin");
  }
  EXPECT_EQ(SqlText(path_, "SELECT value FROM registry_info WHERE name = 'name_folding'"), text::FoldingIdentity());
  EXPECT_EQ(SqlText(path_, "SELECT group_concat(id) FROM (SELECT id FROM keys ORDER BY id)"), "1,2,3,5,7,8,9");
  EXPECT_EQ(SqlText(path_, "SELECT count(*) FROM key_values"), "6");

  // A file of the current folding is left as it is: a name_folded made
  // wrong on purpose survives another opening.
  Sql(path_, "UPDATE keys SET name_folded = 'MARK' WHERE id = 7");
  {
    auto reg = Open();
    KeyHandle soft(*reg);
    ASSERT_EQ(reg->OpenKey(kHKeyLocalMachine, L"Software", kKeyRead, soft.Out()), kErrorSuccess);
  }
  EXPECT_EQ(SqlText(path_, "SELECT name_folded FROM keys WHERE id = 7"), "MARK");
}

TEST_F(PosixRegistryTest, AReadOnlyFileOfTheOldFoldingIsRefusedUntouched) {
  WriteOldRegistry(path_);
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);  // room for SQLite's shared-memory file
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    // Root may write any file: open it as another user.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    PosixRegistry reg([p = path_] { return p; });
    std::string d = Describe(reg);
    _exit(write(fds[1], d.data(), d.size()) == static_cast<ssize_t>(d.size()) ? 0 : 3);
  }
  close(fds[1]);
  std::string said = Drain(fds[0]);
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(said, "Cannot open the registry database " + path_ +
                      ": its key and value names must be converted to the case folding of Unicode " +
                      text::kCaseFoldingVersion + ", but the file is read-only");
  EXPECT_EQ(SqlText(path_, "SELECT name_folded FROM keys WHERE id = 4"), "ЖАР");
  EXPECT_EQ(SqlText(path_, "SELECT count(*) FROM sqlite_master WHERE name = 'registry_info'"), "0");
}

}  // namespace
