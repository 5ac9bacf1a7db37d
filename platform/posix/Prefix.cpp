// The prefix that holds the drives, and the small host-path helpers the
// file system shares.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Text.h"
#include "platform/posix/Support.h"
#include "platform/posix/WindowsView.h"

namespace posix {

namespace fs {

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
    if (::mkdir(cur.c_str(), 0777) != 0 && errno != EEXIST)
      RaiseLastErrno([&] { return L"Cannot create the directory " + text::FromUtf8(cur); });
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
  const std::pair<const char*, const char*> links[] = {{"c:", "../drive_c"}, {"z:", "/"}};
  // Most runs find everything there already: three looks instead of a
  // directory creation for every component.
  struct stat st;
  if (::lstat(JoinHost(devices, "c:").c_str(), &st) == 0 && ::lstat(JoinHost(devices, "z:").c_str(), &st) == 0 &&
      ::stat(JoinHost(prefix, "drive_c/windows/system32").c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return;
  MkdirAll(devices);
  for (const auto& [name, target] : links) {
    const std::string link = JoinHost(devices, name);
    struct stat st;
    if (::lstat(link.c_str(), &st) == 0) continue;  // present: leave it as it is
    if (::symlink(target, link.c_str()) != 0 && errno != EEXIST)
      RaiseLastErrno([&] { return L"Cannot create the drive link " + text::FromUtf8(link); });
  }
  MkdirAll(JoinHost(prefix, "drive_c/windows/system32"));
}

}  // namespace posix
