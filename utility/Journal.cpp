#include "utility/Journal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "platform/PathSyntax.h"
#include "platform/Text.h"
#include "utility/CSystemHelper.h"

namespace Utility {

namespace {

using Json = Journal::Json;
using platform::EntryStamp;
using platform::KeyHandle;

constexpr const wchar_t* kAreaPrefix = L".vsl-undo-";
constexpr const wchar_t* kJournalEnding = L".journal";

std::string U8(const std::wstring& s) { return text::ToUtf8(s); }
std::wstring W(const Json& j) { return text::FromUtf8(j.get<std::string>()); }

using platform::path::Join;
using platform::path::ParentOf;

std::wstring NameOf(const std::wstring& full) {
  const std::size_t sep = full.find_last_of(L"\\/");
  return sep == std::wstring::npos ? full : full.substr(sep + 1);
}

// A fresh name for a run: its start in UTC and a random number, so that
// names sort by age and never meet.
std::wstring NewRunName() {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::random_device random;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%013lld-%08x", static_cast<long long>(ms), static_cast<unsigned>(random()));
  return text::FromUtf8(buf);
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

std::vector<std::uint8_t> Unhex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(value(hex[i]) << 4 | value(hex[i + 1])));
  return out;
}

bool IsChange(const std::string& kind) {
  static const char* const kinds[] = {"removed", "replaced", "created", "rewritten", "attributes",
                                      "value",   "key",      "keydeleted"};
  return std::any_of(std::begin(kinds), std::end(kinds), [&](const char* k) { return kind == k; });
}

// A record undone in its place in the sequence: a change, or what the
// journal itself did to a directory of the script's (its time, a saved area
// in it).
bool IsStep(const std::string& kind) { return IsChange(kind) || kind == "dirtime" || kind == "area"; }

bool IsRegistryChange(const std::string& kind) { return kind == "value" || kind == "key" || kind == "keydeleted"; }

[[noreturn]] void CannotUndo(const std::wstring& what) { throw VslError(what); }

// What a record keeps of an entry's stamp, and the stamp again.
void PutStamp(Json& record, const EntryStamp& stamp) {
  record["volume"] = stamp.volume;
  record["identity"] = stamp.identity;
  record["size"] = stamp.size;
  record["modified"] = stamp.modified;
  record["permissions"] = stamp.permissions;
}

EntryStamp StampOf(const Json& record) {
  EntryStamp stamp;
  stamp.exists = true;
  stamp.volume = record["volume"].get<std::uint64_t>();
  stamp.identity = record["identity"].get<std::uint64_t>();
  stamp.size = record["size"].get<std::uint64_t>();
  stamp.modified = record["modified"].get<std::int64_t>();
  stamp.permissions = record["permissions"].get<std::uint32_t>();
  return stamp;
}

// Deletes a registry key and everything below it, without recursion: the
// first subkey is followed down until a key without subkeys is found, which
// goes; then the walk goes on from its parent.
bool DeleteKeyTree(platform::Registry& reg, const std::wstring& top) {
  constexpr std::uint32_t kAccess = platform::kKeyRead | platform::kKeyWrite;
  std::wstring path = top;
  for (;;) {
    KeyHandle key(reg);
    if (reg.OpenKey(platform::kHKeyLocalMachine, path, kAccess, key.Out()) != platform::kErrorSuccess)
      return path != top;
    std::wstring child;
    if (reg.EnumKey(key.Get(), 0, 256, &child) == platform::kErrorSuccess) {
      path += L"\\" + child;
      continue;
    }
    key.Reset();
    if (reg.DeleteKey(platform::kHKeyLocalMachine, path) != platform::kErrorSuccess)
      CannotUndo(L"HKEY_LOCAL_MACHINE\\" + path + L": the key cannot be deleted");
    if (path == top) return true;
    path.resize(path.rfind(L'\\'));
  }
}

void SetValueFromRecord(platform::Registry& reg, platform::RegKey key, const std::wstring& name, const Json& v,
                        const std::wstring& keyPath) {
  const std::vector<std::uint8_t> data = Unhex(v["data"].get<std::string>());
  if (reg.SetValue(key, name, v["type"].get<std::uint32_t>(), data.data(), static_cast<std::uint32_t>(data.size())) !=
      platform::kErrorSuccess)
    CannotUndo(L"HKEY_LOCAL_MACHINE\\" + keyPath + L": the value \"" + name + L"\" cannot be written");
}

}  // namespace

// ---------------------------------------------------------------------------
// Starting and taking over
// ---------------------------------------------------------------------------

Journal::Journal(const platform::Platform& native, const std::wstring& script)
    : native_(native), dir_(native.system->JournalDir()), run_(NewRunName()), script_(script) {
  journalPath_ = dir_ + L"\\" + run_ + kJournalEnding;
  primary_ = dir_ + L"\\" + run_;
  {
    // The directory is made with the machine's own file system.
    platform::ScopedPlatform own(native_);
    std::wstring dir = dir_;
    CSystemHelper().CreatePath(dir);
  }
  primaryVolume_ = native_.fileSystem->Stamp(dir_).volume;
  file_ = native_.fileSystem->OpenLocked(journalPath_, true);
  if (!file_) throw VslError(L"Cannot lock the journal " + journalPath_);
  Json header;
  header["kind"] = "run";
  header["script"] = U8(script_);
  Write(header, true);
  journalParentFolded_ = text::Fold(native_.fileSystem->FullPath(ParentOf(dir_)));
  journalNameFolded_ = text::Fold(NameOf(dir_));
}

Journal::Journal(const platform::Platform& native, std::wstring journalPath,
                 std::unique_ptr<platform::LockedFile> file, Opened)
    : native_(native), journalPath_(std::move(journalPath)), file_(std::move(file)) {
  dir_ = ParentOf(journalPath_);
  run_ = NameOf(journalPath_);
  run_.resize(run_.size() - std::wstring(kJournalEnding).size());
  primary_ = dir_ + L"\\" + run_;
  primaryMade_ = true;  // whether it is there is asked when it goes
}

Journal::~Journal() = default;

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

void Journal::Write(const Json& record, bool durable) {
  file_->Append(record.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n", durable || syncNext_);
  syncNext_ = false;
}

std::int64_t Journal::Record(Json record) {
  const std::int64_t seq = Next();
  Json full;
  full["seq"] = seq;
  for (auto& [k, v] : record.items()) full[k] = std::move(v);
  Write(full);
  last_ = std::move(full);
  ++changes_;
  return seq;
}

void Journal::Abandon(std::int64_t sequence) {
  Json j;
  j["kind"] = "void";
  j["of"] = sequence;
  Write(j);
  --changes_;
  if (sequence == lastCreatedSeq_) created_.erase(lastCreatedKey_);
}

bool Journal::CreatedByRun(const std::wstring& fullPath) const { return created_.count(text::Fold(fullPath)) != 0; }

void Journal::ForgetCreated(const std::wstring& fullPath) { created_.erase(text::Fold(fullPath)); }

bool Journal::IsOwnEntry(const std::wstring& name, const std::function<std::wstring()>& fullDir) const {
  const std::wstring folded = text::Fold(name);
  if (folded.starts_with(text::Fold(kAreaPrefix))) return true;
  return folded == journalNameFolded_ && text::Fold(fullDir()) == journalParentFolded_;
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

std::wstring Journal::AreaFor(const std::wstring& fullPath, bool primary) {
  platform::FileSystem& fs = *native_.fileSystem;
  if (primary) {
    if (!primaryMade_) {
      if (!fs.Stamp(primary_).exists) fs.CreateDir(primary_);
      primaryMade_ = true;
    }
    return primary_;
  }
  const std::wstring parent = ParentOf(fullPath);
  const std::wstring area = Join(parent, kAreaPrefix + run_);
  if (areas_.insert(text::Fold(area)).second) {
    NoteDirTime(parent);
    Json j;
    j["seq"] = Next();
    j["kind"] = "area";
    j["path"] = U8(area);
    Write(j, true);
    areaPaths_.push_back(area);
    if (!fs.Stamp(area).exists) fs.CreateDir(area);
    fs.SetAttributes(area, platform::kAttrHidden);
  }
  return area;
}

void Journal::NoteDirTime(const std::wstring& dir) {
  const std::wstring key = text::Fold(dir);
  if (createdDirs_.count(key) != 0 || !timedDirs_.insert(key).second) return;
  const EntryStamp stamp = native_.fileSystem->Stamp(dir);
  if (!stamp.exists || !stamp.directory) return;
  Json j;
  j["seq"] = Next();
  j["kind"] = "dirtime";
  j["path"] = U8(dir);
  PutStamp(j, stamp);
  Write(j);
}

bool Journal::SaveAside(const std::wstring& full, const EntryStamp& stamp, bool replaced) {
  platform::FileSystem& fs = *native_.fileSystem;
  NoteDirTime(ParentOf(full));
  Json record;
  record["kind"] = replaced ? "replaced" : "removed";
  record["path"] = U8(full);
  PutStamp(record, stamp);
  // On the journal's own file system the entry goes to the run's saved area;
  // elsewhere, or where that rename is refused after all (a bind mount), to
  // a saved area in its own parent directory.
  for (bool primary : {true, false}) {
    if (primary && stamp.volume != primaryVolume_) continue;
    const std::wstring area = AreaFor(full, primary);
    record["saved"] = U8(area + L"\\" + std::to_wstring(sequence_ + 1));
    const std::wstring saved = W(record["saved"]);
    const std::int64_t seq = Record(record);
    if (fs.MoveEntry(full, saved)) {
      ForgetCreated(full);
      return true;
    }
    Abandon(seq);
  }
  // A mount point cannot be renamed at all: a file is copied aside, a
  // directory is left to the caller, who deletes its entries one by one.
  if (stamp.directory) return false;
  const std::wstring area = AreaFor(full, true);
  const std::wstring saved = area + L"\\" + std::to_wstring(sequence_ + 1);
  record["saved"] = U8(saved);
  record["copied"] = true;
  Record(record);
  fs.CopyWholeFile(full, saved);
  fs.RestoreStamp(saved, stamp);
  if (stamp.readOnly) fs.SetAttributes(full, 0);
  fs.RemoveFile(full);
  ForgetCreated(full);
  return true;
}

std::int64_t Journal::NoteCreated(const std::wstring& path, bool directory) {
  const std::wstring full = native_.fileSystem->FullPath(path);
  NoteDirTime(ParentOf(full));
  if (directory) createdDirs_.insert(text::Fold(full));
  Json record;
  record["kind"] = "created";
  record["path"] = U8(full);
  record["directory"] = directory;
  const std::int64_t seq = Record(record);
  if (!directory) {
    lastCreatedSeq_ = seq;
    lastCreatedKey_ = text::Fold(full);
    created_.insert(lastCreatedKey_);
  }
  return seq;
}

void Journal::NoteRewritten(const std::wstring& full, const EntryStamp& stamp) {
  Json record;
  record["kind"] = "rewritten";
  record["path"] = U8(full);
  PutStamp(record, stamp);
  Record(record);
}

void Journal::NoteAttributes(const std::wstring& full, std::uint32_t attributes) {
  Json record;
  record["kind"] = "attributes";
  record["path"] = U8(full);
  record["attributes"] = attributes;
  Record(record);
}

void Journal::UndoLast() {
  if (!last_.contains("seq")) return;
  Undo(last_);
  MarkUndone(last_["seq"].get<std::int64_t>());
  --changes_;
}

void Journal::MarkUndone(std::int64_t sequence) {
  // Only a help for a rollback that is itself interrupted (every step is
  // safe to repeat), so a journal that cannot be written (a full disk)
  // does not stop the rollback.
  try {
    Json j;
    j["kind"] = "undone";
    j["of"] = sequence;
    Write(j);
  } catch (const VslError&) {
  }
}

void Journal::NoteExternal(const std::wstring& what) {
  Json j;
  j["seq"] = Next();
  j["kind"] = "external";
  j["what"] = U8(what);
  Write(j);
}

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------

Json Journal::ValueRecord(const std::wstring& key, const std::wstring& name, const SavedValue* old) {
  Json j;
  j["kind"] = "value";
  j["key"] = U8(key);
  j["name"] = U8(name);
  if (old != nullptr) {
    j["type"] = old->type;
    j["data"] = Hex(old->data);
  }
  return j;
}

Json Journal::KeyCreatedRecord(const std::wstring& key) {
  Json j;
  j["kind"] = "key";
  j["key"] = U8(key);
  return j;
}

Json Journal::KeyDeletedRecord(const std::wstring& key, const std::vector<SavedValue>& values) {
  Json j;
  j["kind"] = "keydeleted";
  j["key"] = U8(key);
  j["values"] = Json::array();
  for (const SavedValue& v : values) {
    Json value;
    value["name"] = U8(v.name);
    value["type"] = v.type;
    value["data"] = Hex(v.data);
    j["values"].push_back(std::move(value));
  }
  return j;
}

long Journal::RegistryChange(Json record, const std::function<long()>& change) {
  platform::Registry& reg = *native_.registry;
  long rc = platform::kErrorSuccess;
  reg.Transact([&] {
    if (!reg.KeepsUndoRecords()) {
      // The journal file keeps the record, written before the change.
      const std::int64_t seq = Record(std::move(record));
      rc = change();
      if (rc != platform::kErrorSuccess) Abandon(seq);
      return;
    }
    if (!registryNoted_) {
      // Where the records are, for finishing the run after a crash.
      Json j;
      j["kind"] = "registry";
      j["location"] = U8(reg.Location());
      Write(j, true);
      registryNoted_ = true;
      registry_ = &reg;
    }
    const std::int64_t seq = Next();
    record["seq"] = seq;
    reg.AddUndoRecord(U8(run_), seq, record.dump(-1, ' ', false, Json::error_handler_t::replace));
    rc = change();
    if (rc != platform::kErrorSuccess)
      reg.DropUndoRecords(U8(run_), seq);
    else
      ++changes_;
  });
  return rc;
}

// ---------------------------------------------------------------------------
// Undoing
// ---------------------------------------------------------------------------

Journal::Step Journal::Undo(const Json& r) {
  platform::FileSystem& fs = *native_.fileSystem;
  const std::string kind = r["kind"].get<std::string>();
  if (IsRegistryChange(kind)) return UndoRegistry(r);
  const std::wstring path = W(r["path"]);
  const EntryStamp now = fs.Stamp(path);
  if (kind == "dirtime") {
    // A directory whose entries the run changed gets its time back once
    // they are as they were.
    if (now.exists && now.directory) fs.RestoreStamp(path, StampOf(r));
    return Step::NothingToDo;
  }
  if (kind == "area") {
    // Emptied by the steps after it; what could not be put back stays.
    if (now.exists) {
      bool empty = true;
      for (const platform::FindEntry& e : fs.Find(Join(path, L"*")))
        empty = empty && (e.name == L"." || e.name == L"..");
      if (empty) fs.RemoveDir(path);
    }
    return Step::NothingToDo;
  }
  if (kind == "created") {
    if (!now.exists) return Step::NothingToDo;
    fs.RemoveTree(path);
    return Step::Undone;
  }
  if (kind == "attributes") {
    if (!now.exists) CannotUndo(path + L": it is gone, its attributes cannot be set back");
    fs.SetAttributes(path, r["attributes"].get<std::uint32_t>());
    return Step::Undone;
  }
  const bool same = now.exists && now.volume == r["volume"].get<std::uint64_t>() &&
                    now.identity == r["identity"].get<std::uint64_t>();
  if (kind == "rewritten") {
    if (!same) CannotUndo(path + L": it is no longer the file that was written to");
    fs.RestoreStamp(path, StampOf(r));
    return Step::Undone;
  }
  // "removed" or "replaced": the saved entry comes back.
  const std::wstring saved = W(r["saved"]);
  const bool copied = r.value("copied", false);
  if (!fs.Stamp(saved).exists) {
    // Noted, but never moved aside (the run ended between the two), or put
    // back already: the entry is where it was.
    if (same) return Step::NothingToDo;
    CannotUndo(path + L": its saved copy " + saved + L" is gone");
  }
  if (now.exists) {
    if (kind != "replaced" || now.directory)
      CannotUndo(path + L": something is in the way; the saved copy is kept as " + saved);
    fs.RemoveTree(path);  // the file that replaced it
  }
  if (copied) {
    fs.CopyWholeFile(saved, path);
    fs.RestoreStamp(path, StampOf(r));
    fs.RemoveTree(saved);
  } else if (!fs.MoveEntry(saved, path)) {
    CannotUndo(path + L": its saved copy " + saved + L" cannot be moved back");
  }
  return Step::Undone;
}

Journal::Step Journal::UndoRegistry(const Json& r) {
  platform::Registry& reg = RegistryOfRecords();
  const std::string kind = r["kind"].get<std::string>();
  const std::wstring keyPath = W(r["key"]);
  constexpr std::uint32_t kAccess = platform::kKeyRead | platform::kKeyWrite;
  if (kind == "key") return DeleteKeyTree(reg, keyPath) ? Step::Undone : Step::NothingToDo;
  KeyHandle key(reg);
  if (kind == "keydeleted") {
    if (reg.CreateKey(platform::kHKeyLocalMachine, keyPath, key.Out()) != platform::kErrorSuccess)
      CannotUndo(L"HKEY_LOCAL_MACHINE\\" + keyPath + L": the key cannot be made again");
    for (const Json& v : r["values"]) SetValueFromRecord(reg, key.Get(), W(v["name"]), v, keyPath);
    return Step::Undone;
  }
  // A value: back to its old type and bytes, or gone again.
  const std::wstring name = W(r["name"]);
  const bool existed = r.contains("type");
  if (reg.OpenKey(platform::kHKeyLocalMachine, keyPath, kAccess, key.Out()) != platform::kErrorSuccess) {
    if (!existed) return Step::NothingToDo;
    CannotUndo(L"HKEY_LOCAL_MACHINE\\" + keyPath + L": the key is gone, the value \"" + name +
               L"\" cannot be written back");
  }
  if (!existed) return reg.DeleteValue(key.Get(), name) == platform::kErrorSuccess ? Step::Undone : Step::NothingToDo;
  SetValueFromRecord(reg, key.Get(), name, r, keyPath);
  return Step::Undone;
}

platform::Registry& Journal::RegistryOfRecords() { return registry_ != nullptr ? *registry_ : *native_.registry; }

std::vector<Json> Journal::LoadRecords() {
  std::vector<Json> records;
  const std::string all = file_->ReadAll();
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t end = all.find('\n', pos);
    // A line cut short by a crash was never followed by its change.
    if (end == std::string::npos) break;
    Json j = Json::parse(all.begin() + static_cast<std::ptrdiff_t>(pos), all.begin() + static_cast<std::ptrdiff_t>(end),
                         nullptr, false);
    pos = end + 1;
    if (j.is_discarded() || !j.is_object() || !j.contains("kind") || !j["kind"].is_string()) continue;
    const std::string kind = j["kind"].get<std::string>();
    if (kind == "run") {
      script_ = text::FromUtf8(j.value("script", std::string()));
    } else if (kind == "registry" && registry_ == nullptr) {
      const std::wstring location = text::FromUtf8(j.value("location", std::string()));
      if (native_.registry->Location() == location) {
        registry_ = native_.registry;
      } else if ((ownRegistry_ = native_.registry->OpenAt(location))) {
        registry_ = ownRegistry_.get();
      } else {
        registryMissing_ = location;
      }
    } else if (kind == "area" && j.contains("path") && j["path"].is_string()) {
      areaPaths_.push_back(W(j["path"]));
    }
    records.push_back(std::move(j));
  }
  if (registry_ != nullptr) {
    for (auto& [seq, text] : registry_->UndoRecords(U8(run_))) {
      Json j = Json::parse(text, nullptr, false);
      if (j.is_discarded() || !j.is_object() || !j.contains("kind") || !j["kind"].is_string()) continue;
      j["seq"] = seq;
      j["inRegistry"] = true;
      records.push_back(std::move(j));
    }
  }
  return records;
}

RollbackReport Journal::UndoAll(bool* committed) {
  RollbackReport report;
  std::vector<Json> records = LoadRecords();
  std::set<std::int64_t> settled;
  *committed = false;
  for (const Json& j : records) {
    const std::string kind = j["kind"].get<std::string>();
    if ((kind == "void" || kind == "undone") && j.value("of", std::int64_t{-1}) >= 0)
      settled.insert(j["of"].get<std::int64_t>());
    if (kind == "commit") *committed = true;
    if (kind == "external") ++report.notUndoable;
  }
  if (*committed) {
    // The run had succeeded and was removing what it saved when it ended.
    RemoveOwnFiles(true);
    return report;
  }
  std::vector<const Json*> steps;
  for (const Json& j : records)
    if (j.contains("seq") && j["seq"].is_number_integer() && IsStep(j["kind"].get<std::string>()) &&
        !settled.count(j["seq"].get<std::int64_t>()))
      steps.push_back(&j);
  std::sort(steps.begin(), steps.end(), [](const Json* a, const Json* b) {
    return (*a)["seq"].get<std::int64_t>() > (*b)["seq"].get<std::int64_t>();
  });
  if (!registryMissing_.empty() && std::any_of(steps.begin(), steps.end(), [](const Json* j) {
        return IsRegistryChange((*j)["kind"].get<std::string>());
      }))
    report.failed.push_back(L"the registry changes of this run are kept in " + registryMissing_ +
                            L", which cannot be opened");
  for (const Json* step : steps) {
    const std::int64_t seq = (*step)["seq"].get<std::int64_t>();
    try {
      Step done = Step::NothingToDo;
      if (step->value("inRegistry", false)) {
        // The step and the removal of its record go together.
        platform::Registry& reg = RegistryOfRecords();
        reg.Transact([&] {
          done = Undo(*step);
          reg.DropUndoRecords(U8(run_), seq);
        });
      } else {
        done = Undo(*step);
        MarkUndone(seq);
      }
      if (done == Step::Undone) ++report.undone;
    } catch (const VslError& e) {
      report.failed.push_back(e.Description());
    } catch (const std::exception& e) {
      report.failed.push_back(L"a damaged record of the journal (" + Describe(e) + L")");
    }
  }
  RemoveOwnFiles(false);
  return report;
}

void Journal::RemoveOwnFiles(bool commit) {
  platform::FileSystem& fs = *native_.fileSystem;
  if (registry_ != nullptr) registry_->DropUndoRecords(U8(run_), -1);
  // After a rollback the saved areas in the script's directories are gone
  // unless something could not be put back, and that was reported.
  std::vector<std::wstring> areas;
  if (commit) areas = areaPaths_;
  if (primaryMade_) areas.push_back(primary_);
  for (const std::wstring& area : areas) {
    try {
      if (commit)
        fs.RemoveTree(area);
      else if (fs.Stamp(area).exists)
        fs.RemoveDir(area);
    } catch (const VslError&) {
    }
  }
  fs.RemoveTree(journalPath_);
  file_.reset();
}

int Journal::Commit() {
  // The mark keeps a commit that is interrupted from being taken for a run
  // to roll back. A disk too full for it is made room on all the same.
  try {
    Json j;
    j["kind"] = "commit";
    Write(j, true);
  } catch (const VslError&) {
  }
  RemoveOwnFiles(true);
  return changes_;
}

RollbackReport Journal::Rollback() {
  bool committed = false;
  RollbackReport report = UndoAll(&committed);
  return report;
}

void Journal::RecoverAll(const platform::Platform& native,
                         const std::function<void(const std::wstring&, const RollbackReport&)>& report) {
  const std::wstring dir = native.system->JournalDir();
  for (const platform::FindEntry& e : native.fileSystem->Find(dir + L"\\*" + kJournalEnding)) {
    if ((e.attributes & platform::kAttrDirectory) != 0) continue;
    const std::wstring path = dir + L"\\" + e.name;
    auto file = native.fileSystem->OpenLocked(path, false);
    if (!file) continue;  // its run is alive, or has just finished
    Journal journal(native, path, std::move(file), Opened{});
    bool committed = false;
    const RollbackReport done = journal.UndoAll(&committed);
    if (!committed) report(journal.script_, done);
  }
}

}  // namespace Utility
