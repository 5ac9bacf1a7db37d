#include "utility/AtomicRun.h"

#include <optional>
#include <set>
#include <unordered_map>

#include "platform/PathSyntax.h"
#include "platform/Text.h"

namespace Utility {

namespace {

using platform::EntryStamp;
using platform::RegKey;

using platform::path::HasNul;

// The part of a search pattern that names its directory.
std::wstring DirPartOf(const std::wstring& pattern) {
  std::wstring dir, last;
  platform::path::SplitLast(pattern, &dir, &last);
  return dir;
}

// Registry key paths below HKEY_LOCAL_MACHINE: "a\b" and "c" give "a\b\c";
// a trailing backslash is no part of a name.
std::wstring JoinKey(const std::wstring& base, std::wstring sub) {
  while (!sub.empty() && sub.back() == L'\\') sub.pop_back();
  if (sub.empty()) return base;
  return base.empty() ? sub : base + L"\\" + sub;
}

}  // namespace

// ---------------------------------------------------------------------------
// Files: what would be removed or replaced is moved aside first, what is
// created or appended to is noted; the journal's own entries are not listed.
// ---------------------------------------------------------------------------

class AtomicRun::Files : public platform::FileSystem {
 public:
  Files(platform::FileSystem& in, Journal& journal) : in_(in), j_(journal) {}

  void ChangeDrive(const std::wstring& text) override { in_.ChangeDrive(text); }
  void ChangeDir(const std::wstring& path) override { in_.ChangeDir(path); }
  std::wstring CurrentDir() override { return in_.CurrentDir(); }

  std::vector<platform::FindEntry> Find(const std::wstring& pattern) override {
    return Unseen(pattern, in_.Find(pattern));
  }
  std::vector<platform::FindEntry> FindOrFail(const std::wstring& pattern) override {
    return Unseen(pattern, in_.FindOrFail(pattern));
  }

  std::uint32_t GetAttributes(const std::wstring& path) override { return in_.GetAttributes(path); }
  bool IsRegularFile(const std::wstring& path) override { return in_.IsRegularFile(path); }

  void SetAttributes(const std::wstring& path, std::uint32_t attributes) override {
    const std::uint32_t old = in_.GetAttributes(path);
    if (old != platform::kInvalidAttributes && !HasNul(path)) {
      const std::wstring full = in_.FullPath(path);
      if (!j_.CreatedByRun(full)) j_.NoteAttributes(full, old);
    }
    in_.SetAttributes(path, attributes);
  }

  void CreateDir(const std::wstring& path) override {
    if (HasNul(path) || in_.Stamp(path).exists) return in_.CreateDir(path);  // refused there
    const std::int64_t seq = j_.NoteCreated(path, true);
    try {
      in_.CreateDir(path);
    } catch (const VslError&) {
      j_.Abandon(seq);
      throw;
    }
  }

  void RemoveDir(const std::wstring& path) override {
    const std::wstring full = Full(path);
    const EntryStamp st = in_.Stamp(full);
    // A root, a missing directory or one with entries that the script sees
    // is refused as the file system refuses it.
    if (!st.exists || !st.directory || IsRoot(full) || !LooksEmpty(full) || !j_.SaveAside(full, st, false))
      in_.RemoveDir(path);
  }

  void RemoveFile(const std::wstring& path) override {
    const std::wstring full = Full(path);
    const EntryStamp st = in_.Stamp(full);
    if (!st.exists || st.directory || st.readOnly || j_.CreatedByRun(full)) return in_.RemoveFile(path);
    j_.SaveAside(full, st, false);
  }

  void RemoveMatching(const std::wstring& pattern) override {
    const std::wstring dirPart = DirPartOf(pattern);
    for (const platform::FindEntry& e : Find(pattern))
      if ((e.attributes & platform::kAttrNotPlain) == 0) RemoveFile(dirPart + e.name);
  }

  bool RemoveWhole(const std::wstring& path) override {
    const std::wstring full = Full(path);
    const EntryStamp st = in_.Stamp(full);
    return st.exists && j_.SaveAside(full, st, false);
  }

  void CopyWholeFile(const std::wstring& source, const std::wstring& target) override {
    ReplaceWith(target, [&] { in_.CopyWholeFile(source, target); }, [&](const std::wstring& full, const EntryStamp& t) {
      // A copy of the bytes the file holds already (an installation made
      // again) leaves them where they are: only its permissions and time
      // change, and those are noted.
      if (in_.SameContent(source, full)) {
        j_.NoteRewritten(full, t);
        in_.CopyStamp(source, full);
        return Replace::Done;
      }
      // The same file under another name is refused by the copy itself,
      // before anything is moved aside.
      const EntryStamp s = in_.Stamp(source);
      return s.exists && !(s.volume == t.volume && s.identity == t.identity) ? Replace::Yes : Replace::No;
    });
  }

  std::unique_ptr<platform::File> Open(const std::wstring& path, platform::OpenMode mode) override {
    using platform::OpenMode;
    if (mode == OpenMode::Read || HasNul(path)) return in_.Open(path, mode);
    if (mode == OpenMode::Append) {
      const std::wstring full = Full(path);
      const EntryStamp st = in_.Stamp(full);
      if (st.exists) {
        if (st.directory || st.readOnly || j_.CreatedByRun(full)) return in_.Open(path, mode);
        // Opening changes nothing: the first write is what is noted.
        return std::make_unique<AppendedFile>(in_.Open(path, mode), j_, full, st);
      }
    }
    std::unique_ptr<platform::File> file;
    ReplaceWith(
        path, [&] { file = in_.Open(path, mode); },
        [&](const std::wstring&, const EntryStamp&) { return mode == OpenMode::Write ? Replace::Yes : Replace::No; });
    return file;
  }

  std::wstring ReadTextFile(const std::wstring& path) override { return in_.ReadTextFile(path); }

  void AppendTextLine(const std::wstring& path, const std::wstring& text) override {
    if (HasNul(path)) return in_.AppendTextLine(path, text);
    const std::wstring full = in_.FullPath(path);
    const EntryStamp st = in_.Stamp(full);
    if (!st.exists) {
      const std::int64_t seq = j_.NoteCreated(path, false);
      try {
        in_.AppendTextLine(path, text);
      } catch (const VslError&) {
        if (!in_.Stamp(path).exists) j_.Abandon(seq);
        throw;
      }
      return;
    }
    if (!st.directory && !st.readOnly && !j_.CreatedByRun(full)) j_.NoteRewritten(full, st);
    in_.AppendTextLine(path, text);
  }

  bool SamePlace(const std::wstring& a, const std::wstring& b) override { return in_.SamePlace(a, b); }
  bool SameFile(const std::wstring& a, const std::wstring& b) override { return in_.SameFile(a, b); }
  bool CanCreateIn(const std::wstring& dir) override { return in_.CanCreateIn(dir); }
  std::wstring FullPath(const std::wstring& path) override { return in_.FullPath(path); }
  EntryStamp Stamp(const std::wstring& path) override { return in_.Stamp(path); }
  bool MoveEntry(const std::wstring& from, const std::wstring& to) override { return in_.MoveEntry(from, to); }
  void RestoreStamp(const std::wstring& path, const EntryStamp& stamp) override { in_.RestoreStamp(path, stamp); }
  bool SameContent(const std::wstring& a, const std::wstring& b) override { return in_.SameContent(a, b); }
  void CopyStamp(const std::wstring& source, const std::wstring& target) override { in_.CopyStamp(source, target); }
  void RemoveTree(const std::wstring& path) override { in_.RemoveTree(path); }
  std::unique_ptr<platform::LockedFile> OpenLocked(const std::wstring& path, bool create) override {
    return in_.OpenLocked(path, create);
  }

 private:
  // A file opened for appending that notes its size and time before the
  // first write changes it.
  class AppendedFile : public platform::File {
   public:
    AppendedFile(std::unique_ptr<platform::File> in, Journal& j, std::wstring path, const EntryStamp& st)
        : in_(std::move(in)), j_(j), path_(std::move(path)), stamp_(st) {}
    std::string ReadAll() override { return in_->ReadAll(); }
    std::size_t Read(char* buffer, std::size_t size) override { return in_->Read(buffer, size); }
    void Write(const std::string& bytes) override {
      if (!noted_) j_.NoteRewritten(path_, stamp_);
      noted_ = true;
      in_->Write(bytes);
    }

   private:
    std::unique_ptr<platform::File> in_;
    Journal& j_;
    std::wstring path_;
    EntryStamp stamp_;
    bool noted_ = false;
  };

  // What `make` does to an existing file: replaces it, does not (it is
  // refused, or writes in place), or nothing is left to do.
  enum class Replace { Yes, No, Done };

  // Makes the file `path` anew with `make`: a file that is there (and that
  // `replaces` says the call would replace) is moved aside first and comes
  // back at once when `make` fails; a missing one is noted as created. What
  // the file system refuses anyway (a directory, a read-only file) goes to
  // `make` untouched, to be refused there.
  template <typename Make, typename Replaces>
  void ReplaceWith(const std::wstring& path, Make make, Replaces replaces) {
    if (HasNul(path)) return make();
    const std::wstring full = in_.FullPath(path);
    const EntryStamp st = in_.Stamp(full);
    if (!st.exists) {
      const std::int64_t seq = j_.NoteCreated(path, false);
      try {
        make();
      } catch (const VslError&) {
        if (!in_.Stamp(path).exists) j_.Abandon(seq);
        throw;
      }
      return;
    }
    if (st.directory || st.readOnly || j_.CreatedByRun(full)) return make();
    const Replace what = replaces(full, st);
    if (what == Replace::Done) return;
    if (what == Replace::No) return make();
    j_.SaveAside(full, st, true);
    try {
      make();
    } catch (const VslError&) {
      j_.UndoLast();
      throw;
    }
  }

  // A listing without the journal's own entries.
  std::vector<platform::FindEntry> Unseen(const std::wstring& pattern, std::vector<platform::FindEntry> found) {
    std::optional<std::wstring> dir;
    auto fullDir = [&] {
      if (!dir) dir = in_.FullPath(DirPartOf(pattern) + L".");
      return *dir;
    };
    std::erase_if(found, [&](const platform::FindEntry& e) { return j_.IsOwnEntry(e.name, fullDir); });
    return found;
  }

  // The full path, or the path itself where it names nothing (a NUL).
  std::wstring Full(const std::wstring& path) { return HasNul(path) ? path : in_.FullPath(path); }

  static bool IsRoot(const std::wstring& full) { return full.size() <= 3 && full.size() >= 2 && full[1] == L':'; }

  // Whether the directory holds nothing that the script would see.
  bool LooksEmpty(const std::wstring& full) {
    for (const platform::FindEntry& e : Find(full + L"\\*"))
      if (e.name != L"." && e.name != L"..") return false;
    return true;
  }

  platform::FileSystem& in_;
  Journal& j_;
};

// ---------------------------------------------------------------------------
// Registry: a value's old type and bytes, a new key, a deleted key with its
// values are noted in the transaction of the change.
// ---------------------------------------------------------------------------

class AtomicRun::Keys : public platform::Registry {
 public:
  Keys(platform::Registry& in, Journal& journal) : in_(in), j_(journal) {}

  long OpenKey(RegKey parent, const std::wstring& subKey, std::uint32_t access, RegKey* result) override {
    const long rc = in_.OpenKey(parent, subKey, access, result);
    Track(rc, parent, subKey, result);
    return rc;
  }

  long CreateKey(RegKey parent, const std::wstring& subKey, RegKey* result) override {
    const std::optional<std::wstring> base = PathOf(parent);
    if (!base) return in_.CreateKey(parent, subKey, result);
    const std::wstring full = JoinKey(*base, subKey);
    long rc;
    std::optional<std::wstring> missing;
    if (!InCreatedKey(full) && (missing = FirstMissing(full))) {
      rc =
          j_.RegistryChange(Journal::KeyCreatedRecord(*missing), [&] { return in_.CreateKey(parent, subKey, result); });
      if (rc == platform::kErrorSuccess) created_.insert(text::Fold(*missing));
    } else {
      rc = in_.CreateKey(parent, subKey, result);
    }
    Track(rc, parent, subKey, result);
    return rc;
  }

  long QueryValue(RegKey key, const std::wstring& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override {
    return in_.QueryValue(key, name, type, data, size);
  }

  long SetValue(RegKey key, const std::wstring& name, std::uint32_t type, const std::uint8_t* data,
                std::uint32_t size) override {
    return Write(key, name, [&] { return in_.SetValue(key, name, type, data, size); });
  }

  long QueryString(RegKey key, const std::wstring& name, std::uint32_t bufferBytes, std::wstring* text) override {
    return in_.QueryString(key, name, bufferBytes, text);
  }

  long SetString(RegKey key, const std::wstring& name, const std::wstring& text) override {
    return Write(key, name, [&] { return in_.SetString(key, name, text); });
  }

  long EnumValue(RegKey key, std::uint32_t index, std::wstring* name, std::uint32_t* type,
                 std::vector<std::uint8_t>* data) override {
    return in_.EnumValue(key, index, name, type, data);
  }
  std::string EncodeText(const std::wstring& text) override { return in_.EncodeText(text); }
  std::wstring DecodeText(std::string_view bytes) override { return in_.DecodeText(bytes); }
  long EnumKey(RegKey key, std::uint32_t index, std::uint32_t capacity, std::wstring* name) override {
    return in_.EnumKey(key, index, capacity, name);
  }

  long DeleteKey(RegKey parent, const std::wstring& subKey) override {
    const std::optional<std::wstring> base = PathOf(parent);
    if (!base) return in_.DeleteKey(parent, subKey);
    const std::wstring full = JoinKey(*base, subKey);
    if (InCreatedKey(full)) return in_.DeleteKey(parent, subKey);
    const std::size_t sep = full.rfind(L'\\');
    const std::wstring above = sep == std::wstring::npos ? std::wstring() : full.substr(0, sep);
    // The key's name as it is stored, which its parent's list gives.
    const std::optional<std::wstring> spelt = StoredName(above, full.substr(sep == std::wstring::npos ? 0 : sep + 1));
    if (!spelt) return in_.DeleteKey(parent, subKey);
    const std::wstring keyPath = JoinKey(above, *spelt);
    return j_.RegistryChange(Journal::KeyDeletedRecord(keyPath, ValuesOf(keyPath)),
                             [&] { return in_.DeleteKey(parent, subKey); });
  }

  long DeleteValue(RegKey key, const std::wstring& name) override {
    const std::optional<std::wstring> path = PathOf(key);
    if (!path || InCreatedKey(*path)) return in_.DeleteValue(key, name);
    for (SavedValue& v : ValuesOf(*path)) {
      if (text::EqualsNoCase(v.name, name))
        return j_.RegistryChange(Journal::ValueRecord(*path, v.name, &v), [&] { return in_.DeleteValue(key, name); });
    }
    return in_.DeleteValue(key, name);
  }

  long CloseKey(RegKey key) override {
    paths_.erase(key);
    return in_.CloseKey(key);
  }
  void Transact(const std::function<void()>& work) override { in_.Transact(work); }

 private:
  static constexpr std::uint32_t kReadAll = platform::kKeyRead;

  std::optional<std::wstring> PathOf(RegKey key) const {
    if (key == platform::kHKeyLocalMachine) return std::wstring();
    auto it = paths_.find(key);
    if (it == paths_.end()) return std::nullopt;
    return it->second;
  }

  void Track(long rc, RegKey parent, const std::wstring& subKey, const RegKey* result) {
    if (rc != platform::kErrorSuccess || result == nullptr || *result == 0) return;
    if (std::optional<std::wstring> base = PathOf(parent)) paths_[*result] = JoinKey(*base, subKey);
  }

  bool Exists(const std::wstring& path) {
    platform::KeyHandle key(in_);
    return in_.OpenKey(platform::kHKeyLocalMachine, path, kReadAll, key.Out()) == platform::kErrorSuccess;
  }

  // The first key of `full` that does not exist ("a\b" when "a" does and
  // "a\b\c" is asked for); nothing when all do.
  std::optional<std::wstring> FirstMissing(const std::wstring& full) {
    if (Exists(full)) return std::nullopt;
    std::size_t end = 0;
    for (;;) {
      end = full.find(L'\\', end == 0 ? 0 : end + 1);
      const std::wstring prefix = full.substr(0, end);
      if (end == std::wstring::npos || !Exists(prefix)) return prefix;
    }
  }

  std::optional<std::wstring> StoredName(const std::wstring& parent, const std::wstring& name) {
    platform::KeyHandle key(in_);
    if (in_.OpenKey(platform::kHKeyLocalMachine, parent, kReadAll, key.Out()) != platform::kErrorSuccess)
      return std::nullopt;
    std::wstring found;
    for (std::uint32_t i = 0; in_.EnumKey(key.Get(), i, 256, &found) == platform::kErrorSuccess; ++i)
      if (text::EqualsNoCase(found, name)) return found;
    return std::nullopt;
  }

  std::vector<SavedValue> ValuesOf(const std::wstring& path) {
    std::vector<SavedValue> values;
    platform::KeyHandle key(in_);
    if (in_.OpenKey(platform::kHKeyLocalMachine, path, kReadAll, key.Out()) != platform::kErrorSuccess) return values;
    SavedValue v;
    for (std::uint32_t i = 0; in_.EnumValue(key.Get(), i, &v.name, &v.type, &v.data) == platform::kErrorSuccess; ++i)
      values.push_back(v);
    return values;
  }

  // Whether the key lies in one that this run created: undoing that
  // creation takes everything below it, so changes there need no record.
  bool InCreatedKey(const std::wstring& path) const {
    if (created_.empty()) return false;
    const std::wstring folded = text::Fold(path);
    for (std::size_t end = folded.find(L'\\');; end = folded.find(L'\\', end + 1)) {
      if (created_.count(folded.substr(0, end)) != 0) return true;
      if (end == std::wstring::npos) return false;
    }
  }

  // A value about to be written: its old type and bytes are noted.
  template <typename Change>
  long Write(RegKey key, const std::wstring& name, Change change) {
    const std::optional<std::wstring> path = PathOf(key);
    if (!path || InCreatedKey(*path)) return change();
    std::optional<SavedValue> old;
    // Read through the caller's handle where it may read, else through one
    // of its own.
    platform::KeyHandle own(in_);
    RegKey read = key;
    SavedValue v;
    v.name = name;
    v.data.resize(256);
    std::uint32_t size = static_cast<std::uint32_t>(v.data.size());
    long rc = in_.QueryValue(read, name, &v.type, v.data.data(), &size);
    if (rc == platform::kErrorAccessDenied &&
        in_.OpenKey(platform::kHKeyLocalMachine, *path, kReadAll, own.Out()) == platform::kErrorSuccess) {
      read = own.Get();
      rc = in_.QueryValue(read, name, &v.type, v.data.data(), &size);
    }
    if (rc == platform::kErrorMoreData) {
      v.data.resize(size);
      rc = in_.QueryValue(read, name, &v.type, v.data.data(), &size);
    }
    if (rc == platform::kErrorSuccess) {
      v.data.resize(size);
      old = std::move(v);
    }
    return j_.RegistryChange(Journal::ValueRecord(*path, name, old ? &*old : nullptr), change);
  }

  platform::Registry& in_;
  Journal& j_;
  std::unordered_map<RegKey, std::wstring> paths_;
  std::set<std::wstring> created_;  // keys this run created (folded paths)
};

// ---------------------------------------------------------------------------
// Programs and entry points run as usual; the journal counts them.
// ---------------------------------------------------------------------------

class AtomicRun::Programs : public platform::Processes {
 public:
  Programs(platform::Processes& in, Journal& journal) : in_(in), j_(journal) {}
  int Run(const std::wstring& program, const std::wstring& arguments) override {
    const int status = in_.Run(program, arguments);
    j_.NoteExternal(L"the program " + program);
    return status;
  }
  int RunCommandLine(const std::wstring& interpreter, const std::wstring& commandLine) override {
    const int status = in_.RunCommandLine(interpreter, commandLine);
    j_.NoteExternal(L"the command line " + commandLine);
    return status;
  }
  std::optional<long> CallEntryPoint(const std::wstring& library, const char* entry) override {
    std::optional<long> status = in_.CallEntryPoint(library, entry);
    if (status) j_.NoteExternal(text::FromUtf8(entry) + L" of " + library);
    return status;
  }
  void RegisterTypeLibrary(const std::wstring& path) override {
    in_.RegisterTypeLibrary(path);
    j_.NoteExternal(L"the type library " + path);
  }

 private:
  platform::Processes& in_;
  Journal& j_;
};

// ---------------------------------------------------------------------------
// System: a temporary file made for the script is a file the run created.
// ---------------------------------------------------------------------------

class AtomicRun::Places : public platform::System {
 public:
  Places(platform::System& in, Journal& journal) : in_(in), j_(journal) {}
  std::wstring WindowsDir() override { return in_.WindowsDir(); }
  bool IsWindowsNT() override { return in_.IsWindowsNT(); }
  std::wstring TempDir() override { return in_.TempDir(); }
  std::wstring MakeTempFile(const std::wstring& dir, const std::wstring& prefix) override {
    std::wstring name = in_.MakeTempFile(dir, prefix);
    j_.NoteCreated(name, false);
    return name;
  }
  std::wstring CommandLineText() override { return in_.CommandLineText(); }
  std::vector<std::wstring> Arguments() override { return in_.Arguments(); }
  std::wstring EnvironmentValue(const std::wstring& name) override { return in_.EnvironmentValue(name); }
  std::wstring JournalDir() override { return in_.JournalDir(); }
  void Print(platform::OutputStream stream, const std::wstring& text) override { in_.Print(stream, text); }

 private:
  platform::System& in_;
  Journal& j_;
};

// ---------------------------------------------------------------------------

AtomicRun::AtomicRun(const platform::Platform& native, const std::wstring& script)
    : journal_(native, script),
      files_(std::make_unique<Files>(*native.fileSystem, journal_)),
      keys_(std::make_unique<Keys>(*native.registry, journal_)),
      programs_(std::make_unique<Programs>(*native.processes, journal_)),
      places_(std::make_unique<Places>(*native.system, journal_)),
      native_(native) {}

AtomicRun::~AtomicRun() = default;

platform::Platform AtomicRun::Pieces() {
  platform::Platform p = native_;
  p.fileSystem = files_.get();
  p.registry = keys_.get();
  p.processes = programs_.get();
  p.system = places_.get();
  return p;
}

}  // namespace Utility
