// A file system kept in memory, for the fuzz targets: what a fuzzed script
// creates, copies, deletes or writes lives and dies with one input, and the
// machine's own files are never reached.
//
// The file system has the drives C: and Z:, each with its own current
// directory, names without regard to case, and the Windows search rules of
// platform::FileSystem. It has no links. It holds at most kMaxEntries
// entries, kMaxDepth levels and kMaxFileBytes in one file; beyond that a call
// fails as a full disk would, so that a script copying a tree into itself
// comes to an end.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

class MemoryFileSystem : public platform::FileSystem {
 public:
  static constexpr std::size_t kMaxEntries = 2000;
  static constexpr std::size_t kMaxDepth = 24;
  static constexpr std::size_t kMaxFileBytes = 1 << 16;

  MemoryFileSystem();

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

  Where Resolve(const std::wstring& path) const;
  static std::wstring Key(const Where& w);
  Entry* Get(const Where& w);
  Entry& Existing(const Where& w, const std::wstring& path);
  // The parent of `w`, which must be an existing directory, and room for a new entry.
  void CheckNewEntry(const Where& w, const std::wstring& path);
  // The directory a search pattern looks in, and the pattern of names.
  void SplitPattern(const std::wstring& pattern, Where* dir, std::wstring* names) const;
  std::vector<std::wstring> ChildKeys(const std::wstring& dirKey) const;

  std::map<std::wstring, Entry> entries_;  // by the folded full path; a root is "C:"
  std::map<wchar_t, std::vector<std::wstring>> current_;
  wchar_t drive_ = L'C';
};
