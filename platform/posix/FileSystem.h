// The POSIX file system seen the Windows way: drives are the symbolic links
// in <prefix>/dosdevices, every drive has its own current directory, names
// are found without regard to case, and the read-only attribute (the
// owner-write bit) is enforced by this layer itself, also for root.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
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
  std::string HostPath(const std::wstring& path) override;
  std::string LineEnd() override;

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
    bool exists = false;  // st holds the lstat of host when true
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
    std::unordered_map<std::wstring, std::wstring> byUpper;
  };

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

}  // namespace posix
