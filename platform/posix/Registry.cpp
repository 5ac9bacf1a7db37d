#include "platform/posix/Registry.h"

#include <cstring>
#include <vector>

#include "platform/Text.h"
#include "platform/posix/RegistryDatabase.h"

namespace posix {

using namespace registry;
using platform::RegKey;

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

RegKey PosixRegistry::NewHandle(long long id, std::uint32_t access, std::pair<long long, long long> leafAt) {
  while (nextHandle_ == 0 || nextHandle_ == platform::kHKeyLocalMachine || handles_.count(nextHandle_) != 0)
    ++nextHandle_;
  RegKey handle = nextHandle_++;
  handles_.emplace(handle, OpenKeyRow{id, access, leafAt});
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
  // One subkey of the key whose subkeys EnumKey read last, as a walk over a
  // tree opens them: found among those, if nothing changed since.
  if (parts.size() == 1 && subkeyCache_.key == id && subkeyCache_.version == db.Version()) {
    const std::string folded = Fold(parts[0]);
    const auto& rows = subkeyCache_.rows;
    const auto it = std::lower_bound(rows.begin(), rows.end(), folded,
                                     [](const ChildRow& row, const std::string& f) { return row.folded < f; });
    if (it == rows.end() || it->folded != folded) return platform::kErrorFileNotFound;
    *result =
        NewHandle(it->id, access, it->hasSubkeys ? std::pair<long long, long long>{-1, -1} : subkeyCache_.version);
    return platform::kErrorSuccess;
  }
  {
    Database::ReadTransaction snapshot(db);
    // A subkey found below the key shows that the key is still there (only
    // a key without subkeys can be deleted); otherwise it is asked.
    const std::size_t reached = db.Walk(id, parts, &found);
    if (reached == 0 && !db.KeyExists(id)) return kErrorKeyDeleted;
    if (reached != parts.size()) return platform::kErrorFileNotFound;
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
  const bool exists = [&] {
    Database::ReadTransaction snapshot(db);
    return db.KeyExists(id) && db.Walk(id, parts, &found) == parts.size();
  }();
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
  // A key opened from its parent's subkeys, known then to have none.
  if (key != platform::kHKeyLocalMachine) {
    const auto& leafAt = handles_.find(key)->second.leafAt;
    if (leafAt.second != -1 && leafAt == db.Version()) return platform::kErrorNoMoreItems;
  }
  // A walk over the subkeys asks for index 0, 1, 2, ...: from index 1 on the
  // names are read in one pass and kept while the database shows no change,
  // so that a walk costs one query, not one search per index. Index 0 alone
  // is looked up directly: deleting subkey after subkey asks for it again
  // after every change.
  const std::wstring* found = nullptr;
  std::wstring first;
  if (index == 0) {
    std::string row;
    const long rc = db.ChildAt(id, 0, &row);
    if (rc != platform::kErrorSuccess) return rc;
    first = text::FromUtf8(row);
    found = &first;
  } else {
    const auto version = db.Version();
    if (subkeyCache_.key != id || subkeyCache_.version != version) {
      Database::ReadTransaction snapshot(db);
      if (!db.KeyExists(id)) return kErrorKeyDeleted;
      db.ListChildren(id, &subkeyCache_.names, &subkeyCache_.rows);
      subkeyCache_.key = id;
      subkeyCache_.version = version;
    }
    if (index < subkeyCache_.names.size()) found = &subkeyCache_.names[index];
  }
  if (found == nullptr) return db.KeyExists(id) ? platform::kErrorNoMoreItems : kErrorKeyDeleted;
  if (found->size() >= capacity) return platform::kErrorMoreData;
  *name = *found;
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
    // Values go with their key: a key that has some is there.
    db.ListValues(id, &valueCache_.rows);
    if (valueCache_.rows.empty() && !db.KeyExists(id)) {
      valueCache_.key = -1;
      return kErrorKeyDeleted;
    }
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

void PosixRegistry::Snapshot(const std::function<void()>& work) {
  Database::ReadTransaction snapshot(Db());
  work();
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
