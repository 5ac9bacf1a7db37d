// The registry's database: opening it, its schema and write-ahead log, the
// rows of keys and values, and the undo records of atomic runs.
#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "platform/Text.h"
#include "platform/posix/RegistryDatabase.h"

namespace posix {

using namespace registry;

PosixRegistry::Database::Database(std::string path) : path_(std::move(path)) {
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
  enumChild_.Prepare(*this,
                     "SELECT (SELECT name FROM keys WHERE parent_id = ?1 ORDER BY name_folded LIMIT 1 OFFSET ?2),"
                     " EXISTS(SELECT 1 FROM keys WHERE id = ?1)");
  listChildren_.Prepare(*this,
                        "SELECT k.id, k.name, k.name_folded, EXISTS(SELECT 1 FROM keys c WHERE c.parent_id = k.id) "
                        "FROM keys k WHERE k.parent_id = ?1 ORDER BY k.name_folded");
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

void PosixRegistry::Database::Fail(const std::wstring& verb, const std::wstring& lead) {
  std::wstring reason = text::FromUtf8(db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
  if (!lead.empty()) reason = lead + reason + L")";
  throw VslError(L"Cannot " + verb + L" the registry database " + text::FromUtf8(path_) + L": " + reason);
}

bool PosixRegistry::Database::FindChild(long long parent, const std::wstring& name, long long* id) {
  Use u(*this, findChild_);
  u.Bind(1, parent).Bind(2, Fold(name));
  if (!u.Step()) return false;
  *id = u.Int(0);
  return true;
}

std::size_t PosixRegistry::Database::Walk(long long from, const std::vector<std::wstring>& parts, long long* id) {
  *id = from;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    long long child = 0;
    if (!FindChild(*id, parts[i], &child)) return i;
    *id = child;
  }
  return parts.size();
}

bool PosixRegistry::Database::KeyExists(long long id) {
  if (id == kRootId) return true;
  Use u(*this, keyExists_);
  u.Bind(1, id);
  return u.Step();
}

long long PosixRegistry::Database::InsertKey(long long parent, const std::wstring& name) {
  Use u(*this, insertKey_);
  u.Bind(1, parent).Bind(2, text::ToUtf8(name)).Bind(3, Fold(name));
  u.Step();
  return sqlite3_last_insert_rowid(db_);
}

bool PosixRegistry::Database::HasChildren(long long id) {
  Use u(*this, hasChildren_);
  u.Bind(1, id);
  return u.Step();
}

void PosixRegistry::Database::DeleteKeyRow(long long id) {
  {
    Use u(*this, deleteKeyValues_);
    u.Bind(1, id);
    u.Step();
  }
  Use u(*this, deleteKey_);
  u.Bind(1, id);
  u.Step();
}

long PosixRegistry::Database::ChildAt(long long parent, std::uint32_t index, std::string* name) {
  Use u(*this, enumChild_);
  u.Bind(1, parent).Bind(2, static_cast<long long>(index));
  u.Step();
  if (u.Int(1) == 0) return kErrorKeyDeleted;
  if (u.IsNull(0)) return platform::kErrorNoMoreItems;
  *name = u.Text(0);
  return platform::kErrorSuccess;
}

void PosixRegistry::Database::ListChildren(long long parent, std::vector<std::wstring>* names,
                                           std::vector<ChildRow>* rows) {
  names->clear();
  rows->clear();
  Use u(*this, listChildren_);
  u.Bind(1, parent);
  while (u.Step()) {
    names->push_back(text::FromUtf8(u.Text(1)));
    rows->push_back({u.Int(0), u.Text(2), u.Int(3) != 0});
  }
}

void PosixRegistry::Database::SetValue(long long key, const std::wstring& name, std::uint32_t type,
                                       const std::uint8_t* data, std::uint32_t size) {
  Use u(*this, setValue_);
  u.Bind(1, key).Bind(2, text::ToUtf8(name)).Bind(3, Fold(name)).Bind(4, static_cast<long long>(type));
  u.BindBlob(5, data, size);
  u.Step();
}

void PosixRegistry::Database::ListValues(long long key, std::vector<ValueRow>* rows) {
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

std::pair<long long, long long> PosixRegistry::Database::Version() {
  if (sqlite3_get_autocommit(db_) == 0) return {-transactions_, sqlite3_total_changes64(db_)};
  Use u(*this, dataVersion_);
  u.Step();
  return {u.Int(0), sqlite3_total_changes64(db_)};
}

bool PosixRegistry::Database::DeleteValue(long long key, const std::wstring& name) {
  Use u(*this, deleteValue_);
  u.Bind(1, key).Bind(2, Fold(name));
  u.Step();
  return sqlite3_changes(db_) > 0;
}

void PosixRegistry::Database::AddUndo(const std::string& run, long long sequence, const std::string& record) {
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

std::vector<std::pair<std::int64_t, std::string>> PosixRegistry::Database::UndoRecords(const std::string& run) {
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

void PosixRegistry::Database::DropUndo(const std::string& run, long long sequence) {
  if (!HasTable("undo_records")) return;
  Stmt s;
  s.Prepare(*this, sequence < 0 ? "DELETE FROM undo_records WHERE run = ?1"
                                : "DELETE FROM undo_records WHERE run = ?1 AND seq = ?2");
  Use u(*this, s);
  u.Bind(1, run);
  if (sequence >= 0) u.Bind(2, sequence);
  u.Step();
}

void PosixRegistry::Database::Exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(L"open");
}

bool PosixRegistry::Database::SwitchToWal() {
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

void PosixRegistry::Database::CreateSchema() {
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

bool PosixRegistry::Database::HasTable(const char* name) {
  Stmt s;
  s.Prepare(*this, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1", false);
  Use u(*this, s);
  u.Bind(1, std::string(name));
  return u.Step();
}


}  // namespace posix
