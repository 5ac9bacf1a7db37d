#include "MemoryPlatform.h"

#include <algorithm>
#include <map>

#include "platform/PathSyntax.h"
#include "platform/Text.h"

namespace {

using platform::FindEntry;
namespace path = platform::path;

constexpr std::size_t kMaxEntries = 2000;
constexpr std::size_t kMaxDepth = 24;
constexpr std::size_t kMaxFileBytes = 1 << 16;

[[noreturn]] void Fail(const std::wstring& what, const std::wstring& path, const std::wstring& reason) {
  throw VslError(L"Cannot " + what + L" " + path + L": " + reason);
}

// '*' and '?' against a name, both folded; the last star is retried on a
// mismatch, which keeps the work to the product of the two lengths.
bool Matches(const std::wstring& pattern, const std::wstring& name) {
  if (pattern == L"*.*") return true;
  std::size_t p = 0, n = 0, star = std::wstring::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == name[n])) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      resume = n;
    } else if (star != std::wstring::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

class MemoryFile : public platform::File {
 public:
  explicit MemoryFile(std::shared_ptr<std::string> data) : data_(std::move(data)) {}
  std::string ReadAll() override {
    std::string rest = data_->substr(std::min(pos_, data_->size()));
    pos_ = data_->size();
    return rest;
  }
  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t n = pos_ < data_->size() ? std::min(size, data_->size() - pos_) : 0;
    data_->copy(buffer, n, pos_);
    pos_ += n;
    return n;
  }
  void Write(const std::string& bytes) override {
    if (data_->size() + bytes.size() > kMaxFileBytes) throw VslError(L"Cannot write: the disk is full");
    data_->append(bytes);
  }

 private:
  std::shared_ptr<std::string> data_;
  std::size_t pos_ = 0;
};

class MemoryFileSystem : public platform::FileSystem {
 public:
  MemoryFileSystem() {
    for (wchar_t d : {L'C', L'Z'}) {
      entries_[std::wstring(1, d) + L":"] = Entry{std::wstring(1, d) + L":", platform::kAttrDirectory, nullptr};
      current_[d] = {};
    }
  }

  void ChangeDrive(const std::wstring& text) override {
    if (text.empty()) return;
    const wchar_t drive = path::UpperLetter(text[0]);
    if (!current_.count(drive)) Fail(L"change to drive", text.substr(0, 1), L"there is no such drive");
    drive_ = drive;
  }
  // The directory is kept as the path spells it.
  void ChangeDir(const std::wstring& path) override {
    const Where w = Resolve(path);
    if (const Entry* e = Get(w); e == nullptr || !e->IsDir()) Fail(L"change to", path, L"no such directory");
    current_[w.drive] = w.parts;
  }
  std::wstring CurrentDir() override {
    std::wstring dir(1, drive_);
    dir += L':';
    for (const std::wstring& p : current_[drive_]) dir += L"\\" + p;
    return current_[drive_].empty() ? dir + L"\\" : dir;
  }

  std::vector<FindEntry> Find(const std::wstring& pattern) override {
    Where dir;
    std::wstring names;
    if (!SplitPattern(pattern, &dir, &names)) return {};
    std::vector<FindEntry> found;
    const Entry* d = Get(dir);
    if (d == nullptr || !d->IsDir()) return found;
    const std::wstring folded = text::Fold(names);
    if (!dir.parts.empty()) {
      for (const wchar_t* dots : {L".", L".."})
        if (Matches(folded, dots)) found.push_back({dots, platform::kAttrDirectory});
    }
    for (const std::wstring& key : ChildKeys(Key(dir))) {
      const Entry& e = entries_.at(key);
      if (Matches(folded, text::Fold(e.name))) found.push_back({e.name, e.attributes});
    }
    return found;
  }
  std::vector<FindEntry> FindOrFail(const std::wstring& pattern) override {
    Where dir;
    std::wstring names;
    const Entry* d = SplitPattern(pattern, &dir, &names) ? Get(dir) : nullptr;
    if (d == nullptr || !d->IsDir()) Fail(L"list", pattern, L"no such directory");
    return Find(pattern);
  }

  std::uint32_t GetAttributes(const std::wstring& path) override {
    const Entry* e = path::HasNul(path) ? nullptr : Get(Resolve(path));
    return e == nullptr ? platform::kInvalidAttributes : e->attributes;
  }
  bool IsRegularFile(const std::wstring& path) override {
    const Entry* e = path::HasNul(path) ? nullptr : Get(Resolve(path));
    return e != nullptr && !e->IsDir();
  }
  void SetAttributes(const std::wstring& path, std::uint32_t attributes) override {
    Entry& e = Existing(Resolve(path), path);
    constexpr std::uint32_t kSettable =
        platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem | platform::kAttrArchive;
    e.attributes = (attributes & kSettable) | (e.attributes & platform::kAttrDirectory);
  }

  void CreateDir(const std::wstring& path) override {
    const Where w = Resolve(path);
    CheckNewEntry(w, path);
    if (Get(w) != nullptr) Fail(L"create the directory", path, L"it exists");
    entries_[Key(w)] = Entry{w.parts.back(), platform::kAttrDirectory, nullptr};
  }
  void RemoveDir(const std::wstring& path) override {
    const Where w = Resolve(path);
    if (!Existing(w, path).IsDir() || w.parts.empty()) Fail(L"remove", path, L"it is no directory that can be removed");
    if (!ChildKeys(Key(w)).empty()) Fail(L"remove", path, L"the directory is not empty");
    entries_.erase(Key(w));
  }
  void RemoveFile(const std::wstring& path) override {
    const Where w = Resolve(path);
    const Entry& e = Existing(w, path);
    if (e.IsDir()) Fail(L"delete", path, L"it is a directory");
    if (e.attributes & platform::kAttrReadOnly) Fail(L"delete", path, L"the file is read-only");
    entries_.erase(Key(w));
  }
  void RemoveMatching(const std::wstring& pattern) override {
    std::wstring dirPart, names;
    path::SplitSearch(pattern, &dirPart, &names);
    for (const FindEntry& e : Find(pattern))
      if ((e.attributes & platform::kAttrNotPlain) == 0) RemoveFile(dirPart + e.name);
  }

  void CopyWholeFile(const std::wstring& source, const std::wstring& target) override {
    const Entry& src = Existing(Resolve(source), source);
    if (src.IsDir()) Fail(L"copy", source, L"it is a directory");
    const auto data = std::make_shared<std::string>(*src.data);
    const Where t = Resolve(target);
    if (Entry* old = Get(t)) {
      if (old->IsDir() || (old->attributes & platform::kAttrReadOnly)) Fail(L"copy onto", target, L"access denied");
      old->attributes = src.attributes;
      old->data = data;
      return;
    }
    CheckNewEntry(t, target);
    entries_[Key(t)] = Entry{t.parts.back(), src.attributes, data};
  }
  std::unique_ptr<platform::File> Open(const std::wstring& path, platform::OpenMode mode) override {
    const Where w = Resolve(path);
    Entry* e = Get(w);
    if (mode == platform::OpenMode::Read) {
      if (e == nullptr || e->IsDir()) Fail(L"open", path + L" for reading", L"no such file");
      return std::make_unique<MemoryFile>(e->data);
    }
    if (e != nullptr) {
      if (mode == platform::OpenMode::CreatePrivate) Fail(L"create", path, L"it exists");
      if (e->IsDir() || (e->attributes & platform::kAttrReadOnly))
        Fail(L"open", path + L" for writing", L"access denied");
      if (mode == platform::OpenMode::Write) e->data->clear();
      return std::make_unique<MemoryFile>(e->data);
    }
    CheckNewEntry(w, path);
    Entry& created = entries_[Key(w)] = Entry{w.parts.back(), platform::kAttrArchive, std::make_shared<std::string>()};
    return std::make_unique<MemoryFile>(created.data);
  }
  std::wstring ReadTextFile(const std::wstring& path) override {
    std::string bytes = Open(path, platform::OpenMode::Read)->ReadAll();
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
    return text::FromUtf8(bytes);
  }
  void AppendTextLine(const std::wstring& path, const std::wstring& text) override {
    Open(path, platform::OpenMode::Append)->Write(text::ToUtf8(text) + "\n");
  }

  bool SamePlace(const std::wstring& a, const std::wstring& b) override { return Key(Resolve(a)) == Key(Resolve(b)); }
  bool SameFile(const std::wstring& a, const std::wstring& b) override {
    const Where wa = Resolve(a);
    return Get(wa) != nullptr && Key(wa) == Key(Resolve(b));
  }
  bool CanCreateIn(const std::wstring& dir) override {
    const Entry* e = Get(Resolve(dir));
    return e != nullptr && e->IsDir();
  }

 private:
  struct Entry {
    std::wstring name;  // as created
    std::uint32_t attributes = 0;
    std::shared_ptr<std::string> data;  // a file's bytes; null for a directory
    bool IsDir() const { return data == nullptr; }
  };
  // A resolved path: the drive letter and the names below its root.
  struct Where {
    wchar_t drive = L'C';
    std::vector<std::wstring> parts;
  };

  Where Resolve(const std::wstring& path) const {
    if (path::HasNul(path)) Fail(L"use", L"a path", path::kInvalidName);
    Where w{drive_, {}};
    std::size_t i = 0;
    if (path::HasDrive(path)) {
      w.drive = path::UpperLetter(path[0]);
      if (!current_.count(w.drive)) Fail(L"use", path, L"there is no such drive");
      i = 2;
    }
    if (i >= path.size() || !path::IsSep(path[i])) w.parts = current_.at(w.drive);
    while (i < path.size()) {
      std::size_t end = i;
      while (end < path.size() && !path::IsSep(path[end])) ++end;
      const std::wstring part = path.substr(i, end - i);
      if (part == L"..") {
        if (!w.parts.empty()) w.parts.pop_back();
      } else if (!part.empty() && part != L".") {
        w.parts.push_back(part);
      }
      i = end + 1;
    }
    if (w.parts.size() > kMaxDepth) Fail(L"use", path, L"the path is too long");
    return w;
  }
  // The key of an entry: its folded full path; a root is "C:".
  static std::wstring Key(const Where& w) {
    std::wstring key(1, w.drive);
    key += L':';
    for (const std::wstring& p : w.parts) key += L"\\" + p;
    return text::Fold(key);
  }
  Entry* Get(const Where& w) {
    auto it = entries_.find(Key(w));
    return it == entries_.end() ? nullptr : &it->second;
  }
  Entry& Existing(const Where& w, const std::wstring& path) {
    Entry* e = Get(w);
    if (e == nullptr) Fail(L"use", path, L"no such file or directory");
    return *e;
  }
  // The parent of `w` must be an existing directory, and there must be room for a new entry.
  void CheckNewEntry(const Where& w, const std::wstring& path) {
    if (w.parts.empty()) Fail(L"create", path, L"it is a drive's root");
    Where parent = w;
    parent.parts.pop_back();
    const Entry* p = Get(parent);
    if (p == nullptr || !p->IsDir()) Fail(L"create", path, L"the directory it would be in does not exist");
    if (entries_.size() >= kMaxEntries) Fail(L"create", path, L"the disk is full");
  }
  // The directory a search pattern looks in and the pattern of names; false when it names nothing to search.
  bool SplitPattern(const std::wstring& pattern, Where* dir, std::wstring* names) const {
    std::wstring dirPart;
    if (!path::SplitSearch(pattern, &dirPart, names)) return false;
    *dir = Resolve(dirPart);
    return true;
  }
  std::vector<std::wstring> ChildKeys(const std::wstring& dirKey) const {
    const std::wstring prefix = dirKey + L"\\";
    std::vector<std::wstring> keys;
    for (auto it = entries_.lower_bound(prefix); it != entries_.end() && it->first.starts_with(prefix); ++it)
      if (it->first.find(L'\\', prefix.size()) == std::wstring::npos) keys.push_back(it->first);
    return keys;
  }

  std::map<std::wstring, Entry> entries_;
  std::map<wchar_t, std::vector<std::wstring>> current_;
  wchar_t drive_ = L'C';
};

}  // namespace

std::unique_ptr<platform::FileSystem> NewMemoryFileSystem() { return std::make_unique<MemoryFileSystem>(); }
