// The operating-system interface. Everything above platform/ reaches the
// machine only through the classes below; a backend for each operating
// system (posix/, win32/) implements them. The shapes follow the Windows
// concepts the interpreter relies on: drives with a current directory each,
// file attributes, the registry calls and their return codes, modal and
// modeless dialogs, letting window messages through.
//
// Failures that the interface does not turn into a return value are raised
// as VslError with a description that names the object and the reason.
// Names avoid the identifiers that <windows.h> defines as macros.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Error.h"

namespace platform {

// ---------------------------------------------------------------------------
// File system
// ---------------------------------------------------------------------------

// File attribute bits, as Windows defines them.
constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrHidden = 0x02;
constexpr std::uint32_t kAttrSystem = 0x04;
constexpr std::uint32_t kAttrVolume = 0x08;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrArchive = 0x20;
constexpr std::uint32_t kAttrNormal = 0x80;
// A symbolic link. A link to a directory carries kAttrDirectory as well; the
// tree operations never enter or follow an entry with this bit.
constexpr std::uint32_t kAttrReparsePoint = 0x400;
constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;
// The bits that keep an entry from counting as a plain file.
constexpr std::uint32_t kAttrNotPlain = kAttrDirectory | kAttrHidden | kAttrSystem | kAttrVolume;

// One entry of a directory search.
struct FindEntry {
  std::wstring name;           // the entry's name, no directory part
  std::uint32_t attributes{};  // kAttr... bits
};

// How File::Open opens a file.
enum class OpenMode {
  Read,      // existing file, sequential reading
  Write,     // create or cut to zero length; fails on a read-only file
  Append,    // create or extend; fails on a read-only file
  // Creates a new file that only its owner may read and write (mode 0600
  // on POSIX), for plain text that others must not see in a shared
  // directory. Fails when anything of that name exists, a link included, so
  // it never writes into a file or through a link that someone else put
  // there. On Windows the file gets the access rights that its directory
  // hands down (a user's temporary directory is private to that user).
  CreatePrivate,
};

class File {
 public:
  virtual ~File() = default;  // closes the file
  // Reads everything from the current position to the end.
  virtual std::string ReadAll() = 0;
  // Reads up to `size` bytes from the current position: how many came, 0
  // at the end.
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
  virtual void Write(const std::string& bytes) = 0;
};

// What the undo journal of an atomic run notes of an entry before it changes
// it, to put it back as it was and to know it again.
struct EntryStamp {
  bool exists = false;
  bool directory = false;      // a real directory, not a link to one
  bool readOnly = false;       // the read-only attribute of a file
  std::uint64_t volume = 0;    // the file system the entry lies on
  std::uint64_t identity = 0;  // the file itself on that file system (inode, file index)
  std::uint64_t size = 0;
  std::int64_t modified = 0;       // modification time, in the platform's own units
  std::uint32_t permissions = 0;  // permission bits (POSIX) or attributes (Windows)
};

// A file that this process holds locked while it has it open, so that
// another process can tell that its owner is alive (the journal of an atomic
// run). The lock goes with the process: a killed process holds nothing.
class LockedFile {
 public:
  virtual ~LockedFile() = default;  // unlocks and closes
  // Everything the file holds.
  virtual std::string ReadAll() = 0;
  // Appends `bytes` in one write, straight to the operating system: a
  // process killed after this returns has them in the file. With `durable`
  // the call returns only once they are on the disk.
  virtual void Append(const std::string& bytes, bool durable) = 0;
};

// Paths are script paths: "C:\x\y", "C:x", "\x", "/x", "x\y", with '\' and
// '/' both separating components. Relative paths resolve against the
// current directory of the current drive (or of the named drive for "C:x").
//
// A path that holds a NUL character names no file: the operating system
// would read it only up to the NUL and reach another file. Every call
// treats such a path as an invalid name: a search finds nothing, the
// attributes are kInvalidAttributes, and whatever would open, create,
// change or delete something fails.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Makes the drive named by the first character of `text` current. An empty
  // text changes nothing; a letter that names no available drive fails.
  virtual void ChangeDrive(const std::wstring& text) = 0;
  // Sets the current directory of the drive the path names (the current
  // drive when it names none); the current drive stays. ".." is the parent.
  // Fails when the directory does not exist.
  virtual void ChangeDir(const std::wstring& path) = 0;
  // Full drive-form path of the current directory of the current drive,
  // e.g. "Z:\home\a" or "C:\" for a root.
  virtual std::wstring CurrentDir() = 0;

  // Directory search in the manner of FindFirstFile/FindNextFile. The last
  // component of `pattern` may hold * and ? (matched case-insensitively,
  // Windows rules: "*.*" also matches names without a dot); a pattern that
  // ends in a separator lists that directory as "*" would. The entries come
  // in the order of the platform's search. "." and ".." are listed where the
  // platform lists them, with the attributes of the directories they name.
  // Entries whose names cannot be one component of a script path (holding
  // a backslash or ':', or ending in a dot or a space) are left out.
  // A directory that does not exist gives an empty list; a drive that does
  // not exist fails.
  virtual std::vector<FindEntry> Find(const std::wstring& pattern) = 0;
  // Find for a tree operation, which must not take a directory that it
  // cannot read for an empty one: the same entries, but a directory that
  // does not exist or cannot be listed (no permission, a path too long for
  // the system) fails with a description naming it and the reason.
  virtual std::vector<FindEntry> FindOrFail(const std::wstring& pattern) = 0;

  // kInvalidAttributes when nothing of that name exists.
  virtual std::uint32_t GetAttributes(const std::wstring& path) = 0;
  // Whether `path` names a file that holds data of its own: not a
  // directory, a link, a device, a pipe or a socket. False when nothing of
  // that name exists.
  virtual bool IsRegularFile(const std::wstring& path) = 0;
  // Sets the attributes that the platform can represent (read-only at
  // least). Fails when the file does not exist.
  virtual void SetAttributes(const std::wstring& path, std::uint32_t attributes) = 0;

  // Creates one directory whose parent exists; fails otherwise (also when it
  // exists already).
  virtual void CreateDir(const std::wstring& path) = 0;
  // Removes one empty directory; fails otherwise.
  virtual void RemoveDir(const std::wstring& path) = 0;
  // Deletes one file (a symbolic link is deleted as a link). Fails for a
  // read-only file, a directory or a missing file.
  virtual void RemoveFile(const std::wstring& path) = 0;
  // Deletes every plain file (not hidden, not system, not a directory) that
  // matches `pattern` (wildcards allowed in the last component). Fails on the
  // first file that cannot be deleted, read-only files included.
  virtual void RemoveMatching(const std::wstring& pattern) = 0;
  // Copies a whole file over `target`, replacing a file of that name; the
  // copy keeps the source's attributes. A symbolic link is copied as a link.
  // Fails for a missing source, a read-only target or a missing target
  // directory.
  virtual void CopyWholeFile(const std::wstring& source, const std::wstring& target) = 0;
  // Opens a file; fails with a description naming the file and the reason.
  virtual std::unique_ptr<File> Open(const std::wstring& path, OpenMode mode) = 0;

  // Reads a whole text file in the platform's encoding (UTF-8 on POSIX,
  // where a byte that starts no valid sequence becomes U+FFFD; the ANSI code
  // page on Windows). A UTF-8 byte order mark at the start is skipped.
  virtual std::wstring ReadTextFile(const std::wstring& path) = 0;
  // Appends `text` and the platform's line end (LF on POSIX, CR LF on
  // Windows) to a file in the platform's encoding, creating the file.
  virtual void AppendTextLine(const std::wstring& path, const std::wstring& text) = 0;

  // Whether two paths name the same place once resolved (drive, current
  // directory, ".." and the spelling of names), without following links.
  virtual bool SamePlace(const std::wstring& a, const std::wstring& b) = 0;
  // Whether two paths reach the same existing file, following links (a
  // symbolic link to it, a hard link, another spelling of the name); false
  // when either does not exist.
  virtual bool SameFile(const std::wstring& a, const std::wstring& b) = 0;
  // Whether this process may create entries in the directory `dir`. This
  // asks the operating system's permissions (ownership, groups,
  // administrator rights), not the read-only attribute.
  virtual bool CanCreateIn(const std::wstring& dir) = 0;

  // Deletes a file, a link or a whole directory tree at once, where this
  // file system can do that without visiting the tree's entries and without
  // regard to their attributes (the journal of an atomic run moves it
  // aside). False, with nothing done, when it cannot: the caller then
  // deletes entry by entry.
  virtual bool RemoveWhole(const std::wstring& path) {
    (void)path;
    return false;
  }

  // ---- What the undo journal of an atomic run needs ----
  // The full drive-form path, names spelt as on disk where they exist
  // ("Z:\home\a\File.txt").
  virtual std::wstring FullPath(const std::wstring& path);
  // The entry's stamp, without following a link; `exists` false when there
  // is nothing of that name.
  virtual EntryStamp Stamp(const std::wstring& path);
  // Renames the entry `from` (a file, a link or a whole directory tree,
  // which keeps its identity, content, permissions and times) to `to`,
  // where nothing may exist yet. False, with nothing changed, when the two
  // lie on different file systems; other failures are raised.
  virtual bool MoveEntry(const std::wstring& from, const std::wstring& to);
  // Gives a file back the size (cutting what was added), the permissions
  // and the modification time of `stamp`, as Stamp gave them.
  virtual void RestoreStamp(const std::wstring& path, const EntryStamp& stamp);
  // Whether two different plain files hold the same bytes (links are never
  // followed: a link is no plain file; a file is not a copy of itself).
  virtual bool SameContent(const std::wstring& a, const std::wstring& b);
  // Gives `target`, which holds the bytes of `source` already, what
  // CopyWholeFile would give it besides them (permissions or attributes,
  // the modification time), without writing its content.
  virtual void CopyStamp(const std::wstring& source, const std::wstring& target);
  // Deletes a file, a link or a whole directory tree whatever the
  // attributes of its entries, never entering a link; nothing there is no
  // failure.
  virtual void RemoveTree(const std::wstring& path);
  // Opens the file (creating it with `create`, readable by its owner only)
  // and locks it for this process. Null when another process holds it
  // locked or when it is no longer at `path` once locked; other failures
  // are raised.
  virtual std::unique_ptr<LockedFile> OpenLocked(const std::wstring& path, bool create);
};

// ---------------------------------------------------------------------------
// Registry (HKEY_LOCAL_MACHINE only)
// ---------------------------------------------------------------------------

using RegKey = std::uintptr_t;
constexpr RegKey kHKeyLocalMachine = 0x80000002u;

// Return codes of the registry calls, as Windows defines them.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;
constexpr long kErrorUnsupportedType = 1630;

// Value types.
constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

// Access rights.
constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kKeyWrite = 0x20006;

// The advapi32 registry calls. Key and value names are case-insensitive and
// case-preserving; "" names a key's default value. Strings cross as the
// platform's narrow text (UTF-8 on POSIX, the ANSI code page on Windows).
class Registry {
 public:
  virtual ~Registry() = default;
  // RegOpenKeyEx: opens an existing key below `parent`; "" opens `parent`
  // itself again.
  virtual long OpenKey(RegKey parent, const std::wstring& subKey, std::uint32_t access, RegKey* result) = 0;
  // RegCreateKey: opens the key, creating it and every missing key above it.
  virtual long CreateKey(RegKey parent, const std::wstring& subKey, RegKey* result) = 0;
  // RegQueryValueEx: `data` may be null to ask only for type and size. On
  // entry *size is the buffer size in bytes, on return the size of the data;
  // kErrorMoreData when the buffer is too small (data then undefined).
  // String data is returned with its terminating NUL byte.
  virtual long QueryValue(RegKey key, const std::wstring& name, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* size) = 0;
  // RegSetValueEx: stores `size` bytes of `data` with the given type.
  virtual long SetValue(RegKey key, const std::wstring& name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t size) = 0;
  // A REG_SZ value read as RegQueryValueEx reads it into a buffer of
  // `bufferBytes` bytes: the text in the platform's encoding with its NUL
  // must fit (kErrorMoreData otherwise); a value of another type gives
  // kErrorUnsupportedType. The text is converted from the platform's
  // encoding here.
  virtual long QueryString(RegKey key, const std::wstring& name, std::uint32_t bufferBytes, std::wstring* text) = 0;
  // Stores `text` as a REG_SZ value in the platform's encoding, with its NUL.
  virtual long SetString(RegKey key, const std::wstring& name, const std::wstring& text) = 0;
  // RegEnumValue: the value at `index` of the key, with its name, type and
  // data (string data with its NUL, as stored); kErrorNoMoreItems past the
  // last value. The order is the platform's; on POSIX case-insensitive name
  // order.
  virtual long EnumValue(RegKey key, std::uint32_t index, std::wstring* name, std::uint32_t* type,
                         std::vector<std::uint8_t>* data) = 0;
  // The platform's encoding of registry text, in which string values are
  // stored (UTF-8 on POSIX, the ANSI code page on Windows), without the
  // terminating NUL; for values whose type SetString does not write.
  virtual std::string EncodeText(const std::wstring& text) = 0;
  virtual std::wstring DecodeText(std::string_view bytes) = 0;
  // RegEnumKeyEx: the name of the subkey at `index` in case-insensitive name
  // order. `capacity` is the name buffer's size in characters including the
  // terminator: a longer name gives kErrorMoreData. kErrorNoMoreItems past
  // the last subkey.
  virtual long EnumKey(RegKey key, std::uint32_t index, std::uint32_t capacity, std::wstring* name) = 0;
  // RegDeleteKey: deletes a key that has no subkeys; a key with subkeys is
  // refused (kErrorAccessDenied).
  virtual long DeleteKey(RegKey parent, const std::wstring& subKey) = 0;
  // RegDeleteValue.
  virtual long DeleteValue(RegKey key, const std::wstring& name) = 0;
  // RegCloseKey.
  virtual long CloseKey(RegKey key) = 0;
  // Runs `work` so that its changes take effect together or not at all
  // where the platform can promise that (one database transaction on
  // POSIX); an exception from `work` undoes them there and passes on. The
  // Windows registry has no such promise: the changes made before the
  // exception stay.
  virtual void Transact(const std::function<void()>& work) = 0;

  // ---- What the undo journal of an atomic run needs ----
  // Whether the registry keeps undo records itself, committed in the same
  // transaction as the change each one undoes (the database on POSIX). The
  // Windows registry cannot: the journal keeps them there.
  virtual bool KeepsUndoRecords() { return false; }
  // Stores `record` for the run `run` as number `sequence`, inside the
  // transaction of the Transact call that makes its change.
  virtual void AddUndoRecord(const std::string& run, std::int64_t sequence, const std::string& record);
  // The records kept for `run`, in order of their numbers.
  virtual std::vector<std::pair<std::int64_t, std::string>> UndoRecords(const std::string& run);
  // Removes the record `sequence` of `run`, or all of them for a negative
  // number; inside Transact it goes with that transaction.
  virtual void DropUndoRecords(const std::string& run, std::int64_t sequence);
  // Where this registry's data lies (its database file), "" for the
  // machine's own; and another registry at such a place, for finishing the
  // work of a run that used it.
  virtual std::wstring Location() { return {}; }
  virtual std::unique_ptr<Registry> OpenAt(const std::wstring& location);
  // Runs `work`, which only reads, against one unchanging view of the
  // registry where the platform offers one (one read transaction on POSIX,
  // which also spares every call its own locking); elsewhere it simply runs.
  virtual void Snapshot(const std::function<void()>& work) { work(); }
};

// Owns an open key and closes it.
class KeyHandle {
 public:
  explicit KeyHandle(Registry& registry) : registry_(registry) {}
  ~KeyHandle() { Reset(); }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  RegKey* Out() { Reset(); return &key_; }
  RegKey Get() const { return key_; }
  explicit operator bool() const { return key_ != 0; }
  void Reset() {
    if (key_ != 0) registry_.CloseKey(key_);
    key_ = 0;
  }

 private:
  Registry& registry_;
  RegKey key_ = 0;
};

// ---------------------------------------------------------------------------
// Processes and shared libraries
// ---------------------------------------------------------------------------

class Processes {
 public:
  virtual ~Processes() = default;
  // Starts `program` (a script path, or a bare name searched on the PATH)
  // with the argument string `arguments`, split by the Windows command-line
  // rules, in the current directory of the current drive, and waits for it
  // to end while window messages keep flowing. Returns the program's exit
  // status; fails when it cannot be started.
  virtual int Run(const std::wstring& program, const std::wstring& arguments) = 0;
  // Runs `commandLine` through the command interpreter and waits for it:
  // `interpreter` (a script path such as "C:\windows\system32\cmd.exe")
  // started with "/c " and the line on Windows; on POSIX the line goes to
  // /bin/sh -c, the interpreter that takes its place. Returns the exit
  // status; fails when the interpreter cannot be started.
  virtual int RunCommandLine(const std::wstring& interpreter, const std::wstring& commandLine) = 0;
  // Loads the library `library` and calls its exported registration entry
  // point `entry` (a function without arguments returning a status, as
  // DllRegisterServer is: __stdcall on 32-bit Windows). Returns that
  // status, or nothing when the library cannot be loaded or has no such
  // export. The library is unloaded again before this returns.
  virtual std::optional<long> CallEntryPoint(const std::wstring& library, const char* entry) = 0;
  // Registers the type library in the file `path` (LoadTypeLibEx with
  // registration on Windows). Fails with a description naming the file when
  // it cannot; a platform without type libraries always fails.
  virtual void RegisterTypeLibrary(const std::wstring& path) {
    throw VslError(L"Cannot register the type library " + path +
                   L": type libraries are not supported on this platform");
  }
};

// ---------------------------------------------------------------------------
// User interface
// ---------------------------------------------------------------------------

enum class MessageIcon { None, Exclamation };

// The modeless status dialog with its progress bar and Cancel button.
class StatusWindow {
 public:
  virtual ~StatusWindow() = default;  // closes the window
  virtual void SetRange(int min, int max) = 0;
  virtual void SetValue(int value) = 0;
  virtual void SetStatusText(const std::wstring& text) = 0;
  virtual void Show() = 0;
  // True once the user pressed Cancel (Ctrl-C on a terminal).
  virtual bool IsCancelled() = 0;
  // Current position in twips, for the next status window to open there.
  virtual std::pair<int, int> Position() = 0;
};

class Ui {
 public:
  virtual ~Ui() = default;
  // A modal message box with an OK button.
  virtual void ShowMessage(const std::wstring& title, const std::wstring& text, MessageIcon icon) = 0;
  // The three modal question dialogs.
  virtual bool AskYesNo(const std::wstring& question) = 0;
  virtual std::wstring AskString(const std::wstring& prompt, const std::wstring& initial) = 0;
  virtual void AskOk(const std::wstring& title, const std::wstring& text) = 0;
  // Creates the status window at a position in twips (not shown yet).
  virtual std::unique_ptr<StatusWindow> CreateStatusWindow(int left, int top) = 0;
  // Lets pending window messages through.
  virtual void PumpMessages() = 0;
  // Screen size in twips.
  virtual std::pair<double, double> ScreenSize() = 0;
  // A plain line for a terminal user where the program would otherwise end
  // in silence (standard error on POSIX). A program without a console (the
  // Windows build) shows nothing.
  virtual void ShowNotice(const std::wstring& text) = 0;
  // The exit status of the program when the user insists on ending it at
  // once while a status window is shown (a second Ctrl-C on a terminal).
  virtual void SetAbortExitStatus(int status) = 0;
  // True once the program was asked to stop as Cancel stops it (SIGTERM or
  // SIGHUP on POSIX), whether or not a status window is shown. A dialog
  // whose wait such a request (or a Ctrl-C) ends raises RunCancelled.
  virtual bool StopRequested() { return false; }
};

// ---------------------------------------------------------------------------
// System
// ---------------------------------------------------------------------------

enum class OutputStream { Out, Err };

class System {
 public:
  virtual ~System() = default;
  // The Windows directory without a trailing separator ("C:\windows").
  virtual std::wstring WindowsDir() = 0;
  virtual bool IsWindowsNT() = 0;
  // The temporary directory with its trailing backslash, "" when unknown.
  virtual std::wstring TempDir() = 0;
  // GetTempFileName with unique number 0: creates a new empty file named
  // PREFIX + upper-case hex + ".TMP" in `dir` (never an existing one) and
  // returns its full drive-form path. When all the names of four hex digits
  // are taken (in any case), a name of sixteen random ones follows. Fails,
  // naming the directory, when it cannot.
  virtual std::wstring MakeTempFile(const std::wstring& dir, const std::wstring& prefix) = 0;
  // The command line after the program's name, unsplit.
  virtual std::wstring CommandLineText() = 0;
  // The program's arguments after its name, one string each.
  virtual std::vector<std::wstring> Arguments() = 0;
  // The value of an environment variable; "" when it is not set.
  virtual std::wstring EnvironmentValue(const std::wstring& name) = 0;
  // Where atomic runs keep their journals, in drive form without a trailing
  // separator: journal\ in the prefix on POSIX, %ProgramData%\vsl\journal
  // on Windows. It may not exist yet.
  virtual std::wstring JournalDir() { throw VslError(L"This platform keeps no journal of atomic runs"); }
  // Writes text to the program's standard output or standard error in the
  // console's encoding. A GUI program attaches to the console that started
  // it, and shows the text in a message box when there is none. Text that
  // standard output does not take (a full disk) raises VslError; what
  // standard error does not take is lost.
  virtual void Print(OutputStream stream, const std::wstring& text) = 0;
};

// ---------------------------------------------------------------------------
// The installed platform
// ---------------------------------------------------------------------------

// The pieces in use. Tests install their own (fakes or native pieces); a
// null piece raises VslError when it is asked for.
struct Platform {
  FileSystem* fileSystem = nullptr;
  Registry* registry = nullptr;
  Processes* processes = nullptr;
  Ui* ui = nullptr;
  System* system = nullptr;
};

// Installs `p` (copied) and returns the previous one.
Platform Install(const Platform& p);
const Platform& Current();

FileSystem& Fs();
Registry& Reg();
Processes& Proc();
Ui& UI();
System& Sys();

// Installs `p` for the life of the object, then restores the previous one.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(const Platform& p) : previous_(Install(p)) {}
  ~ScopedPlatform() { Install(previous_); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform previous_;
};

// The operating system's own pieces, owned together. Created once by the
// program's entry point with its arguments.
class NativePlatform {
 public:
  virtual ~NativePlatform() = default;
  virtual Platform Pieces() = 0;
};
std::unique_ptr<NativePlatform> CreateNative(int argc, char** argv);

}  // namespace platform
