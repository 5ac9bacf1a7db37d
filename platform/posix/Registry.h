// HKEY_LOCAL_MACHINE on POSIX: an SQLite database file holding the key tree
// and the values, shared safely between several processes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <unordered_map>
#include <utility>

#include "platform/Platform.h"

struct sqlite3;

namespace posix {

// One value of a key as the database holds it.
struct ValueRow {
  std::wstring name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// One subkey of a key as the database holds it.
struct ChildRow {
  long long id = 0;
  std::string folded;  // the folded name in UTF-8, in whose order the rows come
  bool hasSubkeys = false;
};

// Return codes beyond the ones the interface names, as Windows defines them.
constexpr long kErrorInvalidParameter = 87;
// A handle whose key has been deleted since it was opened.
constexpr long kErrorKeyDeleted = 1018;

// The registry below HKEY_LOCAL_MACHINE kept in an SQLite database.
//
// The database is opened on the first call that needs it; its path comes from
// the provider given to the constructor. A file that cannot be opened, is not
// an SQLite database or holds something other than a registry raises
// VslError naming the file from that call; an existing file is never replaced
// by an empty registry.
//
// Key paths are backslash-separated. A trailing backslash is ignored; any
// other empty component (a leading or a doubled backslash) makes the call
// fail with kErrorFileNotFound. Access masks are accepted and not enforced.
//
// Handles are small numbers of this process mapping to key rows; the root
// handle kHKeyLocalMachine always means the root and needs no closing. A
// handle whose key was deleted (by this process or another) fails its calls
// with kErrorKeyDeleted. Key rows are never renumbered, so a stale handle
// can never reach a different key.
class PosixRegistry : public platform::Registry {
 public:
  explicit PosixRegistry(std::function<std::string()> databasePath);
  ~PosixRegistry() override;
  PosixRegistry(const PosixRegistry&) = delete;
  PosixRegistry& operator=(const PosixRegistry&) = delete;

  long OpenKey(platform::RegKey parent, const std::wstring& subKey, std::uint32_t access,
               platform::RegKey* result) override;
  long CreateKey(platform::RegKey parent, const std::wstring& subKey, platform::RegKey* result) override;
  long QueryValue(platform::RegKey key, const std::wstring& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override;
  long SetValue(platform::RegKey key, const std::wstring& name, std::uint32_t type, const std::uint8_t* data,
                std::uint32_t size) override;
  long EnumKey(platform::RegKey key, std::uint32_t index, std::uint32_t capacity, std::wstring* name) override;
  long EnumValue(platform::RegKey key, std::uint32_t index, std::wstring* name, std::uint32_t* type,
                 std::vector<std::uint8_t>* data) override;
  std::string EncodeText(const std::wstring& text) override;
  std::wstring DecodeText(std::string_view bytes) override;
  long DeleteKey(platform::RegKey parent, const std::wstring& subKey) override;
  long DeleteValue(platform::RegKey key, const std::wstring& name) override;
  long CloseKey(platform::RegKey key) override;
  long QueryString(platform::RegKey key, const std::wstring& name, std::uint32_t bufferBytes,
                   std::wstring* text) override;
  long SetString(platform::RegKey key, const std::wstring& name, const std::wstring& text) override;
  void Transact(const std::function<void()>& work) override;
  bool KeepsUndoRecords() override { return true; }
  void AddUndoRecord(const std::string& run, std::int64_t sequence, const std::string& record) override;
  std::vector<std::pair<std::int64_t, std::string>> UndoRecords(const std::string& run) override;
  void DropUndoRecords(const std::string& run, std::int64_t sequence) override;
  std::wstring Location() override;
  std::unique_ptr<platform::Registry> OpenAt(const std::wstring& location) override;
  void Snapshot(const std::function<void()>& work) override;

 private:
  class Database;

  Database& Db();
  // The key row a handle stands for, when the handle was opened with every
  // right in `needed`: kErrorSuccess, kErrorInvalidHandle for an unknown
  // handle, kErrorAccessDenied for a missing right (as on Windows, a key
  // opened for reading cannot be written through).
  long KeyOf(platform::RegKey handle, std::uint32_t needed, long long* id) const;
  // `leafAt`: the database version at which the key was known to have no
  // subkeys, if it was ({-1, -1} otherwise: no version has a negative count
  // of changes).
  platform::RegKey NewHandle(long long id, std::uint32_t access,
                             std::pair<long long, long long> leafAt = {-1, -1});
  // The common start of OpenKey and CreateKey: checks the arguments, finds
  // the parent's key and splits the subkey path. kErrorSuccess to go on.
  long BeginKeyCall(platform::RegKey parent, const std::wstring& subKey, platform::RegKey* result, long long* id,
                    std::vector<std::wstring>* parts);

  std::function<std::string()> pathProvider_;
  std::unique_ptr<Database> db_;
  struct OpenKeyRow {
    long long id;
    std::uint32_t access;  // the rights the key was opened with
    std::pair<long long, long long> leafAt;
  };
  std::unordered_map<platform::RegKey, OpenKeyRow> handles_;
  platform::RegKey nextHandle_ = 1;
  // The values of the key that EnumValue walks, with the database version
  // they were read at.
  struct {
    long long key = -1;
    std::pair<long long, long long> version{-1, -1};
    std::vector<ValueRow> rows;
  } valueCache_;
  // The same for the subkeys that EnumKey walks, which a walk over a tree
  // opens next: their names, and their rows for OpenKey.
  struct {
    long long key = -1;
    std::pair<long long, long long> version{-1, -1};
    std::vector<std::wstring> names;
    std::vector<ChildRow> rows;
  } subkeyCache_;
};

}  // namespace posix
