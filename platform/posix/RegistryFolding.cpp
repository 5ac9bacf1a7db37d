// The folding of the stored names: a registry written with another case
// folding gets its names folded anew when it is opened.
#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "platform/Text.h"
#include "platform/posix/RegistryDatabase.h"

namespace posix {

using namespace registry;

std::string PosixRegistry::Database::RecordedFolding() {
  if (!HasTable("registry_info")) return std::string();
  Stmt s;
  s.Prepare(*this, "SELECT value FROM registry_info WHERE name = ?1");
  Use u(*this, s);
  u.Bind(1, std::string(kFoldingRow));
  return u.Step() ? u.Text(0) : std::string();
}

void PosixRegistry::Database::RecordFolding() {
  Stmt s;
  s.Prepare(*this, "INSERT OR REPLACE INTO registry_info(name, value) VALUES(?1, ?2)");
  Use u(*this, s);
  u.Bind(1, std::string(kFoldingRow)).Bind(2, text::FoldingIdentity());
  u.Step();
}

void PosixRegistry::Database::UpdateFolding() {
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

struct PosixRegistry::Database::Tables {
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
  std::map<long long, std::vector<long long>> children;  // by parent
  std::vector<ValueRow> values;                          // by key, then by age
  std::map<long long, long long> mergedInto;             // a merged key -> the one it went into

  // Merges siblings of one folded name, parent by parent. A key that takes
  // in another's subkeys is looked at again, for those may now collide with
  // its own.
  void MergeSiblings() {
    std::vector<long long> work;
    for (const auto& entry : children) work.push_back(entry.first);
    while (!work.empty()) {
      const long long parent = work.back();
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
        const long long survivor = slot->second;
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
  }

  // The key that a key's values now belong to.
  long long Owner(long long key) const {
    for (auto it = mergedInto.find(key); it != mergedInto.end(); it = mergedInto.find(key)) key = it->second;
    return key;
  }
};

void PosixRegistry::Database::Refold() {
  Tables tables;
  ReadForRefold(tables);
  tables.MergeSiblings();
  WriteRefolded(tables);
}

void PosixRegistry::Database::ReadForRefold(Tables& tables) {
  {
    Stmt s;
    s.Prepare(*this, "SELECT id, parent_id, name FROM keys ORDER BY id");
    Use u(*this, s);
    while (u.Step()) {
      std::string name = u.Text(2);
      std::string folded = Fold(text::FromUtf8(name));
      tables.keys.emplace(u.Int(0), Tables::KeyRow{u.Int(1), std::move(name), std::move(folded)});
      tables.children[u.Int(1)].push_back(u.Int(0));
    }
  }
  Stmt s;
  s.Prepare(*this, "SELECT rowid, key_id, name, type, data FROM key_values ORDER BY key_id, rowid");
  Use u(*this, s);
  while (u.Step()) {
    std::uint32_t size = 0;
    const std::uint8_t* data = u.Blob(4, &size);
    std::string name = u.Text(2);
    std::string folded = Fold(text::FromUtf8(name));
    tables.values.push_back({u.Int(0), u.Int(1), u.Int(3), std::move(name), std::move(folded),
                             std::vector<std::uint8_t>(data, data + size)});
  }
}

void PosixRegistry::Database::WriteRefolded(const Tables& tables) {
  Exec("DELETE FROM key_values");
  Exec("DELETE FROM keys");
  {
    Stmt s;
    s.Prepare(*this, "INSERT INTO keys(id, parent_id, name, name_folded) VALUES(?1, ?2, ?3, ?4)");
    for (const auto& [id, row] : tables.keys) {
      if (tables.mergedInto.count(id) != 0) continue;
      Use u(*this, s);
      u.Bind(1, id).Bind(2, row.parent).Bind(3, row.name).Bind(4, row.folded);
      u.Step();
    }
  }
  // Values come ordered by their original key and then by age, so the first
  // one of a name in its final key is the one that stays.
  std::set<std::pair<long long, std::string>> taken;
  Stmt s;
  s.Prepare(*this,
            "INSERT INTO key_values(rowid, key_id, name, name_folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  for (const Tables::ValueRow& v : tables.values) {
    const long long key = tables.Owner(v.key);
    if (!taken.emplace(key, v.folded).second) continue;
    Use u(*this, s);
    u.Bind(1, v.rowid).Bind(2, key).Bind(3, v.name).Bind(4, v.folded).Bind(5, v.type);
    u.BindBlob(6, v.data.data(), static_cast<std::uint32_t>(v.data.size()));
    u.Step();
  }
}

}  // namespace posix
