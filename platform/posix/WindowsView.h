// The machinery of the POSIX file system's Windows view, private to this
// backend: the prefix and its drives, the current directory of every drive
// as a chain of directories held open, what listings found, and the case
// index of directories, with every operation of the file system built on
// them. Its parts: Prefix.cpp (the prefix), HeldDirs.cpp (directories held
// open and their chains), Paths.cpp (resolution, the case index, listings),
// Drives.cpp (drives, drive forms, current directories), Search.cpp,
// FileOps.cpp and Journaling.cpp (the operations).
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/PathSyntax.h"
#include "platform/Platform.h"
#include "platform/posix/FileSystem.h"
#include "platform/posix/Support.h"

namespace posix {

class WindowsView {
 public:
  WindowsView();
  ~WindowsView();
  WindowsView(const WindowsView&) = delete;
  WindowsView& operator=(const WindowsView&) = delete;

  void ChangeDrive(const std::wstring& text);
  void ChangeDir(const std::wstring& path);
  std::wstring CurrentDir();
  std::vector<platform::FindEntry> Find(const std::wstring& pattern);
  std::vector<platform::FindEntry> FindOrFail(const std::wstring& pattern);
  std::uint32_t GetAttributes(const std::wstring& path);
  bool IsRegularFile(const std::wstring& path);
  void SetAttributes(const std::wstring& path, std::uint32_t attributes);
  void CreateDir(const std::wstring& path);
  void RemoveDir(const std::wstring& path);
  void RemoveFile(const std::wstring& path);
  void RemoveMatching(const std::wstring& pattern);
  void CopyWholeFile(const std::wstring& source, const std::wstring& target);
  std::unique_ptr<platform::File> Open(const std::wstring& path, platform::OpenMode mode);
  std::wstring ReadTextFile(const std::wstring& path);
  void AppendTextLine(const std::wstring& path, const std::wstring& text);
  bool SamePlace(const std::wstring& a, const std::wstring& b);
  bool SameFile(const std::wstring& a, const std::wstring& b);
  bool CanCreateIn(const std::wstring& dir);
  // The full drive form of a script path, with the names as they are spelt
  // on disk where they exist.
  std::wstring FullPath(const std::wstring& path);
  platform::EntryStamp Stamp(const std::wstring& path);
  bool MoveEntry(const std::wstring& from, const std::wstring& to);
  void RestoreStamp(const std::wstring& path, const platform::EntryStamp& stamp);
  bool SameContent(const std::wstring& a, const std::wstring& b);
  void CopyStamp(const std::wstring& source, const std::wstring& target);
  void RemoveTree(const std::wstring& path);
  std::unique_ptr<platform::LockedFile> OpenLocked(const std::wstring& path, bool create);

  // The host path of a script path, for handing paths to programs and
  // libraries. Fails for a path that names no file (one holding a NUL).
  std::string HostPath(const std::wstring& path);
  // The drive form of a host path: the drive whose target holds it, the
  // longest target winning ("/tmp/x" -> "Z:\tmp\x").
  std::wstring DriveFormOf(const std::string& hostPath);
  // Creates a new empty file, never opening an existing one: false when the
  // name is taken; other failures are raised.
  bool CreateNewFile(const std::wstring& path);
  const std::string& Prefix() const { return prefix_; }

  // Lets go of every directory held open and of everything learnt from
  // listings, so that the next call looks at the file system afresh. The
  // platform calls it whenever something else may have changed the file
  // system meanwhile: a started program, a library's entry point, a dialog
  // that waited for the user.
  void Forget();

 private:
  // How a directory is told apart from every other while it is held open.
  struct DirId {
    dev_t dev{};
    ino_t ino{};
    bool operator==(const DirId&) const = default;
  };
  struct DirIdHash {
    std::size_t operator()(const DirId& d) const noexcept { return std::hash<ino_t>()(d.ino) * 31 + d.dev; }
  };

  // What an lstat told of an entry, with the mode of what a symbolic link
  // leads to (0 for a broken link).
  struct Status {
    mode_t mode = 0;
    mode_t target = 0;
    dev_t dev{};
    ino_t ino{};
    off_t size = 0;
  };

  // A directory held open (O_PATH), shared by the chains that pass through
  // it. Closing it lets its listing go: the inode number may then be reused.
  class OpenDir;
  using DirRef = std::shared_ptr<OpenDir>;

  // One directory of a chain. `text` and `shown` of the chain end at
  // textEnd and shownEnd for this level.
  struct Level {
    std::wstring name;  // as spelt on disk (empty for the root)
    std::string host;   // the name on disk in UTF-8
    std::size_t textEnd = 0;
    std::size_t shownEnd = 0;
    DirRef dir;  // null until it is needed
    // Opened by its own name from the level above, which is a directory
    // and no link: ".." leads back there.
    bool physical = false;
  };

  // A directory path of one drive as the directories from the drive's root
  // down, each held open once it has been needed. A path that shares the
  // chain's start is reached from the deepest directory it shares: a name
  // in the chain's last directory costs one system call whatever the depth,
  // and no call is handed a path longer than the system allows.
  //
  // `text` is the drive form as paths spell it, for matching ("Z:" for the
  // root, "Z:\a\b" below it); `shown` the same with the names as spelt on
  // disk.
  struct Chain {
    wchar_t drive = L'Z';
    std::wstring text;
    std::wstring shown;
    std::vector<Level> levels;  // levels[0] is the root
    unsigned long lastUse = 0;
  };

  // Names of one directory by their folded form (text::Fold), kept while the
  // directory's status shows no change, so that looking up many missing
  // names in a large directory does not read it again every time. A change
  // made here updates the index and the status it was seen with.
  struct DirIndex {
    timespec mtime{};
    timespec ctime{};
    off_t size{};
    nlink_t nlink{};
    // The folded name in UTF-8 -> the name as spelt on disk, in UTF-8.
    std::unordered_map<std::string, std::string> bySpelling;
    // Some name is spelt on disk in more than one way: a removal cannot
    // tell what is left, and the index is read again.
    bool several = false;
    void Add(std::string key, const std::wstring& name);
    void Seen(const struct stat& st);
    bool Unchanged(const struct stat& st) const;
  };

  // What a listing found in one directory, kept for the calls that follow
  // on its entries (a tree operation deletes or copies each entry it
  // listed). Entries come in the order of the listing, which is the order
  // the tree operations use them in.
  struct Listing {
    std::vector<std::pair<std::string, Status>> entries;
    std::size_t last = std::string::npos;  // the entry asked for last
    std::unordered_map<std::string_view, std::size_t> byName;  // made on the first miss
    // The entry of that name (npos for none), the entry asked for last and
    // the one after it tried first.
    std::size_t IndexOf(const std::string& name);
    // The status of the entry, null when it is not known.
    Status* Lookup(const std::string& name);
    // Forgets what is known of the entry.
    void Erase(const std::string& name);
  };

  // A script path resolved to the directory that holds its entry and the
  // entry's name in it.
  struct Resolved {
    wchar_t drive = L'Z';
    std::wstring shown;          // drive form, names as spelt on disk where known; "Z:" for a root
    std::size_t nameStart = 0;   // where the entry's name starts in `shown`
    bool invalid = false;        // the path holds a NUL: nothing exists, nothing is reached
    bool root = false;           // the path names the root of its drive
    DirRef dir;                  // the directory holding the entry; null when it cannot be reached
    int dirErr = ENOENT;         // why `dir` is null
    std::string name;            // the entry's name on disk; "." for a root
    bool exists = false;         // after Stat: whether the entry exists, and its status
    Status st;
    std::wstring DriveForm() const;
    std::wstring LastName() const { return shown.substr(nameStart); }
  };

  // Raises "WHAT PATH: the name is not valid" for a path holding a NUL.
  static void RefuseInvalid(const Resolved& r, const wchar_t* what);
  const std::string& DriveRoot(wchar_t letter);

  // Parses a script path into its drive and the drive form that `Chain::text`
  // would have for it; false when it holds a NUL (the text is still made,
  // for messages).
  bool ParsePath(const std::wstring& path, wchar_t* drive, std::wstring* text);
  Chain& CwdChain(wchar_t drive);
  // The deepest level of `c` whose text starts `text` (at a name boundary).
  static std::size_t MatchLevel(const Chain& c, std::wstring_view text);
  // The levels for the names of `text` past `fromEnd` (which ends at a
  // boundary of `text`), not yet open.
  static std::vector<Level> LevelsOf(std::wstring_view text, std::size_t fromEnd);
  // Appends `levels` to `c`, their names to its texts.
  static void PushLevels(Chain& c, std::vector<Level> levels);
  // Cuts `c` after `level`.
  static void KeepLevels(Chain& c, std::size_t level);
  // The chain and level that hold the directory named by `text` (a parsed
  // path of `drive`), using a spare chain when the current directory's
  // chain does not reach it.
  std::pair<Chain*, std::size_t> ChainFor(wchar_t drive, std::wstring_view text);
  // The level's directory, opened (with the levels above it as needed) when
  // it is not open; null with errno set when it cannot be reached.
  DirRef LevelDir(Chain& c, std::size_t level);
  DirRef OpenLevels(const DirRef& base, Level* first, std::size_t count, bool* respelt);
  // Opens `rel` below `dirFd` as a directory held open; `known` is its
  // status where a listing told it. For one name, *physical tells whether
  // it is a directory itself rather than a link to one. Null with errno set
  // on failure.
  DirRef OpenDirAt(int dirFd, const char* rel, const Status* known, bool* physical = nullptr);
  // A descriptor to read the entries of `dir` from, at the first entry:
  // the directory's own, or one opened into `own`; -1 when it cannot be read.
  int ReadFd(OpenDir& dir, Fd* own);
  // The mode of a directory held open, asked again only after this object
  // changed the mode of some directory.
  mode_t ModeOf(OpenDir& dir);
  static void RebuildShown(Chain& c);
  // Closes the directories of chains beyond what the descriptor limit lets
  // this object keep.
  void Trim();
  void ReleaseLevels(std::size_t keepDeep, std::size_t stride);

  // Makes the current directory of `cwd`'s drive the directory of level
  // `shared` with the levels `below` under it, once they are open; false
  // with errno set when one cannot be opened.
  bool MoveCwd(Chain& cwd, std::size_t shared, std::vector<Level> below);
  // A path that names the directory of a chain (`self`) or the entry `name`
  // in it: the current directory, or the last directory of a spare chain.
  struct Near {
    Chain* chain = nullptr;
    wchar_t drive = L'Z';
    bool self = false;
    std::wstring_view name;
  };
  bool NearChain(const std::wstring& path, Near* near);
  Resolved Resolve(const std::wstring& path);
  // The status of `name` in the directory `dirFd` without following a link.
  static bool StatEntry(int dirFd, const char* name, Status* st);
  // Fills r.exists and r.st: from a listing when one holds the entry,
  // otherwise by asking the system, looking the name up without regard to
  // case when it is not spelt as on disk.
  void Stat(Resolved& r);
  // Looks the entry's name up without regard to case before something is
  // created there: false when no entry of that name exists; otherwise
  // r.name is the name as spelt on disk and r.st its status.
  bool ExistsNoCase(Resolved& r);
  // Looks `name` up without regard to case in the directory `dir`; the
  // name as spelt on disk, or empty when there is none.
  std::wstring LookupNoCase(const DirRef& dir, const std::wstring& name);
  // Keeps the listings and the case index in step with a change this
  // object made to the entry `name` of `dir`.
  void NoteCreated(const Resolved& r);
  void NoteChanged(const Resolved& r);
  void NoteRemoved(const Resolved& r, bool directory);
  Listing* ListingOf(const DirRef& dir);
  std::string HostOf(const Resolved& r);

  // Find's work; `strict` for FindOrFail.
  std::vector<platform::FindEntry> FindIn(const std::wstring& dirPart, const std::wstring& last, bool strict);

  std::string prefix_;
  bool prefixChecked_ = false;
  bool prefixFailed_ = false;
  wchar_t currentDrive_ = L'Z';
  std::map<wchar_t, std::string> drives_;
  // The drives that exist, with their roots, for DriveFormOf; and the
  // status of dosdevices when they were read.
  void LoadDriveTable();
  bool driveTableLoaded_ = false;
  std::vector<std::pair<wchar_t, std::string>> driveTable_;
  ino_t devicesIno_{};
  timespec devicesMtime_{};

  std::map<wchar_t, Chain> cwd_;  // the current directory of each drive used so far
  Chain spare_[2];                // the directories of other paths, the older one reused first
  unsigned long uses_ = 0;
  // Directories held open and how many may be.
  std::size_t openDirs_ = 0;
  std::size_t maxOpenDirs_ = 0;  // found on the first need
  std::size_t trimAt_ = 64;      // how many may be open before Trim looks
  // Counts the directories this object removed: a directory held open since
  // before a removal may have been the one removed. The removed ones whose
  // identity was known are noted; after one whose identity was not, every
  // directory held open is asked whether it is still there.
  unsigned long removals_ = 0;
  unsigned long blindRemoval_ = 0;
  std::unordered_map<DirId, unsigned long, DirIdHash> removedIds_;
  // Counts the changes of a directory's mode made here.
  unsigned long dirModeChanges_ = 0;
  std::unordered_map<DirId, Listing, DirIdHash> listings_;
  std::unordered_map<DirId, DirIndex, DirIdHash> dirIndex_;
  std::vector<char> buffer_;
  mode_t umask_ = 022;
};

class WindowsView::OpenDir {
 public:
  // Takes over `fd`, a directory opened for reading (`readable`) or, where
  // it may not be read, with O_PATH; `mode` is its mode as seen now.
  OpenDir(WindowsView& owner, int fd, DirId id, mode_t mode, bool readable);
  ~OpenDir();
  OpenDir(const OpenDir&) = delete;
  OpenDir& operator=(const OpenDir&) = delete;

  const int fd;
  const DirId id;
  const bool readable;
  bool atStart = true;  // the read position is at the first entry
  // The count of removals when the directory was last known to be there.
  unsigned long stamp;
  // Its mode, as of the count of directory mode changes in modeStamp.
  mode_t mode;
  unsigned long modeStamp;

 private:
  WindowsView& owner_;
};

// Pieces shared by the parts of the file system.
namespace fs {

// Reads the entries of a directory from a descriptor opened for reading
// and positioned at its start (the descriptor stays open).
class DirReader {
 public:
  explicit DirReader(int fd) : fd_(fd) {}
  DirReader(const DirReader&) = delete;
  DirReader& operator=(const DirReader&) = delete;
  // The next entry, "." and ".." among them; null at the end or when the
  // directory cannot be read.
  const struct dirent64* Next();

 private:
  int fd_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  alignas(struct dirent64) char buf_[32768];
};

inline bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

using platform::path::HasDrive;
using platform::path::HasNul;
using platform::path::IsLetter;
using platform::path::IsSep;
using platform::path::kInvalidName;
using platform::path::SplitLast;
using platform::path::UpperLetter;

std::string JoinHost(const std::string& dir, const std::string& name);
// Case-insensitive name order, ties broken by the exact spelling so that the
// order is total.
bool NameLess(const std::wstring& a, const std::wstring& b);

}  // namespace fs

}  // namespace posix
