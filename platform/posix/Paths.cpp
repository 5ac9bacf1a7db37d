// The file system's paths: the prefix and its drives, the current
// directory of every drive, and the resolution of a script path to a host
// path with names found without regard to case.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/Text.h"
#include "platform/posix/FileSystem.h"
#include "platform/posix/Support.h"

namespace posix {

namespace fs {

const wchar_t* const kInvalidName = L"the name is not valid";

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

}  // namespace fs

using namespace fs;

namespace {

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
      const int err = errno;
      RaiseErrno(err, L"Cannot create the directory " + text::FromUtf8(cur));
    }
  }
}

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
      const int err = errno;
      RaiseErrno(err, L"Cannot create the drive link " + text::FromUtf8(link));
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
    // A NUL is shown, not written: a message must not be cut at it.
    for (wchar_t c : comps[i]) {
      if (c == L'\0')
        out += L"<NUL>";
      else
        out.push_back(c);
    }
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
  r.invalid = HasNul(path);
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
  // The operating system would read the path only up to a NUL and reach
  // another file: such a path names nothing, and its empty host path makes
  // any system call that is made with it fail.
  if (r.invalid) return r;

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
      auto [slot, added] = idx.byFolded.emplace(text::Fold(w), w);
      if (!added && NameLess(w, slot->second)) slot->second = w;
    }
    it = dirIndex_.insert_or_assign(dir, std::move(idx)).first;
  }
  auto match = it->second.byFolded.find(text::Fold(name));
  if (match != it->second.byFolded.end()) *found = match->second;
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
  auto [slot, added] = it->second.byFolded.emplace(text::Fold(name), name);
  if (!added && NameLess(name, slot->second)) slot->second = name;
  it->second.mtime = st.st_mtim;
  it->second.size = st.st_size;
  it->second.nlink = st.st_nlink;
}

void PosixFileSystem::NoteRemoved(const std::string& dir) { dirIndex_.erase(dir); }

std::wstring PosixFileSystem::FullPath(const std::wstring& path) { return Resolve(path).DriveForm(); }

std::string PosixFileSystem::HostPath(const std::wstring& path) {
  Resolved r = Resolve(path);
  if (r.invalid) throw VslError(L"Cannot use the path " + r.DriveForm() + L": " + kInvalidName);
  return r.host;
}

bool PosixFileSystem::SamePlace(const std::wstring& a, const std::wstring& b) {
  Resolved x = Resolve(a);
  Resolved y = Resolve(b);
  return !x.invalid && !y.invalid && x.host == y.host;
}

bool PosixFileSystem::SameFile(const std::wstring& a, const std::wstring& b) {
  Resolved x = Resolve(a);
  Resolved y = Resolve(b);
  struct stat sx {}, sy {};
  if (x.invalid || y.invalid || ::stat(x.host.c_str(), &sx) != 0 || ::stat(y.host.c_str(), &sy) != 0) return false;
  return sx.st_dev == sy.st_dev && sx.st_ino == sy.st_ino;
}

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
  RefuseInvalid(r, L"Cannot change the directory to " + r.DriveForm());
  struct stat st;
  if (::stat(r.host.c_str(), &st) != 0) {
    const int err = errno;
    RaiseErrno(err, L"Cannot change the directory to " + r.DriveForm());
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

}  // namespace posix
