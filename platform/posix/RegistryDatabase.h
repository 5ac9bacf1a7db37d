// The database behind HKEY_LOCAL_MACHINE on POSIX, private to the
// registry: the connection, its prepared statements and transactions, the
// rows of keys and values, the undo records of atomic runs, and the
// conversion of stored names to the current case folding
// (RegistryFolding.cpp).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/Text.h"
#include "platform/posix/Registry.h"

namespace posix {

namespace registry {

// The fixed row of HKEY_LOCAL_MACHINE itself.
inline constexpr long long kRootId = 1;
// CreateKey hands out keys with every right, as Windows does (KEY_ALL_ACCESS).
inline constexpr std::uint32_t kAllAccess = 0xF003F;
// Windows refuses key names longer than this.
inline constexpr std::size_t kMaxKeyNameLength = 255;
// How long a statement waits for another process's transaction to end.
inline constexpr int kBusyTimeoutMs = 10000;

inline const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent_id INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  name_folded TEXT NOT NULL,"
    "  UNIQUE(parent_id, name_folded));"
    "CREATE TABLE IF NOT EXISTS key_values("
    "  key_id INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  name_folded TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key_id, name_folded));"
    "INSERT OR IGNORE INTO keys(id, parent_id, name, name_folded) VALUES(1, 0, '', '');";
// Facts about the file itself; files written before it existed lack it.
inline const char* const kInfoSchema =
    "CREATE TABLE IF NOT EXISTS registry_info(name TEXT PRIMARY KEY, value TEXT NOT NULL);";

// Names compare case-insensitively: each is stored as given and, for
// comparison and ordering, folded (text::Fold). The folded UTF-8 text compares
// bytewise in code-point order, so ORDER BY on it is the case-insensitive
// name order.
inline std::string Fold(const std::wstring& name) { return text::ToUtf8(text::Fold(name)); }

// The row of registry_info naming the folding that the name_folded columns
// were computed with (text::FoldingIdentity). A file without it was written
// when names were folded by upper-casing, which knew ASCII and Latin-1 only.
inline constexpr const char* kFoldingRow = "name_folding";

// Splits a key path into its components. A trailing backslash is ignored (as
// Windows ignores it); a leading or doubled backslash leaves an empty
// component, which names no key, and the split fails.
inline bool SplitPath(const std::wstring& path, std::vector<std::wstring>* parts) {
  parts->clear();
  if (path.empty()) return true;
  if (path.front() == L'\\') return false;
  std::wstring_view rest(path);
  if (rest.back() == L'\\') rest.remove_suffix(1);
  std::size_t start = 0;
  while (true) {
    std::size_t end = rest.find(L'\\', start);
    std::wstring_view part = rest.substr(start, end == std::wstring_view::npos ? rest.npos : end - start);
    if (part.empty()) return false;
    parts->emplace_back(part);
    if (end == std::wstring_view::npos) break;
    start = end + 1;
  }
  return true;
}

}  // namespace registry

class PosixRegistry::Database {
 public:
  // A statement prepared once and reused (see Use).
  class Stmt {
   public:
    Stmt() = default;
    ~Stmt() { sqlite3_finalize(stmt_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    // The statements name the registry's tables and columns, so one that
    // does not compile means a file of another shape.
    void Prepare(Database& db, const char* sql, bool ofRegistry = true) {
      if (sqlite3_prepare_v3(db.db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) != SQLITE_OK)
        db.Fail(L"open", ofRegistry ? L"the file is not a registry database (" : L"");
    }
    sqlite3_stmt* get() const { return stmt_; }

   private:
    sqlite3_stmt* stmt_ = nullptr;
  };

  // Binds and steps one statement, resetting it when it goes out of scope.
  class Use {
   public:
    Use(Database& db, Stmt& stmt) : db_(db), stmt_(stmt.get()) {}
    ~Use() {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    Use& Bind(int i, long long v) {
      Check(sqlite3_bind_int64(stmt_, i, v));
      return *this;
    }
    Use& Bind(int i, const std::string& v) {
      Check(sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
      return *this;
    }
    Use& BindBlob(int i, const std::uint8_t* data, std::uint32_t size) {
      static const std::uint8_t kEmpty = 0;
      Check(sqlite3_bind_blob(stmt_, i, size == 0 ? &kEmpty : data, static_cast<int>(size), SQLITE_TRANSIENT));
      return *this;
    }
    // True for a row, false when done.
    bool Step() {
      int rc = sqlite3_step(stmt_);
      if (rc == SQLITE_ROW) return true;
      if (rc == SQLITE_DONE) return false;
      db_.Fail(L"use");
    }
    long long Int(int col) const { return sqlite3_column_int64(stmt_, col); }
    bool IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    std::string Text(int col) const {
      const unsigned char* p = sqlite3_column_text(stmt_, col);
      return p == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(p),
                                                        static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)));
    }
    const std::uint8_t* Blob(int col, std::uint32_t* size) const {
      const void* p = sqlite3_column_blob(stmt_, col);
      *size = static_cast<std::uint32_t>(sqlite3_column_bytes(stmt_, col));
      return static_cast<const std::uint8_t*>(p);
    }

   private:
    void Check(int rc) {
      if (rc != SQLITE_OK) db_.Fail(L"use");
    }
    Database& db_;
    sqlite3_stmt* stmt_;
  };

  // BEGIN IMMEDIATE ... COMMIT; rolled back unless committed. Inside a
  // transaction that is open already (Transact) it does nothing: the outer
  // one commits or rolls back the whole.
  class Transaction {
   public:
    explicit Transaction(Database& db) : db_(db) {
      if (sqlite3_get_autocommit(db_.db_) == 0) return;
      Use(db_, db_.begin_).Step();
      ++db_.transactions_;
      started_ = true;
    }
    ~Transaction() {
      if (started_ && !done_) {
        sqlite3_reset(db_.rollback_.get());
        sqlite3_step(db_.rollback_.get());
        sqlite3_reset(db_.rollback_.get());
      }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
      if (started_) Use(db_, db_.commit_).Step();
      done_ = true;
    }

   private:
    Database& db_;
    bool started_ = false;
    bool done_ = false;
  };

  // Several reads as one snapshot. Besides consistency this saves the file
  // locking that each statement would otherwise do on its own, which is most
  // of the cost of a lookup.
  class ReadTransaction {
   public:
    explicit ReadTransaction(Database& db) : db_(db) {
      if (sqlite3_get_autocommit(db_.db_) == 0) return;  // inside one already
      Use(db_, db_.beginRead_).Step();
      ++db_.transactions_;
      started_ = true;
    }
    ~ReadTransaction() {
      if (!started_) return;
      sqlite3_reset(db_.rollback_.get());
      sqlite3_step(db_.rollback_.get());
      sqlite3_reset(db_.rollback_.get());
    }
    ReadTransaction(const ReadTransaction&) = delete;
    ReadTransaction& operator=(const ReadTransaction&) = delete;

   private:
    Database& db_;
    bool started_ = false;
  };

  explicit Database(std::string path);

  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  [[noreturn]] void Fail(const std::wstring& verb, const std::wstring& lead = L"");

  // ---- Key rows ----

  bool FindChild(long long parent, const std::wstring& name, long long* id);

  // Follows `parts` down from `from`; the index of the first missing part
  // when one is missing (with *id the last key found), else parts.size().
  std::size_t Walk(long long from, const std::vector<std::wstring>& parts, long long* id);

  bool KeyExists(long long id);

  long long InsertKey(long long parent, const std::wstring& name);

  bool HasChildren(long long id);

  void DeleteKeyRow(long long id);

  // The subkey at `index` in case-insensitive name order: kErrorSuccess,
  // kErrorNoMoreItems past the last one, kErrorKeyDeleted when the key
  // itself is gone. One statement asks both, for a key without subkeys is
  // asked this at every step of a walk over a tree.
  long ChildAt(long long parent, std::uint32_t index, std::string* name);

  // Every subkey of a key, in case-insensitive name order.
  void ListChildren(long long parent, std::vector<std::wstring>* names, std::vector<ChildRow>* rows);

  // ---- Values ----

  Stmt& QueryStmt() { return queryValue_; }

  void SetValue(long long key, const std::wstring& name, std::uint32_t type, const std::uint8_t* data,
                std::uint32_t size);

  // Every value of a key, in case-insensitive name order.
  void ListValues(long long key, std::vector<ValueRow>* rows);

  // A number that changes whenever the database may have changed: a commit
  // of another connection moves data_version, a change of this one the
  // count of its changes. Inside a transaction no other connection's commit
  // can show, so the transaction's own number stands in for data_version
  // there, without a statement.
  std::pair<long long, long long> Version();

  bool DeleteValue(long long key, const std::wstring& name);

  // ---- Undo records of atomic runs ----
  // They live in a table of their own, made with the first record, so that
  // a registry that never served an atomic run stays as it was.

  void AddUndo(const std::string& run, long long sequence, const std::string& record);

  std::vector<std::pair<std::int64_t, std::string>> UndoRecords(const std::string& run);

  void DropUndo(const std::string& run, long long sequence);

  const std::string& Path() const { return path_; }

 private:
  void Exec(const char* sql);

  // Asks for write-ahead logging; whether the file now uses it. Changing
  // the journal mode needs the file to itself, and SQLite answers "database
  // is locked" at once instead of calling the busy handler, so processes
  // opening a new registry together would fail. This waits as the busy
  // timeout would.
  bool SwitchToWal();


  // Creates the tables in a new (empty) file. A file that holds other tables
  // but not a registry is refused rather than extended.
  void CreateSchema();

  bool HasTable(const char* name);

  // ---- The folding of the stored names (RegistryFolding.cpp) ----

  // The folding recorded in the file; empty for the old upper-casing.
  std::string RecordedFolding();

  void RecordFolding();

  // Names stored folded otherwise than text::Fold folds them now would no
  // longer be found: fold them again, all in one transaction, so that the
  // file is either untouched or wholly converted. Other processes opening
  // the same file at the same time wait for the write lock and then find the
  // work done.
  void UpdateFolding();

  // Recomputes name_folded of every key and value. Names that were distinct
  // before may now fold alike ("жар" and "ЖАР" under one parent): such keys
  // become one, the oldest (lowest id) keeping its spelling and the others'
  // subkeys and values moving into it, recursively; of two values that then
  // share a name in one key, the one from the older key stays. The tables are
  // read whole and written anew, so no intermediate state meets the UNIQUE
  // constraints. Ids of the keys that stay do not change.
  void Refold();
  // Its steps: the tables read whole with the names folded anew, and
  // written back without the keys merged into others.
  struct Tables;
  void ReadForRefold(Tables& tables);
  void WriteRefolded(const Tables& tables);

  // Closes the connection after the statements below have been finalized
  // (members are destroyed in reverse order), also when the constructor
  // fails half-way.
  struct Connection {
    sqlite3*& db;
    ~Connection() { sqlite3_close_v2(db); }
  };

  std::string path_;
  sqlite3* db_ = nullptr;
  // How many transactions this connection has begun.
  long long transactions_ = 0;
  Connection connection_{db_};
  Stmt findChild_, keyExists_, insertKey_, hasChildren_, deleteKey_, deleteKeyValues_, enumChild_, listChildren_,
      queryValue_, setValue_, deleteValue_, listValues_, dataVersion_, begin_, beginRead_, commit_, rollback_;
  Stmt addUndo_;  // prepared with the first undo record
};

}  // namespace posix
