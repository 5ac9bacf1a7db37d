#include "platform/posix/Registry.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "platform/Text.h"

namespace posix {

using platform::RegKey;

namespace {

// The fixed row of HKEY_LOCAL_MACHINE itself.
constexpr long long kRootId = 1;
// CreateKey hands out keys with every right, as Windows does (KEY_ALL_ACCESS).
constexpr std::uint32_t kAllAccess = 0xF003F;
// Windows refuses key names longer than this.
constexpr std::size_t kMaxKeyNameLength = 255;
// How long a statement waits for another process's transaction to end.
constexpr int kBusyTimeoutMs = 10000;

const char* const kSchema =
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
const char* const kInfoSchema =
    "CREATE TABLE IF NOT EXISTS registry_info(name TEXT PRIMARY KEY, value TEXT NOT NULL);";

// Names compare case-insensitively: each is stored as given and, for
// comparison and ordering, folded (text::Fold). The folded UTF-8 text compares
// bytewise in code-point order, so ORDER BY on it is the case-insensitive
// name order.
std::string Fold(const std::wstring& name) { return text::ToUtf8(text::Fold(name)); }

// The row of registry_info naming the folding that the name_folded columns
// were computed with (text::FoldingIdentity). A file without it was written
// when names were folded by upper-casing, which knew ASCII and Latin-1 only.
constexpr const char* kFoldingRow = "name_folding";

// Splits a key path into its components. A trailing backslash is ignored (as
// Windows ignores it); a leading or doubled backslash leaves an empty
// component, which names no key, and the split fails.
bool SplitPath(const std::wstring& path, std::vector<std::wstring>* parts) {
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

}  // namespace

// ---------------------------------------------------------------------------
// The connection and its prepared statements
// ---------------------------------------------------------------------------

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

  explicit Database(std::string path) : path_(std::move(path)) {
    int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
      // Without a handle there is no message of the connection to report.
      if (db_ == nullptr) throw VslError(L"Cannot open the registry database " + text::FromUtf8(path_) +
                                         L": " + text::FromUtf8(sqlite3_errstr(rc)));
      Fail(L"open");
    }
    sqlite3_extended_result_codes(db_, 0);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // Reading the schema is the first access to the file: a file that is not
    // a database fails here, before anything is written to it.
    Exec("SELECT count(*) FROM sqlite_master");
    // Write-ahead logging lets readers and one writer of other processes
    // work at once, and every committed transaction survives the process
    // being killed. Syncing the log at checkpoints only (NORMAL) may lose
    // the last commits on a machine crash, never the file's consistency.
    // Where the log cannot be used the rollback journal with full syncing
    // keeps the same guarantees.
    if (SwitchToWal()) {
      Exec("PRAGMA synchronous=NORMAL");
    } else {
      Exec("PRAGMA synchronous=FULL");
    }
    CreateSchema();

    findChild_.Prepare(*this, "SELECT id FROM keys WHERE parent_id = ?1 AND name_folded = ?2");
    keyExists_.Prepare(*this, "SELECT 1 FROM keys WHERE id = ?1");
    insertKey_.Prepare(*this, "INSERT INTO keys(parent_id, name, name_folded) VALUES(?1, ?2, ?3)");
    hasChildren_.Prepare(*this, "SELECT 1 FROM keys WHERE parent_id = ?1 LIMIT 1");
    deleteKey_.Prepare(*this, "DELETE FROM keys WHERE id = ?1");
    deleteKeyValues_.Prepare(*this, "DELETE FROM key_values WHERE key_id = ?1");
    enumChild_.Prepare(*this, "SELECT name FROM keys WHERE parent_id = ?1 ORDER BY name_folded LIMIT 1 OFFSET ?2");
    queryValue_.Prepare(*this, "SELECT type, data FROM key_values WHERE key_id = ?1 AND name_folded = ?2");
    setValue_.Prepare(*this,
                      "INSERT INTO key_values(key_id, name, name_folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                      "ON CONFLICT(key_id, name_folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    deleteValue_.Prepare(*this, "DELETE FROM key_values WHERE key_id = ?1 AND name_folded = ?2");
    listValues_.Prepare(*this, "SELECT name, type, data FROM key_values WHERE key_id = ?1 ORDER BY name_folded");
    dataVersion_.Prepare(*this, "PRAGMA data_version", false);
    begin_.Prepare(*this, "BEGIN IMMEDIATE");
    beginRead_.Prepare(*this, "BEGIN");
    commit_.Prepare(*this, "COMMIT");
    rollback_.Prepare(*this, "ROLLBACK");
    // Only once the file is known to be a registry may its names be folded
    // again.
    UpdateFolding();
  }

  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  [[noreturn]] void Fail(const std::wstring& verb, const std::wstring& lead = L"") {
    std::wstring reason = text::FromUtf8(db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
    if (!lead.empty()) reason = lead + reason + L")";
    throw VslError(L"Cannot " + verb + L" the registry database " + text::FromUtf8(path_) + L": " + reason);
  }

  // ---- Key rows ----

  bool FindChild(long long parent, const std::wstring& name, long long* id) {
    Use u(*this, findChild_);
    u.Bind(1, parent).Bind(2, Fold(name));
    if (!u.Step()) return false;
    *id = u.Int(0);
    return true;
  }

  // Follows `parts` down from `from`; the index of the first missing part
  // when one is missing (with *id the last key found), else parts.size().
  std::size_t Walk(long long from, const std::vector<std::wstring>& parts, long long* id) {
    *id = from;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      long long child = 0;
      if (!FindChild(*id, parts[i], &child)) return i;
      *id = child;
    }
    return parts.size();
  }

  bool KeyExists(long long id) {
    if (id == kRootId) return true;
    Use u(*this, keyExists_);
    u.Bind(1, id);
    return u.Step();
  }

  long long InsertKey(long long parent, const std::wstring& name) {
    Use u(*this, insertKey_);
    u.Bind(1, parent).Bind(2, text::ToUtf8(name)).Bind(3, Fold(name));
    u.Step();
    return sqlite3_last_insert_rowid(db_);
  }

  bool HasChildren(long long id) {
    Use u(*this, hasChildren_);
    u.Bind(1, id);
    return u.Step();
  }

  void DeleteKeyRow(long long id) {
    {
      Use u(*this, deleteKeyValues_);
      u.Bind(1, id);
      u.Step();
    }
    Use u(*this, deleteKey_);
    u.Bind(1, id);
    u.Step();
  }

  bool ChildAt(long long parent, std::uint32_t index, std::string* name) {
    Use u(*this, enumChild_);
    u.Bind(1, parent).Bind(2, static_cast<long long>(index));
    if (!u.Step()) return false;
    *name = u.Text(0);
    return true;
  }

  // ---- Values ----

  Stmt& QueryStmt() { return queryValue_; }

  void SetValue(long long key, const std::wstring& name, std::uint32_t type, const std::uint8_t* data,
                std::uint32_t size) {
    Use u(*this, setValue_);
    u.Bind(1, key).Bind(2, text::ToUtf8(name)).Bind(3, Fold(name)).Bind(4, static_cast<long long>(type));
    u.BindBlob(5, data, size);
    u.Step();
  }

  // Every value of a key, in case-insensitive name order.
  void ListValues(long long key, std::vector<ValueRow>* rows) {
    rows->clear();
    Use u(*this, listValues_);
    u.Bind(1, key);
    while (u.Step()) {
      std::uint32_t size = 0;
      const std::uint8_t* bytes = u.Blob(2, &size);
      rows->push_back({text::FromUtf8(u.Text(0)), static_cast<std::uint32_t>(u.Int(1)),
                       std::vector<std::uint8_t>(bytes, bytes + size)});
    }
  }

  // A number that changes whenever the database may have changed: a commit
  // of another connection moves data_version, a change of this one the
  // count of its changes.
  std::pair<long long, long long> Version() {
    Use u(*this, dataVersion_);
    u.Step();
    return {u.Int(0), sqlite3_total_changes64(db_)};
  }

  bool DeleteValue(long long key, const std::wstring& name) {
    Use u(*this, deleteValue_);
    u.Bind(1, key).Bind(2, Fold(name));
    u.Step();
    return sqlite3_changes(db_) > 0;
  }

  // ---- Undo records of atomic runs ----
  // They live in a table of their own, made with the first record, so that
  // a registry that never served an atomic run stays as it was.

  void AddUndo(const std::string& run, long long sequence, const std::string& record) {
    if (addUndo_.get() == nullptr) {
      Exec("CREATE TABLE IF NOT EXISTS undo_records(run TEXT NOT NULL, seq INTEGER NOT NULL,"
           " record BLOB NOT NULL, PRIMARY KEY(run, seq))");
      addUndo_.Prepare(*this, "INSERT OR REPLACE INTO undo_records(run, seq, record) VALUES(?1, ?2, ?3)");
    }
    Use u(*this, addUndo_);
    u.Bind(1, run).Bind(2, sequence).BindBlob(3, reinterpret_cast<const std::uint8_t*>(record.data()),
                                               static_cast<std::uint32_t>(record.size()));
    u.Step();
  }

  std::vector<std::pair<std::int64_t, std::string>> UndoRecords(const std::string& run) {
    std::vector<std::pair<std::int64_t, std::string>> out;
    if (!HasTable("undo_records")) return out;
    Stmt s;
    s.Prepare(*this, "SELECT seq, record FROM undo_records WHERE run = ?1 ORDER BY seq");
    Use u(*this, s);
    u.Bind(1, run);
    while (u.Step()) {
      std::uint32_t size = 0;
      const std::uint8_t* bytes = u.Blob(1, &size);
      out.emplace_back(u.Int(0), std::string(reinterpret_cast<const char*>(bytes), size));
    }
    return out;
  }

  void DropUndo(const std::string& run, long long sequence) {
    if (!HasTable("undo_records")) return;
    Stmt s;
    s.Prepare(*this, sequence < 0 ? "DELETE FROM undo_records WHERE run = ?1"
                                  : "DELETE FROM undo_records WHERE run = ?1 AND seq = ?2");
    Use u(*this, s);
    u.Bind(1, run);
    if (sequence >= 0) u.Bind(2, sequence);
    u.Step();
  }

  const std::string& Path() const { return path_; }

 private:
  void Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(L"open");
  }

  // Asks for write-ahead logging; whether the file now uses it. Changing
  // the journal mode needs the file to itself, and SQLite answers "database
  // is locked" at once instead of calling the busy handler, so processes
  // opening a new registry together would fail. This waits as the busy
  // timeout would.
  bool SwitchToWal() {
    for (int waited = 0;; waited += 10) {
      Stmt s;
      s.Prepare(*this, "PRAGMA journal_mode=WAL", false);
      const int rc = sqlite3_step(s.get());
      if (rc == SQLITE_ROW) {
        const unsigned char* mode = sqlite3_column_text(s.get(), 0);
        return mode != nullptr && std::string_view(reinterpret_cast<const char*>(mode)) == "wal";
      }
      if (rc != SQLITE_BUSY || waited >= kBusyTimeoutMs) Fail(L"use");
      sqlite3_sleep(10);
    }
  }


  // Creates the tables in a new (empty) file. A file that holds other tables
  // but not a registry is refused rather than extended.
  void CreateSchema() {
    Exec("BEGIN IMMEDIATE");
    bool ok = false;
    try {
      Stmt s;
      s.Prepare(*this,
                "SELECT (SELECT count(*) FROM sqlite_master),"
                " (SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('keys', 'key_values'))",
                false);
      long long objects = 0;
      long long ours = 0;
      {
        Use u(*this, s);
        u.Step();
        objects = u.Int(0);
        ours = u.Int(1);
      }
      if (objects != 0 && ours != 2) {
        throw VslError(L"Cannot open the registry database " + text::FromUtf8(path_) +
                       L": the file holds another database, not a registry");
      }
      if (objects == 0) {
        Exec(kSchema);
        Exec(kInfoSchema);
        RecordFolding();
      }
      Exec("COMMIT");
      ok = true;
    } catch (...) {
      if (!ok) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  // ---- The folding of the stored names ----

  bool HasTable(const char* name) {
    Stmt s;
    s.Prepare(*this, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1", false);
    Use u(*this, s);
    u.Bind(1, std::string(name));
    return u.Step();
  }

  // The folding recorded in the file; empty for the old upper-casing.
  std::string RecordedFolding() {
    if (!HasTable("registry_info")) return std::string();
    Stmt s;
    s.Prepare(*this, "SELECT value FROM registry_info WHERE name = ?1");
    Use u(*this, s);
    u.Bind(1, std::string(kFoldingRow));
    return u.Step() ? u.Text(0) : std::string();
  }

  void RecordFolding() {
    Stmt s;
    s.Prepare(*this, "INSERT OR REPLACE INTO registry_info(name, value) VALUES(?1, ?2)");
    Use u(*this, s);
    u.Bind(1, std::string(kFoldingRow)).Bind(2, text::FoldingIdentity());
    u.Step();
  }

  // Names stored folded otherwise than text::Fold folds them now would no
  // longer be found: fold them again, all in one transaction, so that the
  // file is either untouched or wholly converted. Other processes opening
  // the same file at the same time wait for the write lock and then find the
  // work done.
  void UpdateFolding() {
    const std::string current = text::FoldingIdentity();
    if (RecordedFolding() == current) return;
    if (sqlite3_db_readonly(db_, "main") == 1) {
      throw VslError(L"Cannot open the registry database " + text::FromUtf8(path_) +
                     L": its key and value names must be converted to the case folding of Unicode " +
                     text::FromUtf8(text::kCaseFoldingVersion) + L", but the file is read-only");
    }
    Transaction tx(*this);
    if (RecordedFolding() != current) {
      Refold();
      Exec(kInfoSchema);
      RecordFolding();
    }
    tx.Commit();
  }

  // Recomputes name_folded of every key and value. Names that were distinct
  // before may now fold alike ("жар" and "ЖАР" under one parent): such keys
  // become one, the oldest (lowest id) keeping its spelling and the others'
  // subkeys and values moving into it, recursively; of two values that then
  // share a name in one key, the one from the older key stays. The tables are
  // read whole and written anew, so no intermediate state meets the UNIQUE
  // constraints. Ids of the keys that stay do not change.
  void Refold() {
    struct KeyRow {
      long long parent;
      std::string name, folded;
    };
    struct ValueRow {
      long long rowid, key, type;
      std::string name, folded;
      std::vector<std::uint8_t> data;
    };
    std::map<long long, KeyRow> keys;
    std::map<long long, std::vector<long long>> children;
    {
      Stmt s;
      s.Prepare(*this, "SELECT id, parent_id, name FROM keys ORDER BY id");
      Use u(*this, s);
      while (u.Step()) {
        std::string name = u.Text(2);
        std::string folded = Fold(text::FromUtf8(name));
        keys.emplace(u.Int(0), KeyRow{u.Int(1), std::move(name), std::move(folded)});
        children[u.Int(1)].push_back(u.Int(0));
      }
    }
    std::vector<ValueRow> values;
    {
      Stmt s;
      s.Prepare(*this, "SELECT rowid, key_id, name, type, data FROM key_values ORDER BY key_id, rowid");
      Use u(*this, s);
      while (u.Step()) {
        std::uint32_t size = 0;
        const std::uint8_t* data = u.Blob(4, &size);
        std::string name = u.Text(2);
        std::string folded = Fold(text::FromUtf8(name));
        values.push_back({u.Int(0), u.Int(1), u.Int(3), std::move(name), std::move(folded),
                          std::vector<std::uint8_t>(data, data + size)});
      }
    }

    // Merges siblings of one folded name, parent by parent. A key that takes
    // in another's subkeys is looked at again, for those may now collide
    // with its own.
    std::map<long long, long long> mergedInto;
    std::vector<long long> work;
    for (const auto& entry : children) work.push_back(entry.first);
    while (!work.empty()) {
      long long parent = work.back();
      work.pop_back();
      if (mergedInto.count(parent) != 0) continue;  // its subkeys went along with it
      std::vector<long long> list = children[parent];
      std::sort(list.begin(), list.end());
      std::map<std::string, long long> byName;
      std::vector<long long> kept;
      for (long long id : list) {
        auto [slot, added] = byName.emplace(keys[id].folded, id);
        if (added) {
          kept.push_back(id);
          continue;
        }
        long long survivor = slot->second;
        mergedInto[id] = survivor;
        std::vector<long long> moved = std::move(children[id]);
        children.erase(id);
        for (long long child : moved) {
          keys[child].parent = survivor;
          children[survivor].push_back(child);
        }
        if (!moved.empty()) work.push_back(survivor);
      }
      children[parent] = std::move(kept);
    }
    auto owner = [&](long long key) {
      for (auto it = mergedInto.find(key); it != mergedInto.end(); it = mergedInto.find(key)) key = it->second;
      return key;
    };

    Exec("DELETE FROM key_values");
    Exec("DELETE FROM keys");
    {
      Stmt s;
      s.Prepare(*this, "INSERT INTO keys(id, parent_id, name, name_folded) VALUES(?1, ?2, ?3, ?4)");
      for (const auto& [id, row] : keys) {
        if (mergedInto.count(id) != 0) continue;
        Use u(*this, s);
        u.Bind(1, id).Bind(2, row.parent).Bind(3, row.name).Bind(4, row.folded);
        u.Step();
      }
    }
    {
      // Values come ordered by their original key and then by age, so the
      // first one of a name in its final key is the one that stays.
      std::set<std::pair<long long, std::string>> taken;
      Stmt s;
      s.Prepare(*this,
                "INSERT INTO key_values(rowid, key_id, name, name_folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
      for (const ValueRow& v : values) {
        long long key = owner(v.key);
        if (!taken.emplace(key, v.folded).second) continue;
        Use u(*this, s);
        u.Bind(1, v.rowid).Bind(2, key).Bind(3, v.name).Bind(4, v.folded).Bind(5, v.type);
        u.BindBlob(6, v.data.data(), static_cast<std::uint32_t>(v.data.size()));
        u.Step();
      }
    }
  }

  // Closes the connection after the statements below have been finalized
  // (members are destroyed in reverse order), also when the constructor
  // fails half-way.
  struct Connection {
    sqlite3*& db;
    ~Connection() { sqlite3_close_v2(db); }
  };

  std::string path_;
  sqlite3* db_ = nullptr;
  Connection connection_{db_};
  Stmt findChild_, keyExists_, insertKey_, hasChildren_, deleteKey_, deleteKeyValues_, enumChild_, queryValue_,
      setValue_, deleteValue_, listValues_, dataVersion_, begin_, beginRead_, commit_, rollback_;
  Stmt addUndo_;  // prepared with the first undo record
};

// ---------------------------------------------------------------------------
// The registry calls
// ---------------------------------------------------------------------------

PosixRegistry::PosixRegistry(std::function<std::string()> databasePath) : pathProvider_(std::move(databasePath)) {}

PosixRegistry::~PosixRegistry() = default;

PosixRegistry::Database& PosixRegistry::Db() {
  // A failed opening is tried again on the next call, so each call that
  // needs the database reports the broken file.
  if (!db_) db_ = std::make_unique<Database>(pathProvider_());
  return *db_;
}

long PosixRegistry::KeyOf(RegKey handle, std::uint32_t needed, long long* id) const {
  if (handle == platform::kHKeyLocalMachine) {
    *id = kRootId;
    return platform::kErrorSuccess;
  }
  auto it = handles_.find(handle);
  if (it == handles_.end()) return platform::kErrorInvalidHandle;
  if ((it->second.access & needed) != needed) return platform::kErrorAccessDenied;
  *id = it->second.id;
  return platform::kErrorSuccess;
}

RegKey PosixRegistry::NewHandle(long long id, std::uint32_t access) {
  while (nextHandle_ == 0 || nextHandle_ == platform::kHKeyLocalMachine || handles_.count(nextHandle_) != 0)
    ++nextHandle_;
  RegKey handle = nextHandle_++;
  handles_.emplace(handle, OpenKeyRow{id, access});
  return handle;
}

long PosixRegistry::BeginKeyCall(RegKey parent, const std::wstring& subKey, RegKey* result, long long* id,
                                 std::vector<std::wstring>* parts) {
  if (result == nullptr) return kErrorInvalidParameter;
  *result = 0;
  if (long code = KeyOf(parent, 0, id); code != platform::kErrorSuccess) return code;
  Db();  // an unusable database file is reported before the path is looked at
  if (!SplitPath(subKey, parts)) return platform::kErrorFileNotFound;
  return platform::kErrorSuccess;
}

long PosixRegistry::OpenKey(RegKey parent, const std::wstring& subKey, std::uint32_t access, RegKey* result) {
  long long id = 0;
  std::vector<std::wstring> parts;
  if (long code = BeginKeyCall(parent, subKey, result, &id, &parts); code != platform::kErrorSuccess) return code;
  Database& db = Db();
  long long found = 0;
  {
    Database::ReadTransaction snapshot(db);
    if (!db.KeyExists(id)) return kErrorKeyDeleted;
    if (db.Walk(id, parts, &found) != parts.size()) return platform::kErrorFileNotFound;
  }
  *result = NewHandle(found, access);
  return platform::kErrorSuccess;
}

long PosixRegistry::CreateKey(RegKey parent, const std::wstring& subKey, RegKey* result) {
  long long id = 0;
  std::vector<std::wstring> parts;
  if (long code = BeginKeyCall(parent, subKey, result, &id, &parts); code != platform::kErrorSuccess) return code;
  Database& db = Db();
  for (const auto& part : parts)
    if (part.size() > kMaxKeyNameLength) return kErrorInvalidParameter;
  long long found = 0;
  // Most calls name a key that exists: find it without taking the write lock.
  bool exists = false;
  {
    Database::ReadTransaction snapshot(db);
    exists = db.KeyExists(id) && db.Walk(id, parts, &found) == parts.size();
  }
  if (exists) {
    *result = NewHandle(found, kAllAccess);
    return platform::kErrorSuccess;
  }
  Database::Transaction tx(db);
  if (!db.KeyExists(id)) return kErrorKeyDeleted;
  std::size_t missing = db.Walk(id, parts, &found);
  for (std::size_t i = missing; i < parts.size(); ++i) found = db.InsertKey(found, parts[i]);
  tx.Commit();
  *result = NewHandle(found, kAllAccess);
  return platform::kErrorSuccess;
}

long PosixRegistry::QueryValue(RegKey key, const std::wstring& name, std::uint32_t* type, std::uint8_t* data,
                               std::uint32_t* size) {
  long long id = 0;
  if (long code = KeyOf(key, platform::kKeyQueryValue, &id); code != platform::kErrorSuccess) return code;
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  Database& db = Db();
  {
    Database::Use u(db, db.QueryStmt());
    u.Bind(1, id).Bind(2, Fold(name));
    if (u.Step()) {
      if (type != nullptr) *type = static_cast<std::uint32_t>(u.Int(0));
      std::uint32_t needed = 0;
      const std::uint8_t* bytes = u.Blob(1, &needed);
      if (data != nullptr && *size < needed) {
        *size = needed;
        return platform::kErrorMoreData;
      }
      if (data != nullptr && needed != 0) std::memcpy(data, bytes, needed);
      if (size != nullptr) *size = needed;
      return platform::kErrorSuccess;
    }
  }
  // Values go with their key, so a missing value may mean a deleted key.
  return db.KeyExists(id) ? platform::kErrorFileNotFound : kErrorKeyDeleted;
}

long PosixRegistry::SetValue(RegKey key, const std::wstring& name, std::uint32_t type, const std::uint8_t* data,
                             std::uint32_t size) {
  long long id = 0;
  if (long code = KeyOf(key, platform::kKeySetValue, &id); code != platform::kErrorSuccess) return code;
  if (data == nullptr && size != 0) return kErrorInvalidParameter;
  Database& db = Db();
  Database::Transaction tx(db);
  if (!db.KeyExists(id)) return kErrorKeyDeleted;
  db.SetValue(id, name, type, data, size);
  tx.Commit();
  return platform::kErrorSuccess;
}

long PosixRegistry::EnumKey(RegKey key, std::uint32_t index, std::uint32_t capacity, std::wstring* name) {
  long long id = 0;
  if (long code = KeyOf(key, platform::kKeyEnumerateSubKeys, &id); code != platform::kErrorSuccess) return code;
  if (name == nullptr) return kErrorInvalidParameter;
  Database& db = Db();
  std::string found;
  if (!db.ChildAt(id, index, &found)) return db.KeyExists(id) ? platform::kErrorNoMoreItems : kErrorKeyDeleted;
  std::wstring wide = text::FromUtf8(found);
  if (wide.size() >= capacity) return platform::kErrorMoreData;
  *name = std::move(wide);
  return platform::kErrorSuccess;
}

long PosixRegistry::EnumValue(RegKey key, std::uint32_t index, std::wstring* name, std::uint32_t* type,
                              std::vector<std::uint8_t>* data) {
  long long id = 0;
  if (long code = KeyOf(key, platform::kKeyQueryValue, &id); code != platform::kErrorSuccess) return code;
  if (name == nullptr) return kErrorInvalidParameter;
  Database& db = Db();
  // A walk over the values asks for index 0, 1, 2, ...: the key's values are
  // read once and kept while the database shows no change, instead of being
  // searched again for every index.
  const auto version = db.Version();
  if (valueCache_.key != id || valueCache_.version != version) {
    Database::ReadTransaction snapshot(db);
    if (!db.KeyExists(id)) return kErrorKeyDeleted;
    db.ListValues(id, &valueCache_.rows);
    valueCache_.key = id;
    valueCache_.version = version;
  }
  if (index >= valueCache_.rows.size()) return platform::kErrorNoMoreItems;
  const ValueRow& row = valueCache_.rows[index];
  *name = row.name;
  if (type != nullptr) *type = row.type;
  if (data != nullptr) *data = row.data;
  return platform::kErrorSuccess;
}

std::string PosixRegistry::EncodeText(const std::wstring& text) { return text::ToUtf8(text); }

std::wstring PosixRegistry::DecodeText(std::string_view bytes) { return text::FromUtf8(bytes); }

long PosixRegistry::DeleteKey(RegKey parent, const std::wstring& subKey) {
  long long id = 0;
  if (long code = KeyOf(parent, 0, &id); code != platform::kErrorSuccess) return code;
  Database& db = Db();
  std::vector<std::wstring> parts;
  if (!SplitPath(subKey, &parts)) return platform::kErrorFileNotFound;
  Database::Transaction tx(db);
  if (!db.KeyExists(id)) return kErrorKeyDeleted;
  long long target = 0;
  if (db.Walk(id, parts, &target) != parts.size()) return platform::kErrorFileNotFound;
  // An empty path names the parent itself; the root can never go.
  if (target == kRootId || db.HasChildren(target)) return platform::kErrorAccessDenied;
  db.DeleteKeyRow(target);
  tx.Commit();
  return platform::kErrorSuccess;
}

long PosixRegistry::DeleteValue(RegKey key, const std::wstring& name) {
  long long id = 0;
  if (long code = KeyOf(key, platform::kKeySetValue, &id); code != platform::kErrorSuccess) return code;
  Database& db = Db();
  Database::Transaction tx(db);
  if (!db.DeleteValue(id, name)) return db.KeyExists(id) ? platform::kErrorFileNotFound : kErrorKeyDeleted;
  tx.Commit();
  return platform::kErrorSuccess;
}

long PosixRegistry::QueryString(RegKey key, const std::wstring& name, std::uint32_t bufferBytes, std::wstring* text) {
  if (text == nullptr) return kErrorInvalidParameter;
  std::vector<std::uint8_t> buffer(bufferBytes);
  std::uint32_t size = bufferBytes;
  std::uint32_t type = 0;
  const long rc = QueryValue(key, name, &type, buffer.data(), &size);
  if (rc != platform::kErrorSuccess) return rc;
  if (type != platform::kRegSz) return platform::kErrorUnsupportedType;
  // The data ends with its NUL; the text is everything before it.
  *text = size == 0 ? std::wstring()
                    : text::FromUtf8(std::string_view(reinterpret_cast<const char*>(buffer.data()), size - 1));
  return platform::kErrorSuccess;
}

long PosixRegistry::SetString(RegKey key, const std::wstring& name, const std::wstring& text) {
  std::string bytes = text::ToUtf8(text);
  bytes.push_back('\0');
  return SetValue(key, name, platform::kRegSz, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                  static_cast<std::uint32_t>(bytes.size()));
}

void PosixRegistry::Transact(const std::function<void()>& work) {
  Database::Transaction tx(Db());
  work();
  tx.Commit();
}

long PosixRegistry::CloseKey(RegKey key) {
  if (key == platform::kHKeyLocalMachine) return platform::kErrorSuccess;
  return handles_.erase(key) != 0 ? platform::kErrorSuccess : platform::kErrorInvalidHandle;
}

// ---------------------------------------------------------------------------
// Undo records of atomic runs
// ---------------------------------------------------------------------------

void PosixRegistry::AddUndoRecord(const std::string& run, std::int64_t sequence, const std::string& record) {
  Database::Transaction tx(Db());
  Db().AddUndo(run, sequence, record);
  tx.Commit();
}

std::vector<std::pair<std::int64_t, std::string>> PosixRegistry::UndoRecords(const std::string& run) {
  Database& db = Db();
  Database::ReadTransaction snapshot(db);
  return db.UndoRecords(run);
}

void PosixRegistry::DropUndoRecords(const std::string& run, std::int64_t sequence) {
  Database::Transaction tx(Db());
  Db().DropUndo(run, sequence);
  tx.Commit();
}

std::wstring PosixRegistry::Location() { return text::FromUtf8(Db().Path()); }

std::unique_ptr<platform::Registry> PosixRegistry::OpenAt(const std::wstring& location) {
  return std::make_unique<PosixRegistry>([path = text::ToUtf8(location)] { return path; });
}

}  // namespace posix
