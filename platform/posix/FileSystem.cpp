#include "platform/posix/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/Text.h"
#include "platform/posix/Posix.h"

namespace posix {

namespace {

using platform::FindEntry;

// Owns a directory stream.
class Dir {
 public:
  explicit Dir(const std::string& path) : dir_(::opendir(path.c_str())) {}
  ~Dir() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
  DIR* Get() const { return dir_; }

 private:
  DIR* dir_;
};

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
wchar_t UpperLetter(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }
bool HasDrive(const std::wstring& p) { return p.size() >= 2 && p[1] == L':' && IsLetter(p[0]); }

std::string JoinHost(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// Case-insensitive name order, ties broken by the exact spelling so that the
// order is total.
bool NameLess(const std::wstring& a, const std::wstring& b) {
  int c = text::CompareNoCase(a, b);
  return c < 0 || (c == 0 && a < b);
}

// Can a name found on disk be spelt as one component of a script path? A
// name holding a backslash or ':' would be split or read as a drive, and one that
// ends in a dot or a space (all-dot names such as "..." among them) loses
// those characters when a path is resolved, so it would name another entry,
// often the directory itself or its parent. Such entries are left out of
// every search, so that no operation walking a tree can be led outside it.
bool IsComponentName(const std::wstring& name) {
  if (name.empty() || name.find_first_of(L"\\:") != std::wstring::npos) return false;
  return name.back() != L'.' && name.back() != L' ';
}

bool HasWildcards(const std::wstring& s) { return s.find_first_of(L"*?") != std::wstring::npos; }

// '*' matches any run of characters, '?' one character, both without regard
// to case. As on Windows, '?' also matches nothing before a dot or at the
// end of the name ("abc?.txt" matches "abc.txt", "ab??" matches "ab").
bool Glob(const std::wstring& p, const std::wstring& n) {
  // can[j]: the pattern from position i on matches the name from j on,
  // computed for i from the end of the pattern backwards.
  const std::size_t np = p.size(), nn = n.size();
  std::vector<char> can(nn + 1, 0), next(nn + 1, 0);
  next[nn] = 1;  // the empty pattern matches only the empty rest
  for (std::size_t i = np; i-- > 0;) {
    for (std::size_t j = nn + 1; j-- > 0;) {
      bool m = false;
      if (p[i] == L'*') {
        m = next[j] || (j < nn && can[j + 1]);
      } else if (p[i] == L'?') {
        m = (j < nn && next[j + 1]) || ((j == nn || n[j] == L'.') && next[j]);
      } else {
        m = j < nn && text::FoldKey(p[i]) == text::FoldKey(n[j]) && next[j + 1];
      }
      can[j] = m ? 1 : 0;
    }
    std::swap(can, next);
  }
  return next[0] != 0;
}

// Wildcard matching with the Windows rules on top of Glob: a pattern ending
// in ".*" also matches the names that the part before it matches ("*.*"
// matches "README"), and one ending in "." matches names without a dot.
bool WildMatch(const std::wstring& p, const std::wstring& n) {
  if (Glob(p, n)) return true;
  if (p.size() >= 2 && p.compare(p.size() - 2, 2, L".*") == 0 && Glob(p.substr(0, p.size() - 2), n)) return true;
  if (p.size() >= 2 && p.back() == L'.' && n.find(L'.') == std::wstring::npos &&
      Glob(p.substr(0, p.size() - 1), n))
    return true;
  return false;
}

// The attributes of an entry from its lstat. A symbolic link carries the
// reparse-point bit and the attributes of what it points to (`target`, the
// followed status, null for a broken link): a link to a directory is a
// directory as well, so that paths through it work; the tree operations
// look at the reparse-point bit and never enter it.
std::uint32_t AttributesOf(const struct stat& st, const struct stat* target, const std::wstring& name, bool isRoot) {
  std::uint32_t a = 0;
  const struct stat* seen = &st;
  if (S_ISLNK(st.st_mode)) {
    a |= platform::kAttrReparsePoint;
    seen = target;
  }
  if (seen != nullptr && S_ISDIR(seen->st_mode)) a |= platform::kAttrDirectory;
  else a |= platform::kAttrArchive;
  if (seen != nullptr && (seen->st_mode & S_IWUSR) == 0) a |= platform::kAttrReadOnly;
  if (!isRoot && !name.empty() && name[0] == L'.') a |= platform::kAttrHidden;
  return a;
}

// The same for a host path: a link is followed to find its target's kind.
std::uint32_t AttributesAt(const std::string& host, const struct stat& st, const std::wstring& name, bool isRoot) {
  struct stat target;
  const bool linked = S_ISLNK(st.st_mode) && ::stat(host.c_str(), &target) == 0;
  return AttributesOf(st, linked ? &target : nullptr, name, isRoot);
}

bool IsReadOnlyFile(const struct stat& st) { return !S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0; }

// Splits a pattern into the part that names the directory (possibly "",
// "C:" or ending in a separator) and its last component.
void SplitLast(const std::wstring& pattern, std::wstring* dirPart, std::wstring* last) {
  std::size_t start = HasDrive(pattern) ? 2 : 0;
  std::size_t sep = pattern.find_last_of(L"\\/");
  if (sep == std::wstring::npos || sep < start) {
    *dirPart = pattern.substr(0, start);
    *last = pattern.substr(start);
  } else {
    *dirPart = pattern.substr(0, sep + 1);
    *last = pattern.substr(sep + 1);
  }
}

void MkdirAll(const std::string& path) {
  std::string cur;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    cur = path.substr(0, next);
    pos = next + 1;
    if (cur.empty()) continue;
    if (::mkdir(cur.c_str(), 0777) != 0 && errno != EEXIST) {
      int err = errno;
      throw VslError(L"Cannot create the directory " + text::FromUtf8(cur) + L": " + Reason(err));
    }
  }
}

class PosixFile : public platform::File {
 public:
  PosixFile(int fd, std::wstring name) : fd_(fd), name_(std::move(name)) {}
  std::string ReadAll() override {
    std::string out;
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(fd_.Get(), buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR) continue;
        int err = errno;
        throw VslError(L"Cannot read " + name_ + L": " + Reason(err));
      }
      if (n == 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }
  void Write(const std::string& bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd_.Get(), bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        int err = errno;
        throw VslError(L"Cannot write to " + name_ + L": " + Reason(err));
      }
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  Fd fd_;
  std::wstring name_;
};

}  // namespace

// ---------------------------------------------------------------------------
// The prefix
// ---------------------------------------------------------------------------

std::string PrefixDir() {
  const char* v = std::getenv("VSL_PREFIX");
  if (v != nullptr && *v != '\0') return v;
  v = std::getenv("XDG_DATA_HOME");
  if (v != nullptr && *v != '\0') return JoinHost(v, "vsl");
  std::string home;
  v = std::getenv("HOME");
  if (v != nullptr && *v != '\0') {
    home = v;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    home = pw->pw_dir;
  } else {
    home = "/";
  }
  return JoinHost(home, ".local/share/vsl");
}

void EnsurePrefix() { EnsurePrefixAt(PrefixDir()); }

void EnsurePrefixAt(const std::string& prefix) {
  const std::string devices = JoinHost(prefix, "dosdevices");
  MkdirAll(devices);
  const std::pair<const char*, const char*> links[] = {{"c:", "../drive_c"}, {"z:", "/"}};
  for (const auto& [name, target] : links) {
    const std::string link = JoinHost(devices, name);
    struct stat st;
    if (::lstat(link.c_str(), &st) == 0) continue;  // present: leave it as it is
    if (::symlink(target, link.c_str()) != 0 && errno != EEXIST) {
      int err = errno;
      throw VslError(L"Cannot create the drive link " + text::FromUtf8(link) + L": " + Reason(err));
    }
  }
  MkdirAll(JoinHost(prefix, "drive_c/windows/system32"));
}

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

std::wstring PosixFileSystem::Resolved::DriveForm() const {
  std::wstring out;
  out.push_back(drive);
  out += L":\\";
  for (std::size_t i = 0; i < comps.size(); ++i) {
    if (i > 0) out.push_back(L'\\');
    out += comps[i];
  }
  return out;
}

std::string PosixFileSystem::Resolved::HostParent() const {
  std::size_t slash = host.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return host.substr(0, slash);
}

PosixFileSystem::PosixFileSystem() : prefix_(PrefixDir()) {
  umask_ = ::umask(0);
  ::umask(umask_);
  std::vector<std::wstring> comps;
  std::string cwd;
  if (char* p = ::getcwd(nullptr, 0); p != nullptr) {
    cwd = p;
    std::free(p);
  }
  std::wstring w = text::FromUtf8(cwd);
  std::size_t pos = 0;
  while (pos < w.size()) {
    std::size_t next = w.find(L'/', pos);
    if (next == std::wstring::npos) next = w.size();
    if (next > pos) comps.push_back(w.substr(pos, next - pos));
    pos = next + 1;
  }
  curDirs_[L'Z'] = comps;
}

const std::string& PosixFileSystem::DriveRoot(wchar_t letter) {
  if (!prefixChecked_) {
    prefixChecked_ = true;
    try {
      EnsurePrefixAt(prefix_);
    } catch (const VslError&) {
      prefixFailed_ = true;  // drives then come only from links that exist
    }
  }
  auto it = drives_.find(letter);
  if (it != drives_.end()) return it->second;
  std::string link = JoinHost(prefix_, "dosdevices");
  link = JoinHost(link, std::string(1, static_cast<char>(letter - L'A' + 'a')) + ":");
  char buf[PATH_MAX];
  struct stat st;
  if (::realpath(link.c_str(), buf) != nullptr && ::stat(buf, &st) == 0 && S_ISDIR(st.st_mode))
    return drives_[letter] = buf;
  if (letter == L'Z' && prefixFailed_) return drives_[letter] = "/";
  throw VslError(std::wstring(L"The drive ") + letter + L": does not exist");
}

PosixFileSystem::Resolved PosixFileSystem::Resolve(const std::wstring& path) {
  Resolved r;
  std::size_t pos = 0;
  if (HasDrive(path)) {
    r.drive = UpperLetter(path[0]);
    pos = 2;
  } else {
    r.drive = currentDrive_;
  }
  const std::string root = DriveRoot(r.drive);
  if (pos >= path.size() || !IsSep(path[pos])) r.comps = curDirs_[r.drive];
  while (pos < path.size()) {
    std::size_t next = pos;
    while (next < path.size() && !IsSep(path[next])) ++next;
    std::wstring comp = path.substr(pos, next - pos);
    pos = next + 1;
    if (comp.empty() || comp == L".") continue;
    if (comp == L"..") {
      if (!r.comps.empty()) r.comps.pop_back();
      continue;
    }
    // As on Windows, trailing dots and spaces are not part of a name.
    while (!comp.empty() && (comp.back() == L'.' || comp.back() == L' ')) comp.pop_back();
    if (comp.empty()) continue;
    r.comps.push_back(std::move(comp));
  }

  r.host = root;
  for (const auto& c : r.comps) r.host = JoinHost(r.host, text::ToUtf8(c));
  if (::lstat(r.host.c_str(), &r.st) == 0) {
    r.exists = true;
    return r;
  }
  if (r.comps.empty()) return r;

  // Some name is not spelt as on disk. Most often it is only the last one
  // (a file about to be created): look for it in its parent first.
  std::wstring found;
  std::string parent = r.HostParent();
  if (LookupNoCase(parent, r.comps.back(), &found)) {
    if (!found.empty()) {
      r.comps.back() = found;
      r.host = JoinHost(parent, text::ToUtf8(found));
      r.exists = ::lstat(r.host.c_str(), &r.st) == 0;
    }
    return r;
  }

  // Walk the components and take a case-insensitive match for each one
  // missing; after the first that has none, the rest stays as written.
  std::string host = root;
  bool missing = false;
  struct stat st;
  for (auto& c : r.comps) {
    std::string candidate = JoinHost(host, text::ToUtf8(c));
    if (!missing && ::lstat(candidate.c_str(), &st) != 0) {
      if (LookupNoCase(host, c, &found) && !found.empty()) {
        c = found;
        candidate = JoinHost(host, text::ToUtf8(c));
      } else {
        missing = true;
      }
    }
    host = std::move(candidate);
  }
  r.host = std::move(host);
  r.exists = !missing && ::lstat(r.host.c_str(), &r.st) == 0;
  return r;
}

bool PosixFileSystem::LookupNoCase(const std::string& dir, const std::wstring& name, std::wstring* found) {
  found->clear();
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  auto it = dirIndex_.find(dir);
  bool fresh = it != dirIndex_.end() && it->second.dev == st.st_dev && it->second.ino == st.st_ino &&
               it->second.mtime.tv_sec == st.st_mtim.tv_sec && it->second.mtime.tv_nsec == st.st_mtim.tv_nsec &&
               it->second.size == st.st_size && it->second.nlink == st.st_nlink;
  if (!fresh) {
    if (dirIndex_.size() > 256) dirIndex_.clear();
    DirIndex idx;
    idx.dev = st.st_dev;
    idx.ino = st.st_ino;
    idx.mtime = st.st_mtim;
    idx.size = st.st_size;
    idx.nlink = st.st_nlink;
    Dir d(dir);
    if (d.Get() == nullptr) return true;  // unreadable: nothing to match
    while (dirent* e = ::readdir(d.Get())) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      std::wstring w = text::FromUtf8(e->d_name);
      auto [slot, added] = idx.byUpper.emplace(text::Fold(w), w);
      if (!added && NameLess(w, slot->second)) slot->second = w;
    }
    it = dirIndex_.insert_or_assign(dir, std::move(idx)).first;
  }
  auto match = it->second.byUpper.find(text::Fold(name));
  if (match != it->second.byUpper.end()) *found = match->second;
  return true;
}

void PosixFileSystem::NoteCreated(const std::string& dir, const std::wstring& name) {
  auto it = dirIndex_.find(dir);
  if (it == dirIndex_.end()) return;
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) {
    dirIndex_.erase(it);
    return;
  }
  auto [slot, added] = it->second.byUpper.emplace(text::Fold(name), name);
  if (!added && NameLess(name, slot->second)) slot->second = name;
  it->second.mtime = st.st_mtim;
  it->second.size = st.st_size;
  it->second.nlink = st.st_nlink;
}

void PosixFileSystem::NoteRemoved(const std::string& dir) { dirIndex_.erase(dir); }

std::wstring PosixFileSystem::FullPath(const std::wstring& path) { return Resolve(path).DriveForm(); }

std::string PosixFileSystem::HostPath(const std::wstring& path) { return Resolve(path).host; }

std::string PosixFileSystem::LineEnd() { return "\n"; }

void PosixFileSystem::LoadDriveTable() {
  if (driveTableLoaded_) drives_.clear();  // links may have been retargeted
  driveTableLoaded_ = true;
  try {
    DriveRoot(L'Z');  // makes sure of the prefix before its status is taken
  } catch (const VslError&) {
  }
  struct stat st {};
  if (::stat(JoinHost(prefix_, "dosdevices").c_str(), &st) != 0) st = {};
  devicesIno_ = st.st_ino;
  devicesMtime_ = st.st_mtim;
  driveTable_.clear();
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    try {
      driveTable_.emplace_back(letter, DriveRoot(letter));
    } catch (const VslError&) {
    }
  }
}

std::wstring PosixFileSystem::DriveFormOf(const std::string& hostPath) {
  std::string host = hostPath;
  char buf[PATH_MAX];
  if (::realpath(hostPath.c_str(), buf) != nullptr) host = buf;
  // The drives are probed once and kept; they are probed again when a link
  // was added or removed in dosdevices, when no drive holds the path, or
  // when the link of the drive found no longer leads to the root noted.
  struct stat st {};
  if (::stat(JoinHost(prefix_, "dosdevices").c_str(), &st) != 0) st = {};
  if (!driveTableLoaded_ || st.st_ino != devicesIno_ || st.st_mtim.tv_sec != devicesMtime_.tv_sec ||
      st.st_mtim.tv_nsec != devicesMtime_.tv_nsec)
    LoadDriveTable();
  wchar_t best = 0;
  std::size_t bestLen = 0;
  for (int round = 0; round < 2; ++round) {
    best = 0;
    bestLen = 0;
    const std::string* bestRoot = nullptr;
    for (const auto& [letter, root] : driveTable_) {
      bool inside = root == "/" || host == root ||
                    (host.compare(0, root.size(), root) == 0 && host.size() > root.size() && host[root.size()] == '/');
      // Z: wins ties: it is the drive every host path has.
      if (inside && (best == 0 || root.size() > bestLen || (root.size() == bestLen && letter == L'Z'))) {
        best = letter;
        bestLen = root.size();
        bestRoot = &root;
      }
    }
    if (round == 1) break;
    if (best != 0) {
      if (best == L'Z' && prefixFailed_) break;  // Z: without a link
      std::string link = JoinHost(JoinHost(prefix_, "dosdevices"), std::string(1, static_cast<char>(best - L'A' + 'a')) + ":");
      if (::realpath(link.c_str(), buf) != nullptr && *bestRoot == buf) break;
    }
    LoadDriveTable();
  }
  std::string rest = host;
  if (best == 0) {
    best = L'Z';
  } else if (bestLen > 1) {
    rest = host.substr(bestLen);
  }
  std::wstring out;
  out.push_back(best);
  out += L":";
  std::wstring w = text::FromUtf8(rest);
  std::replace(w.begin(), w.end(), L'/', L'\\');
  if (w.empty() || w[0] != L'\\') w.insert(w.begin(), L'\\');
  while (w.size() > 1 && w.back() == L'\\') w.pop_back();
  return out + w;
}

// ---------------------------------------------------------------------------
// Drives and current directories
// ---------------------------------------------------------------------------

void PosixFileSystem::ChangeDrive(const std::wstring& text) {
  if (text.empty()) return;
  wchar_t c = text[0];
  if (!IsLetter(c)) throw VslError(L"Cannot change to drive " + text.substr(0, 1) + L": there is no such drive");
  c = UpperLetter(c);
  DriveRoot(c);
  currentDrive_ = c;
}

void PosixFileSystem::ChangeDir(const std::wstring& path) {
  if (path.empty()) throw VslError(L"Cannot change the directory to an empty path");
  Resolved r = Resolve(path);
  struct stat st;
  if (::stat(r.host.c_str(), &st) != 0) {
    int err = errno;
    throw VslError(L"Cannot change the directory to " + r.DriveForm() + L": " + Reason(err));
  }
  if (!S_ISDIR(st.st_mode)) throw VslError(L"Cannot change the directory to " + r.DriveForm() + L": not a directory");
  curDirs_[r.drive] = std::move(r.comps);
}

std::wstring PosixFileSystem::CurrentDir() {
  Resolved r;
  r.drive = currentDrive_;
  r.comps = curDirs_[currentDrive_];
  return r.DriveForm();
}

// ---------------------------------------------------------------------------
// Searching and attributes
// ---------------------------------------------------------------------------

std::vector<FindEntry> PosixFileSystem::Find(const std::wstring& pattern) {
  if (pattern.empty()) return {};
  std::wstring dirPart, last;
  SplitLast(pattern, &dirPart, &last);
  if (last.empty()) {
    if (dirPart.empty() || !IsSep(dirPart.back())) return {};  // a bare "C:"
    last = L"*";
  }
  return FindIn(dirPart, last);
}

std::vector<FindEntry> PosixFileSystem::FindIn(const std::wstring& dirPart, const std::wstring& last) {
  std::vector<FindEntry> out;
  if (!HasWildcards(last)) {
    Resolved r = Resolve(dirPart + last);
    struct stat st;
    if (last == L"." || last == L"..") {
      if (::stat(r.host.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        out.push_back({last, AttributesOf(st, nullptr, r.comps.empty() ? L"" : r.comps.back(), r.comps.empty())});
      return out;
    }
    if (r.comps.empty() || !r.exists || !IsComponentName(r.comps.back())) return out;
    out.push_back({r.comps.back(), AttributesAt(r.host, r.st, r.comps.back(), false)});
    return out;
  }

  Resolved r = Resolve(dirPart);
  Dir d(r.host);
  if (d.Get() == nullptr) return out;
  const int dfd = ::dirfd(d.Get());
  while (dirent* e = ::readdir(d.Get())) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    std::wstring name = text::FromUtf8(e->d_name);
    if (!IsComponentName(name) || !WildMatch(last, name)) continue;
    struct stat st;
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    struct stat target;
    const bool linked = S_ISLNK(st.st_mode) && ::fstatat(dfd, e->d_name, &target, 0) == 0;
    std::uint32_t attributes = AttributesOf(st, linked ? &target : nullptr, name, false);
    out.push_back({std::move(name), attributes});
  }
  std::sort(out.begin(), out.end(), [](const FindEntry& a, const FindEntry& b) { return NameLess(a.name, b.name); });

  if (!r.comps.empty()) {
    std::vector<FindEntry> dots;
    struct stat st;
    if (WildMatch(last, L".") && ::stat(r.host.c_str(), &st) == 0)
      dots.push_back({L".", AttributesOf(st, nullptr, r.comps.back(), false)});
    if (WildMatch(last, L"..") && ::stat(r.HostParent().c_str(), &st) == 0) {
      bool parentIsRoot = r.comps.size() == 1;
      dots.push_back({L"..", AttributesOf(st, nullptr, parentIsRoot ? L"" : r.comps[r.comps.size() - 2], parentIsRoot)});
    }
    out.insert(out.begin(), dots.begin(), dots.end());
  }
  return out;
}

std::uint32_t PosixFileSystem::GetAttributes(const std::wstring& path) {
  Resolved r = Resolve(path);
  if (!r.exists) return platform::kInvalidAttributes;
  return AttributesAt(r.host, r.st, r.comps.empty() ? L"" : r.comps.back(), r.comps.empty());
}

void PosixFileSystem::SetAttributes(const std::wstring& path, std::uint32_t attributes) {
  Resolved r = Resolve(path);
  if (!r.exists) throw VslError(L"Cannot set the attributes of " + r.DriveForm() + L": " + Reason(ENOENT));
  const struct stat& st = r.st;
  if (S_ISLNK(st.st_mode)) return;  // a link has no mode bits of its own
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = (attributes & platform::kAttrReadOnly) ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
  if (wanted != mode && ::chmod(r.host.c_str(), wanted) != 0) {
    int err = errno;
    throw VslError(L"Cannot set the attributes of " + r.DriveForm() + L": " + Reason(err));
  }
}

// ---------------------------------------------------------------------------
// Creating and deleting
// ---------------------------------------------------------------------------

void PosixFileSystem::CreateDir(const std::wstring& path) {
  Resolved r = Resolve(path);
  if (::mkdir(r.host.c_str(), 0777) != 0) {
    int err = errno;
    throw VslError(L"Cannot create the directory " + r.DriveForm() + L": " + Reason(err));
  }
  NoteCreated(r.HostParent(), r.comps.back());
}

void PosixFileSystem::RemoveDir(const std::wstring& path) {
  Resolved r = Resolve(path);
  if (r.comps.empty()) throw VslError(L"Cannot remove the directory " + r.DriveForm() + L": it is the root of the drive");
  if (::rmdir(r.host.c_str()) != 0) {
    int err = errno;
    throw VslError(L"Cannot remove the directory " + r.DriveForm() + L": " + Reason(err));
  }
  NoteRemoved(r.HostParent());
}

void PosixFileSystem::RemoveFile(const std::wstring& path) {
  Resolved r = Resolve(path);
  if (!r.exists) throw VslError(L"Cannot delete " + r.DriveForm() + L": " + Reason(ENOENT));
  const struct stat& st = r.st;
  if (S_ISDIR(st.st_mode)) throw VslError(L"Cannot delete " + r.DriveForm() + L": it is a directory");
  if (IsReadOnlyFile(st)) throw VslError(L"Cannot delete " + r.DriveForm() + L": the file is read-only");
  if (::unlink(r.host.c_str()) != 0) {
    int err = errno;
    throw VslError(L"Cannot delete " + r.DriveForm() + L": " + Reason(err));
  }
  NoteRemoved(r.HostParent());
}

void PosixFileSystem::RemoveMatching(const std::wstring& pattern) {
  std::wstring dirPart, last;
  SplitLast(pattern, &dirPart, &last);
  for (const FindEntry& e : Find(pattern))
    if ((e.attributes & platform::kAttrNotPlain) == 0) RemoveFile(dirPart + e.name);
}

void PosixFileSystem::CopyWholeFile(const std::wstring& source, const std::wstring& target) {
  Resolved s = Resolve(source);
  Resolved t = Resolve(target);
  const std::wstring what = L"Cannot copy " + s.DriveForm() + L" to " + t.DriveForm() + L": ";
  if (!s.exists) throw VslError(what + Reason(ENOENT));
  const struct stat& sst = s.st;
  if (S_ISDIR(sst.st_mode)) throw VslError(what + L"the source is a directory");
  const struct stat& tst = t.st;
  bool targetExists = t.exists;
  if (targetExists) {
    if (S_ISDIR(tst.st_mode)) throw VslError(what + L"the target is a directory");
    // Cutting the target to zero length would destroy the source.
    if (tst.st_dev == sst.st_dev && tst.st_ino == sst.st_ino) throw VslError(what + L"it is the same file");
    if (IsReadOnlyFile(tst)) throw VslError(what + L"the target is read-only");
  }

  if (S_ISLNK(sst.st_mode)) {
    std::vector<char> link(static_cast<std::size_t>(sst.st_size > 0 ? sst.st_size : PATH_MAX) + 1);
    ssize_t n = ::readlink(s.host.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<std::size_t>(n) >= link.size()) {
      int err = n < 0 ? errno : ENAMETOOLONG;
      throw VslError(what + Reason(err));
    }
    link[static_cast<std::size_t>(n)] = '\0';
    if (targetExists && ::unlink(t.host.c_str()) != 0) {
      int err = errno;
      throw VslError(what + Reason(err));
    }
    if (::symlink(link.data(), t.host.c_str()) != 0) {
      int err = errno;
      throw VslError(what + Reason(err));
    }
    if (!targetExists) NoteCreated(t.HostParent(), t.comps.back());
    return;
  }

  // Never write through a link at the target, whatever it points to (a
  // read-only file or the source among others): the link itself is removed
  // and the copy takes its place.
  if (targetExists && S_ISLNK(tst.st_mode)) {
    if (::unlink(t.host.c_str()) != 0) {
      int err = errno;
      throw VslError(what + Reason(err));
    }
    targetExists = false;
  }

  Fd in(::open(s.host.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.Valid()) {
    int err = errno;
    throw VslError(what + Reason(err));
  }
  const mode_t createMode = (sst.st_mode & 0777) | S_IWUSR;
  Fd out(::open(t.host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, createMode));
  if (!out.Valid()) {
    int err = errno;
    throw VslError(what + Reason(err));
  }
  if (!targetExists && !t.comps.empty()) NoteCreated(t.HostParent(), t.comps.back());

  // The kernel copies without a detour through this process where it can;
  // otherwise (another file system type, a special file) by blocks.
  bool byBlocks = false;
  off_t copied = 0;
  for (;;) {
    ssize_t n = ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, 1 << 30, 0);
    if (n > 0) {
      copied += n;
      if (copied >= sst.st_size && sst.st_size > 0) break;  // all there is
      continue;
    }
    if (n == 0) {
      byBlocks = copied == 0;  // a special file may claim to be empty
      break;
    }
    if (errno == EINTR) continue;
    if (copied == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                        errno == EPERM || errno == EBADF)) {
      byBlocks = true;
      break;
    }
    int err = errno;
    throw VslError(what + Reason(err));
  }
  if (byBlocks) {
    for (;;) {
      // The block buffer is made on first use: most runs never copy by blocks.
      if (buffer_.empty()) buffer_.resize(1 << 20);
      ssize_t n = ::read(in.Get(), buffer_.data(), buffer_.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        int err = errno;
        throw VslError(what + Reason(err));
      }
      if (n == 0) break;
      ssize_t done = 0;
      while (done < n) {
        ssize_t w = ::write(out.Get(), buffer_.data() + done, static_cast<std::size_t>(n - done));
        if (w < 0) {
          if (errno == EINTR) continue;
          int err = errno;
          throw VslError(what + Reason(err));
        }
        done += w;
      }
    }
  }
  // The copy keeps the source's mode bits, its read-only attribute among
  // them, as CopyFile keeps attributes.
  const bool modeRight = !targetExists && (createMode & ~umask_) == (sst.st_mode & 07777);
  if (!modeRight && ::fchmod(out.Get(), sst.st_mode & 07777) != 0) {
    int err = errno;
    throw VslError(what + Reason(err));
  }
  if (int err = out.Close(); err != 0) throw VslError(what + Reason(err));
}

std::unique_ptr<platform::File> PosixFileSystem::Open(const std::wstring& path, platform::OpenMode mode) {
  Resolved r = Resolve(path);
  const wchar_t* how = mode == platform::OpenMode::Read    ? L" for reading: "
                       : mode == platform::OpenMode::Write ? L" for writing: "
                                                           : L" for appending: ";
  const std::wstring what = L"Cannot open " + r.DriveForm() + how;
  int flags = O_CLOEXEC;
  struct stat st;
  const bool existed = r.exists;
  // Whether a file was there to open, following a link at the path: a file
  // this call creates is never refused as read-only.
  bool targetExisted = false;
  if (mode == platform::OpenMode::Read) {
    flags |= O_RDONLY;
  } else {
    // Not cut yet: the read-only attribute is checked again on the file
    // actually opened (a link is followed by open, and root may open a
    // read-only file), and only then is the file cut.
    struct stat before;
    targetExisted = ::stat(r.host.c_str(), &before) == 0;
    if (targetExisted && IsReadOnlyFile(before)) throw VslError(what + L"the file is read-only");
    flags |= O_WRONLY | O_CREAT | (mode == platform::OpenMode::Append ? O_APPEND : 0);
  }
  int fd = ::open(r.host.c_str(), flags, 0666);
  if (fd < 0) {
    int err = errno;
    throw VslError(what + Reason(err));
  }
  auto file = std::make_unique<PosixFile>(fd, r.DriveForm());
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    throw VslError(what + Reason(err));
  }
  if (S_ISDIR(st.st_mode)) throw VslError(what + Reason(EISDIR));
  if (!existed && !r.comps.empty()) NoteCreated(r.HostParent(), r.comps.back());
  if (mode != platform::OpenMode::Read) {
    if (targetExisted && IsReadOnlyFile(st)) throw VslError(what + L"the file is read-only");
    if (mode == platform::OpenMode::Write && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
      int err = errno;
      throw VslError(what + Reason(err));
    }
  }
  return file;
}

bool PosixFileSystem::CreateNewFile(const std::wstring& path) {
  Resolved r = Resolve(path);
  Fd fd(::open(r.host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd.Valid()) {
    if (errno == EEXIST) return false;
    int err = errno;
    throw VslError(L"Cannot create " + r.DriveForm() + L": " + Reason(err));
  }
  if (!r.comps.empty()) NoteCreated(r.HostParent(), r.comps.back());
  return true;
}

}  // namespace posix
