// The POSIX file system seen the Windows way: drives are the symbolic links
// in <prefix>/dosdevices, every drive has its own current directory, names
// are found without regard to case, and the read-only attribute (the
// owner-write bit) is enforced by this layer itself, also for root. The
// machinery behind it (the directories it holds open, what listings found,
// the case index) is in WindowsView.h, which only this backend includes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
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

class WindowsView;

class PosixFileSystem : public platform::FileSystem {
 public:
  // Reads the prefix location and the process's working directory; the
  // prefix itself is created on the first use of a drive.
  PosixFileSystem();
  ~PosixFileSystem() override;
  PosixFileSystem(const PosixFileSystem&) = delete;
  PosixFileSystem& operator=(const PosixFileSystem&) = delete;

  void ChangeDrive(const std::wstring& text) override;
  void ChangeDir(const std::wstring& path) override;
  std::wstring CurrentDir() override;
  std::vector<platform::FindEntry> Find(const std::wstring& pattern) override;
  std::vector<platform::FindEntry> FindOrFail(const std::wstring& pattern) override;
  std::uint32_t GetAttributes(const std::wstring& path) override;
  bool IsRegularFile(const std::wstring& path) override;
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
  // The full drive form of a script path, with the names as they are spelt
  // on disk where they exist.
  std::wstring FullPath(const std::wstring& path) override;
  platform::EntryStamp Stamp(const std::wstring& path) override;
  bool MoveEntry(const std::wstring& from, const std::wstring& to) override;
  void RestoreStamp(const std::wstring& path, const platform::EntryStamp& stamp) override;
  bool SameContent(const std::wstring& a, const std::wstring& b) override;
  void CopyStamp(const std::wstring& source, const std::wstring& target) override;
  void RemoveTree(const std::wstring& path) override;
  std::unique_ptr<platform::LockedFile> OpenLocked(const std::wstring& path, bool create) override;

  // The host path of a script path, for handing paths to programs and
  // libraries. Fails for a path that names no file (one holding a NUL).
  std::string HostPath(const std::wstring& path);
  // The drive form of a host path: the drive whose target holds it, the
  // longest target winning ("/tmp/x" -> "Z:\tmp\x").
  std::wstring DriveFormOf(const std::string& hostPath);
  // Creates a new empty file, never opening an existing one: false when the
  // name is taken; other failures are raised.
  bool CreateNewFile(const std::wstring& path);
  const std::string& Prefix() const;

  // Lets go of every directory held open and of everything learnt from
  // listings, so that the next call looks at the file system afresh. The
  // platform calls it whenever something else may have changed the file
  // system meanwhile: a started program, a library's entry point, a dialog
  // that waited for the user.
  void Forget();

 private:
  std::unique_ptr<WindowsView> view_;
};

}  // namespace posix
