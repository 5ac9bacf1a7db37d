#include "MemoryPlatform.h"

#include <algorithm>

#include "platform/Text.h"

using platform::FindEntry;

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool HasDrive(const std::wstring& p) { return p.size() >= 2 && p[1] == L':'; }
wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

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
    if (data_->size() + bytes.size() > MemoryFileSystem::kMaxFileBytes) throw VslError(L"Cannot write: the disk is full");
    data_->append(bytes);
  }

 private:
  std::shared_ptr<std::string> data_;
  std::size_t pos_ = 0;
};

}  // namespace

MemoryFileSystem::MemoryFileSystem() {
  for (wchar_t d : {L'C', L'Z'}) {
    entries_[std::wstring(1, d) + L":"] = Entry{std::wstring(1, d) + L":", platform::kAttrDirectory, nullptr};
    current_[d] = {};
  }
}

MemoryFileSystem::Where MemoryFileSystem::Resolve(const std::wstring& path) const {
  if (path.find(L'\0') != std::wstring::npos) Fail(L"use", L"a path", L"the name holds a NUL character");
  Where w{drive_, {}};
  std::size_t i = 0;
  if (HasDrive(path)) {
    w.drive = Upper(path[0]);
    if (!current_.count(w.drive)) Fail(L"use", path, L"there is no such drive");
    i = 2;
  }
  if (i >= path.size() || !IsSeparator(path[i])) w.parts = current_.at(w.drive);
  while (i < path.size()) {
    std::size_t end = i;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
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

std::wstring MemoryFileSystem::Key(const Where& w) {
  std::wstring key(1, w.drive);
  key += L':';
  for (const std::wstring& p : w.parts) key += L"\\" + p;
  return text::Fold(key);
}

MemoryFileSystem::Entry* MemoryFileSystem::Get(const Where& w) {
  auto it = entries_.find(Key(w));
  return it == entries_.end() ? nullptr : &it->second;
}

MemoryFileSystem::Entry& MemoryFileSystem::Existing(const Where& w, const std::wstring& path) {
  Entry* e = Get(w);
  if (e == nullptr) Fail(L"use", path, L"no such file or directory");
  return *e;
}

void MemoryFileSystem::CheckNewEntry(const Where& w, const std::wstring& path) {
  if (w.parts.empty()) Fail(L"create", path, L"it is a drive's root");
  Where parent = w;
  parent.parts.pop_back();
  const Entry* p = Get(parent);
  if (p == nullptr || !p->IsDir()) Fail(L"create", path, L"the directory it would be in does not exist");
  if (entries_.size() >= kMaxEntries) Fail(L"create", path, L"the disk is full");
}

std::vector<std::wstring> MemoryFileSystem::ChildKeys(const std::wstring& dirKey) const {
  const std::wstring prefix = dirKey + L"\\";
  std::vector<std::wstring> keys;
  for (auto it = entries_.lower_bound(prefix); it != entries_.end() && it->first.starts_with(prefix); ++it)
    if (it->first.find(L'\\', prefix.size()) == std::wstring::npos) keys.push_back(it->first);
  return keys;
}

void MemoryFileSystem::ChangeDrive(const std::wstring& text) {
  if (text.empty()) return;
  if (!current_.count(Upper(text[0]))) Fail(L"change to drive", text.substr(0, 1), L"there is no such drive");
  drive_ = Upper(text[0]);
}

void MemoryFileSystem::ChangeDir(const std::wstring& path) {
  Where w = Resolve(path);
  const Entry* e = Get(w);
  if (e == nullptr || !e->IsDir()) Fail(L"change to", path, L"no such directory");
  // The directory is kept as spelt when it was created.
  for (std::size_t i = 0; i < w.parts.size(); ++i) {
    Where prefix{w.drive, {w.parts.begin(), w.parts.begin() + static_cast<std::ptrdiff_t>(i) + 1}};
    w.parts[i] = Get(prefix)->name;
  }
  current_[w.drive] = w.parts;
}

std::wstring MemoryFileSystem::CurrentDir() {
  std::wstring dir(1, drive_);
  dir += L':';
  for (const std::wstring& p : current_[drive_]) dir += L"\\" + p;
  return current_[drive_].empty() ? dir + L"\\" : dir;
}

void MemoryFileSystem::SplitPattern(const std::wstring& pattern, Where* dir, std::wstring* names) const {
  const std::size_t cut = pattern.find_last_of(L"\\/");
  const std::size_t start = cut != std::wstring::npos ? cut + 1 : HasDrive(pattern) ? 2 : 0;
  *names = pattern.substr(start);
  *dir = Resolve(pattern.substr(0, start));
  if (names->empty()) *names = L"*";
}

std::vector<FindEntry> MemoryFileSystem::Find(const std::wstring& pattern) {
  if (pattern.empty() || pattern.find(L'\0') != std::wstring::npos) return {};
  Where dir;
  std::wstring names;
  SplitPattern(pattern, &dir, &names);
  std::vector<FindEntry> found;
  if (names == L"." || names == L"..") {
    // The directory itself or its parent, under the name asked for.
    if (names == L".." && !dir.parts.empty()) dir.parts.pop_back();
    if (const Entry* e = Get(dir); e != nullptr && e->IsDir()) found.push_back({names, e->attributes});
    return found;
  }
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

std::vector<FindEntry> MemoryFileSystem::FindOrFail(const std::wstring& pattern) {
  Where dir;
  std::wstring names;
  SplitPattern(pattern, &dir, &names);
  if (const Entry* d = Get(dir); d == nullptr || !d->IsDir()) Fail(L"list", pattern, L"no such directory");
  return Find(pattern);
}

bool MemoryFileSystem::IsRegularFile(const std::wstring& path) {
  if (path.find(L'\0') != std::wstring::npos) return false;
  const Entry* e = Get(Resolve(path));
  return e != nullptr && !e->IsDir();
}

std::uint32_t MemoryFileSystem::GetAttributes(const std::wstring& path) {
  if (path.find(L'\0') != std::wstring::npos) return platform::kInvalidAttributes;
  const Entry* e = Get(Resolve(path));
  return e == nullptr ? platform::kInvalidAttributes : e->attributes;
}

void MemoryFileSystem::SetAttributes(const std::wstring& path, std::uint32_t attributes) {
  Entry& e = Existing(Resolve(path), path);
  constexpr std::uint32_t kSettable =
      platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem | platform::kAttrArchive;
  e.attributes = (attributes & kSettable) | (e.attributes & platform::kAttrDirectory);
}

void MemoryFileSystem::CreateDir(const std::wstring& path) {
  const Where w = Resolve(path);
  CheckNewEntry(w, path);
  if (Get(w) != nullptr) Fail(L"create the directory", path, L"it exists");
  entries_[Key(w)] = Entry{w.parts.back(), platform::kAttrDirectory, nullptr};
}

void MemoryFileSystem::RemoveDir(const std::wstring& path) {
  const Where w = Resolve(path);
  const Entry& e = Existing(w, path);
  if (!e.IsDir() || w.parts.empty()) Fail(L"remove", path, L"it is no directory that can be removed");
  if (!ChildKeys(Key(w)).empty()) Fail(L"remove", path, L"the directory is not empty");
  entries_.erase(Key(w));
}

void MemoryFileSystem::RemoveFile(const std::wstring& path) {
  const Where w = Resolve(path);
  const Entry& e = Existing(w, path);
  if (e.IsDir()) Fail(L"delete", path, L"it is a directory");
  if (e.attributes & platform::kAttrReadOnly) Fail(L"delete", path, L"the file is read-only");
  entries_.erase(Key(w));
}

void MemoryFileSystem::RemoveMatching(const std::wstring& pattern) {
  Where dir;
  std::wstring names;
  SplitPattern(pattern, &dir, &names);
  for (const FindEntry& e : Find(pattern)) {
    if ((e.attributes & platform::kAttrNotPlain) != 0) continue;
    Where file = dir;
    file.parts.push_back(e.name);
    if (file.parts.size() > kMaxDepth) Fail(L"delete", pattern, L"the path is too long");
    if (entries_.at(Key(file)).attributes & platform::kAttrReadOnly) Fail(L"delete", e.name, L"the file is read-only");
    entries_.erase(Key(file));
  }
}

void MemoryFileSystem::CopyWholeFile(const std::wstring& source, const std::wstring& target) {
  const Entry& src = Existing(Resolve(source), source);
  if (src.IsDir()) Fail(L"copy", source, L"it is a directory");
  const Entry copy{L"", src.attributes, std::make_shared<std::string>(*src.data)};
  const Where t = Resolve(target);
  if (Entry* old = Get(t)) {
    if (old->IsDir() || (old->attributes & platform::kAttrReadOnly)) Fail(L"copy onto", target, L"access denied");
    old->attributes = copy.attributes;
    old->data = copy.data;
    return;
  }
  CheckNewEntry(t, target);
  entries_[Key(t)] = Entry{t.parts.back(), copy.attributes, copy.data};
}

std::unique_ptr<platform::File> MemoryFileSystem::Open(const std::wstring& path, platform::OpenMode mode) {
  const Where w = Resolve(path);
  Entry* e = Get(w);
  if (mode == platform::OpenMode::Read) {
    if (e == nullptr || e->IsDir()) Fail(L"open", path + L" for reading", L"no such file");
    return std::make_unique<MemoryFile>(e->data);
  }
  if (e != nullptr) {
    if (mode == platform::OpenMode::CreatePrivate) Fail(L"create", path, L"it exists");
    if (e->IsDir() || (e->attributes & platform::kAttrReadOnly)) Fail(L"open", path + L" for writing", L"access denied");
    if (mode == platform::OpenMode::Write) e->data->clear();
    return std::make_unique<MemoryFile>(e->data);
  }
  CheckNewEntry(w, path);
  Entry& created = entries_[Key(w)] = Entry{w.parts.back(), platform::kAttrArchive, std::make_shared<std::string>()};
  return std::make_unique<MemoryFile>(created.data);
}

std::wstring MemoryFileSystem::ReadTextFile(const std::wstring& path) {
  std::string bytes = Open(path, platform::OpenMode::Read)->ReadAll();
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  return text::FromUtf8(bytes);
}

void MemoryFileSystem::AppendTextLine(const std::wstring& path, const std::wstring& text) {
  Open(path, platform::OpenMode::Append)->Write(text::ToUtf8(text) + "\n");
}

bool MemoryFileSystem::SamePlace(const std::wstring& a, const std::wstring& b) {
  return Key(Resolve(a)) == Key(Resolve(b));
}

bool MemoryFileSystem::SameFile(const std::wstring& a, const std::wstring& b) {
  const Where wa = Resolve(a);
  return Get(wa) != nullptr && Key(wa) == Key(Resolve(b));
}

bool MemoryFileSystem::CanCreateIn(const std::wstring& dir) {
  const Entry* e = Get(Resolve(dir));
  return e != nullptr && e->IsDir();
}
