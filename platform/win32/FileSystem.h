// The Windows file system, reached through kernel32's ANSI calls.
//
// Current directories: the current directory of the current drive is the
// process's own (GetCurrentDirectoryA / SetCurrentDirectoryA); the current
// directory of every other drive is kept in the process's environment under
// the name "=X:", the convention of the Windows command interpreter. A drive
// without such a variable is at its root. Changing to another drive stores
// the directory being left under its "=X:" name, so that started programs,
// which inherit the environment, see the same directories.
//
// Every path is resolved to a full ANSI path here before it reaches a
// kernel32 call, so "D:x" is relative to D:'s own directory. A path that
// holds a NUL, or a character that the ANSI code page cannot represent,
// names nothing: the call would reach another file.
#pragma once

#include "platform/win32/Support.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/PathSyntax.h"
#include "platform/Platform.h"

namespace win32 {

class Win32FileSystem : public platform::FileSystem {
 public:
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
  std::wstring FullPath(const std::wstring& path) override;
  platform::EntryStamp Stamp(const std::wstring& path) override;
  bool MoveEntry(const std::wstring& from, const std::wstring& to) override;
  void RestoreStamp(const std::wstring& path, const platform::EntryStamp& stamp) override;
  bool SameContent(const std::wstring& a, const std::wstring& b) override;
  void CopyStamp(const std::wstring& source, const std::wstring& target) override;
  void RemoveTree(const std::wstring& path) override;
  std::unique_ptr<platform::LockedFile> OpenLocked(const std::wstring& path, bool create) override;

  // The full ANSI path of a script path, resolved against the current
  // directory of the drive it names. False when the path names nothing.
  bool Resolve(const std::wstring& path, std::string* full);
  // The same, raising "WHAT: the name is not valid" when it names nothing.
  std::string ResolveOrRaise(const std::wstring& path, const std::wstring& what);
  // The current directory of a drive (an upper-case letter), in full.
  std::string DriveDir(char letter);

 private:
  char CurrentDriveLetter();
  // Find's work; `strict` for FindOrFail.
  std::vector<platform::FindEntry> FindIn(const std::wstring& pattern, bool strict);
  // The entries matching a full ANSI pattern. A search that matches
  // nothing, in a directory that exists or not, gives an empty list; any
  // other failure of the search gives an empty list too unless `strict`,
  // where it raises.
  std::vector<platform::FindEntry> FindFull(const std::string& fullPattern, bool strict);
};

namespace fs {

using platform::path::HasDrive;
using platform::path::HasNul;
using platform::path::IsLetter;
using platform::path::IsSep;
using platform::path::kInvalidName;
using platform::path::SplitLast;

// The wide form of an ANSI path, for messages.
inline std::wstring Shown(const std::string& ansiPath) { return FromAnsi(ansiPath); }
// A script path as a message shows it.
inline std::wstring Shown(const std::wstring& path) { return platform::path::Shown(path); }

}  // namespace fs

}  // namespace win32
