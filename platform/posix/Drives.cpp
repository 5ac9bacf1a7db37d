// Drives: the links in the prefix's dosdevices, the drive form of a host
// path, and the current directory of every drive.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/Text.h"
#include "platform/posix/WindowsView.h"

namespace posix {

using namespace fs;

const std::string& WindowsView::DriveRoot(wchar_t letter) {
  auto it = drives_.find(letter);
  if (it != drives_.end()) return it->second;
  if (!prefixChecked_) {
    prefixChecked_ = true;
    try {
      EnsurePrefixAt(prefix_);
    } catch (const VslError&) {
      prefixFailed_ = true;  // drives then come only from links that exist
    }
  }
  const std::string devices = JoinHost(prefix_, "dosdevices");
  const std::string link = JoinHost(devices, std::string(1, static_cast<char>(letter - L'A' + 'a')) + ":");
  // The link's target made canonical; an absolute target (Z:'s "/") needs
  // no look at the prefix's own directories.
  char target[PATH_MAX];
  char buf[PATH_MAX];
  struct stat st;
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  std::string resolved;
  if (n > 0) {
    target[n] = '\0';
    resolved = target[0] == '/' ? std::string(target) : JoinHost(devices, target);
  }
  if (!resolved.empty() && ::realpath(resolved.c_str(), buf) != nullptr && ::stat(buf, &st) == 0 &&
      S_ISDIR(st.st_mode))
    return drives_[letter] = buf;
  if (letter == L'Z' && prefixFailed_) return drives_[letter] = "/";
  throw VslError(std::wstring(L"The drive ") + letter + L": does not exist");
}

void WindowsView::LoadDriveTable() {
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

std::wstring WindowsView::DriveFormOf(const std::string& hostPath) {
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
      std::string link =
          JoinHost(JoinHost(prefix_, "dosdevices"), std::string(1, static_cast<char>(best - L'A' + 'a')) + ":");
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

void WindowsView::ChangeDrive(const std::wstring& text) {
  if (text.empty()) return;
  wchar_t c = text[0];
  if (!IsLetter(c)) throw VslError(L"Cannot change to drive " + text.substr(0, 1) + L": there is no such drive");
  c = UpperLetter(c);
  DriveRoot(c);
  currentDrive_ = c;
}

bool WindowsView::MoveCwd(Chain& cwd, std::size_t shared, std::vector<Level> below) {
  // The directories below the ones shared are opened first; the chain takes
  // them only once the last one has turned out to be a directory.
  DirRef base = LevelDir(cwd, shared);
  if (!base) return false;
  bool respelt = false;
  DirRef target = below.empty() ? base : OpenLevels(base, below.data(), below.size(), &respelt);
  if (!target) return false;
  // A directory is entered only where it may be searched, as chdir asks:
  // looking up "." in it needs that right.
  struct stat st;
  if (::fstatat(target->fd, ".", &st, 0) != 0) return false;
  // The current directory is spelt as on disk.
  KeepLevels(cwd, shared);
  PushLevels(cwd, std::move(below));
  return true;
}

void WindowsView::ChangeDir(const std::wstring& path) {
  if (path.empty()) throw VslError(L"Cannot change the directory to an empty path");
  // Up to the parent or down into an entry, as a tree operation goes: one
  // level more or less. A failure is reported by the general way below.
  if (path == L"..") {
    Chain& cwd = CwdChain(currentDrive_);
    Trim();
    if (cwd.levels.size() > 1 && MoveCwd(cwd, cwd.levels.size() - 2, {})) return;
  } else if (Near near; NearChain(path, &near) && !near.self && near.chain == &CwdChain(near.drive)) {
    DriveRoot(near.drive);
    Trim();
    std::vector<Level> below(1);
    below[0].name = near.name;
    below[0].host = text::ToUtf8(near.name);
    if (MoveCwd(*near.chain, near.chain->levels.size() - 1, std::move(below))) return;
  }

  wchar_t drive = L'Z';
  std::wstring text;
  const bool valid = ParsePath(path, &drive, &text);
  Resolved shown;
  shown.shown = text;
  shown.root = text.size() == 2;
  if (!valid) throw VslError(L"Cannot change the directory to " + shown.DriveForm() + L": " + kInvalidName);
  Trim();
  Chain& cwd = CwdChain(drive);
  const std::size_t shared = MatchLevel(cwd, text);
  // The current directory or one above it is in the chain already.
  std::vector<Level> below;
  if (cwd.levels[shared].textEnd != text.size()) below = LevelsOf(text, cwd.levels[shared].textEnd);
  if (MoveCwd(cwd, shared, std::move(below))) return;
  const int err = errno;
  if (err == ENOTDIR) throw VslError(L"Cannot change the directory to " + shown.DriveForm() + L": not a directory");
  RaiseErrno(err, L"Cannot change the directory to " + shown.DriveForm());
}

std::wstring WindowsView::CurrentDir() {
  const Chain& cwd = CwdChain(currentDrive_);
  return cwd.levels.size() == 1 ? cwd.shown + L'\\' : cwd.shown;
}

}  // namespace posix
