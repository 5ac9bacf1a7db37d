// The POSIX file system seen the Windows way: drives are the symbolic links
// in <prefix>/dosdevices, every drive has its own current directory, names
// are found without regard to case, and the read-only attribute (the
// owner-write bit) is enforced by this layer itself, also for root.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"

namespace posix {

// The prefix directory: $VSL_PREFIX, else $XDG_DATA_HOME/vsl, else
// ~/.local/share/vsl.
std::string PrefixDir();
// Creates what the prefix needs when it is missing: dosdevices/c: ->
// ../drive_c, dosdevices/z: -> /, drive_c/windows/system32/. Links that
// exist already are left alone, so a Wine prefix serves as well.
void EnsurePrefix();
void EnsurePrefixAt(const std::string& prefix);

class PosixFileSystem : public platform::FileSystem {
 public:
  // Reads the prefix location and the process's working directory; the
  // prefix itself is created on the first use of a drive.
  PosixFileSystem();

  void ChangeDrive(const std::wstring& text) override;
  void ChangeDir(const std::wstring& path) override;
  std::wstring CurrentDir() override;
  std::vector<platform::FindEntry> Find(const std::wstring& pattern) override;
  std::uint32_t GetAttributes(const std::wstring& path) override;
  void SetAttributes(const std::wstring& path, std::uint32_t attributes) override;
  void CreateDir(const std::wstring& path) override;
  void RemoveDir(const std::wstring& path) override;
  void RemoveFile(const std::wstring& path) override;
  void RemoveMatching(const std::wstring& pattern) override;
  void CopyWholeFile(const std::wstring& source, const std::wstring& target) override;
  std::unique_ptr<platform::File> Open(const std::wstring& path, platform::OpenMode mode) override;
  std::wstring ReadTextFile(const std::wstring& path) override;
  void AppendTextLine(const std::wstring& path, const std::wstring& text) override;
  bool SamePlace(const std::wstring& a, const std::wstring& b) override;
  bool SameFile(const std::wstring& a, const std::wstring& b) override;
  bool CanCreateIn(const std::wstring& dir) override;

  // The host path of a script path, for handing paths to programs and
  // libraries. Fails for a path that names no file (one holding a NUL).
  std::string HostPath(const std::wstring& path);
  // The drive form of a host path: the drive whose target holds it, the
  // longest target winning ("/tmp/x" -> "Z:\tmp\x").
  std::wstring DriveFormOf(const std::string& hostPath);
  // The full drive form of a script path, with the names as they are spelt
  // on disk where they exist.
  std::wstring FullPath(const std::wstring& path);
  // Creates a new empty file, never opening an existing one: false when the
  // name is taken; other failures are raised.
  bool CreateNewFile(const std::wstring& path);
  const std::string& Prefix() const { return prefix_; }

 private:
  // A script path resolved to a drive, its components below the drive's
  // root (as spelt on disk where they exist) and the host path.
  struct Resolved {
    wchar_t drive = L'Z';
    std::vector<std::wstring> comps;
    std::string host;
    bool invalid = false;  // the path holds a NUL: host is empty, nothing exists
    bool exists = false;   // st holds the lstat of host when true
    struct stat st {};
    std::wstring DriveForm() const;
    std::string HostParent() const;
  };

  // Names of one directory by their folded form (text::Fold), kept while the
  // directory's status shows no change, so that looking up many missing
  // names in a large directory does not read it again every time.
  struct DirIndex {
    dev_t dev{};
    ino_t ino{};
    timespec mtime{};
    off_t size{};
    nlink_t nlink{};
    std::unordered_map<std::wstring, std::wstring> byFolded;
  };

  // Raises "WHAT: the name is not valid" for a path holding a NUL.
  static void RefuseInvalid(const Resolved& r, const std::wstring& what);
  const std::string& DriveRoot(wchar_t letter);
  Resolved Resolve(const std::wstring& path);
  // Looks `name` up without regard to case in the directory `dir`: false
  // when `dir` is no directory; otherwise *found is the name as spelt on
  // disk, or empty when there is none.
  bool LookupNoCase(const std::string& dir, const std::wstring& name, std::wstring* found);
  void NoteCreated(const std::string& dir, const std::wstring& name);
  void NoteRemoved(const std::string& dir);
  std::vector<platform::FindEntry> FindIn(const std::wstring& dirPart, const std::wstring& last);

  std::string prefix_;
  bool prefixChecked_ = false;
  bool prefixFailed_ = false;
  wchar_t currentDrive_ = L'Z';
  std::map<wchar_t, std::vector<std::wstring>> curDirs_;
  std::map<wchar_t, std::string> drives_;
  // The drives that exist, with their roots, for DriveFormOf; and the
  // status of dosdevices when they were read.
  void LoadDriveTable();
  bool driveTableLoaded_ = false;
  std::vector<std::pair<wchar_t, std::string>> driveTable_;
  ino_t devicesIno_{};
  timespec devicesMtime_{};
  std::unordered_map<std::string, DirIndex> dirIndex_;
  std::vector<char> buffer_;
  mode_t umask_ = 022;
};

// Pieces shared by the three parts of the file system: Paths.cpp (prefix,
// drives, resolution), Search.cpp (searches and attributes) and FileOps.cpp
// (creating, deleting, copying, opening).
namespace fs {

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

inline bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }
inline bool IsLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
inline wchar_t UpperLetter(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }
inline bool HasDrive(const std::wstring& p) { return p.size() >= 2 && p[1] == L':' && IsLetter(p[0]); }
inline bool HasNul(std::wstring_view s) { return s.find(L'\0') != std::wstring_view::npos; }

// The reason given for a path that holds a NUL.
extern const wchar_t* const kInvalidName;

std::string JoinHost(const std::string& dir, const std::string& name);
// Case-insensitive name order, ties broken by the exact spelling so that the
// order is total.
bool NameLess(const std::wstring& a, const std::wstring& b);
// Splits a pattern into the part that names the directory (possibly "",
// "C:" or ending in a separator) and its last component.
void SplitLast(const std::wstring& pattern, std::wstring* dirPart, std::wstring* last);

}  // namespace fs

}  // namespace posix
