// The file and directory operations behind rd, cd, md, DelFile, DelDir,
// IsFileExists, IsDirExists, XCopy and Copy. They work through the current
// drive and the current directory of each drive, which several of them
// change on purpose.
#include <cstdint>
#include <string>
#include <vector>

#include "forms/Forms.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "utility/CSystemHelper.h"
#include "utility/Strings.h"
#include "utility/Utility.h"

namespace Utility {

namespace {

using platform::FindEntry;
using platform::Fs;

enum class MatchClass { PlainFiles, PlainFilesOrDirs };

bool InClass(std::uint32_t a, MatchClass c) {
  if ((a & platform::kAttrNotPlain) == 0) return true;
  return c == MatchClass::PlainFilesOrDirs && (a & platform::kAttrDirectory) != 0 &&
         (a & (platform::kAttrHidden | platform::kAttrSystem)) == 0;
}

// Does a directory search for `path` give at least one entry of the class?
bool MatchTest(const std::wstring& path, MatchClass c) {
  for (const FindEntry& e : Fs().Find(path))
    if (InClass(e.attributes, c)) return true;
  return false;
}

bool IsDots(const std::wstring& name) { return name == L"." || name == L".."; }
// A directory that a tree operation may enter: a symbolic link to a
// directory carries the reparse-point bit and is handled as a file.
bool IsTreeDir(std::uint32_t a) {
  return (a & platform::kAttrDirectory) != 0 && (a & platform::kAttrReparsePoint) == 0;
}
bool IsDirEntry(const FindEntry& e) { return IsTreeDir(e.attributes); }
bool IsDriveRoot(const std::wstring& dir) { return dir.size() == 3 && dir[1] == L':' && dir[2] == L'\\'; }
bool HasDriveColon(const std::wstring& path) { return path.find(L':') == 1; }

// A tree deletion works only on a real directory: a symbolic link, even one
// to a directory, is never entered.
bool IsRealDirectory(const std::wstring& path) {
  std::uint32_t a = Fs().GetAttributes(path);
  return a != platform::kInvalidAttributes && IsTreeDir(a);
}

// Clears the attributes of a listed file before it is deleted (so that
// read-only, hidden and system files go too); a file that has none of them
// is left as it is.
void ClearAttributes(const FindEntry& e, const std::wstring& path) {
  constexpr std::uint32_t kClearable = platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem;
  if ((e.attributes & kClearable) != 0) Fs().SetAttributes(path, 0);
}

// Whether `path` is the existing directory `dir` or lies below it, whatever
// the spelling and the links on the way. Its parents are asked for by
// appending "..", which the file system resolves by name; a parent that
// does not exist yet is no directory that anything lies in.
bool IsWithin(const std::wstring& path, const std::wstring& dir) {
  std::wstring p = path;
  // One step for each separator reaches the root at the latest.
  for (wchar_t c : path + L"\\") {
    if (c != L'\\' && c != L'/') continue;
    if (Fs().SameFile(p, dir)) return true;
    const std::wstring up = p + L"\\..";
    if (Fs().SamePlace(up, p)) return false;
    p = up;
  }
  return false;
}

}  // namespace

bool IsFileExists(std::wstring path) {
  if (IsQuoted(path)) path = StripQuotes(path);
  if (path.empty()) return false;
  return MatchTest(path, MatchClass::PlainFiles);
}

bool IsDirExists(const std::wstring& path) { return MatchTest(path, MatchClass::PlainFilesOrDirs); }

bool DelFile(const std::wstring& path) {
  if (!IsFileExists(path)) return false;
  Fs().RemoveMatching(IsQuoted(path) ? StripQuotes(path) : path);
  return true;
}

bool RemoveDir(const std::wstring& path) {
  try {
    if (!IsDirExists(path)) return false;
    Fs().RemoveDir(path);
    return true;
  } catch (const VslError&) {
    return false;
  }
}

bool ChangeDir(std::wstring path) {
  if (IsQuoted(path)) path = StripQuotes(path);
  try {
    Fs().ChangeDrive(path.substr(0, 2));
    Fs().ChangeDir(path);
    return true;
  } catch (const VslError&) {
    return false;
  }
}

bool MakeDir(const std::wstring& path) {
  if (!IsDirExists(path)) Fs().CreateDir(path);
  return true;
}

void MakeDirPath(std::wstring& path) {
  if (IsQuoted(path)) path = StripQuotes(path);
  CSystemHelper().CreatePath(path);
}

bool DelTree(std::wstring path) {
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  // Only what lies inside a directory is deleted: never a whole drive.
  if (path.empty() || (path.size() == 2 && path[1] == L':')) return false;
  if (const std::uint32_t a = Fs().GetAttributes(path); a != platform::kInvalidAttributes && !IsTreeDir(a))
    throw VslError(L"Cannot delete the directory tree " + path + L": it is not a directory");
  Fs().ChangeDir(path);
  if (IsDriveRoot(Fs().CurrentDir())) return false;

  // Depth first, one level per directory being emptied: the directory's
  // name as it was entered (the path, then bare names relative to the level
  // above), its entries and its answer so far. The levels live on the heap,
  // so the depth of the tree costs no stack.
  struct Level {
    std::wstring name;
    std::vector<FindEntry> entries;
    std::size_t next = 0;
    bool result = false;
  };
  std::vector<Level> levels;
  levels.push_back({path, Fs().Find(L"*")});
  // The answer is the last entry's: the entries before it may go as a whole
  // where the file system can do that (an atomic run moves them aside).
  auto isLast = [](const Level& level) {
    for (std::size_t i = level.next; i < level.entries.size(); ++i)
      if (!IsDots(level.entries[i].name)) return false;
    return true;
  };
  while (true) {
    Level& level = levels.back();
    if (level.next < level.entries.size()) {
      const FindEntry& e = level.entries[level.next++];
      if (IsDots(e.name)) continue;
      if (IsDirEntry(e)) {
        if (!isLast(level) && Fs().RemoveWhole(e.name)) {
          Dialogs::DoEvents();
          continue;
        }
        // Its answer becomes this level's result once it is removed.
        const std::wstring name = e.name;
        Fs().ChangeDir(name);
        levels.push_back({name, Fs().Find(L"*")});
        continue;
      }
      if (!Fs().RemoveWhole(e.name)) {
        ClearAttributes(e, e.name);
        Fs().RemoveFile(e.name);
      }
      level.result = true;
      Dialogs::DoEvents();
      continue;
    }
    Fs().ChangeDir(L"..");
    Fs().RemoveDir(level.name);
    const bool result = level.result;
    levels.pop_back();
    if (levels.empty()) return result;
    levels.back().result = result;
    Dialogs::DoEvents();
  }
}

namespace {

// Makes the directory `path` (a full path) current for DelDirTree: false,
// deleting nothing, when it is no real directory, when the directory made
// current is not that path compared without case (a relative path, another
// drive, another spelling) or when it is a drive's root.
bool EnterForDeletion(std::wstring& path) {
  try {
    if (!IsRealDirectory(path)) return false;
  } catch (const VslError&) {
    return false;  // no such drive: ChDirConfirm would answer False as well
  }
  if (!ChDirConfirm(path)) return false;
  return !IsDriveRoot(Fs().CurrentDir());
}

}  // namespace

bool DelDirTree(std::wstring& path) {
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  if (path.empty()) return false;
  if (!EnterForDeletion(path)) return false;
  // The current directory equals the path but for case; it is the spelling
  // found on disk, so the full paths below name exactly the entries listed.
  // Every entry handled ends back in it, so it is asked for where it is
  // needed rather than kept: a deep tree would otherwise hold one more copy
  // of a full path on every level. The levels being emptied, each with its
  // entries, live on the heap, so the depth of the tree costs no stack.
  struct Level {
    std::vector<FindEntry> entries;
    std::size_t next = 0;
  };
  std::vector<Level> levels;
  levels.push_back({Fs().Find(L"*")});
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next < level.entries.size()) {
      const FindEntry& e = level.entries[level.next++];
      if (IsDots(e.name)) continue;
      std::wstring full = Fs().CurrentDir() + L"\\" + e.name;
      if (Fs().RemoveWhole(full)) {
        // Gone at once, a whole tree included (an atomic run moves it aside).
      } else if (IsDirEntry(e)) {
        // A subdirectory that cannot be entered so is left alone.
        if (EnterForDeletion(full)) {
          levels.push_back({Fs().Find(L"*")});
          continue;
        }
      } else {
        ClearAttributes(e, full);
        Fs().RemoveFile(full);
      }
      Dialogs::DoEvents();
      continue;
    }
    const std::wstring here = Fs().CurrentDir();
    Fs().ChangeDir(L"..");
    Fs().RemoveDir(here);
    levels.pop_back();
    if (!levels.empty()) Dialogs::DoEvents();
  }
  return false;
}

bool ChDirConfirm(std::wstring& path) {
  try {
    Fs().ChangeDir(path);
    // Both are compared in their case-folded form, and the caller's string
    // is left so.
    std::wstring current = text::Fold(Fs().CurrentDir());
    path = text::Fold(path);
    return current == path;
  } catch (const VslError&) {
    return false;
  }
}

bool xCopy(std::wstring src, std::wstring tgt, const bool& bDoEvents) {
  const std::wstring remembered = Fs().CurrentDir();
  try {
    if (!HasDriveColon(src)) src = remembered + L"\\" + src;
    if (!MatchTest(src, MatchClass::PlainFilesOrDirs)) {
      Dialogs::MsgBox(src + L" does not exist.", L"", platform::MessageIcon::Exclamation);
      return false;
    }
    std::uint32_t a = Fs().GetAttributes(src);
    if (a == platform::kInvalidAttributes) throw VslError(L"Cannot read the attributes of " + src);
    if (!IsTreeDir(a)) {
      Dialogs::MsgBox(src + L" is not a directory.", L"", platform::MessageIcon::Exclamation);
      return false;
    }
    if (!HasDriveColon(tgt)) tgt = remembered + L"\\" + tgt;
    if (IsWithin(tgt, src)) throw VslError(L"Cannot copy " + src + L" into itself");
    Fs().ChangeDrive(src.substr(0, 2));
  } catch (const VslError&) {
    Dialogs::MsgBox(L"Error xCopy : SRC = " + src + L" TGT = " + tgt);
    return false;
  }
  xCopyFile(src, tgt, bDoEvents);
  ChangeDir(remembered);
  return true;
}

bool xCopyFile(const std::wstring& src, const std::wstring& tgt, const bool& bDoEvents) {
  // One level per directory being copied, on the heap, so the depth of the
  // tree costs no stack: its entries, and where its source and target end
  // in the two paths below, which grow and shrink with the walk.
  struct Level {
    std::vector<FindEntry> entries;
    std::size_t next = 0;
    std::size_t srcEnd = 0;
    std::size_t tgtEnd = 0;
  };
  std::vector<Level> levels;
  std::wstring from = src;
  std::wstring to = tgt;

  // Enters the level whose source and target `from` and `to` are now. A
  // failure at any step of it shows its message and abandons the level:
  // back in the caller's directory, whose remaining entries are still
  // copied from there.
  auto enter = [&]() {
    bool entered = false;
    try {
      if (bDoEvents) Dialogs::DoEvents();
      Fs().ChangeDir(from);
      entered = true;
      // Listed before the target is made: a source that cannot be read is
      // not copied as an empty directory.
      std::vector<FindEntry> entries = Fs().FindOrFail(L"*");
      if (!IsDirExists(to) && HasDriveColon(to) && to.size() > 3) Fs().CreateDir(to);
      // A link is never written through, wherever it leads: it fails this
      // level. A plain file there is no directory to copy into, and each of
      // the copies below fails on its own.
      if (const std::uint32_t a = Fs().GetAttributes(to);
          a != platform::kInvalidAttributes && (a & platform::kAttrReparsePoint) != 0)
        throw VslError(L"Cannot copy into " + to + L": it is a link");
      levels.push_back({std::move(entries), 0, from.size(), to.size()});
      return true;
    } catch (const VslError&) {
      if (entered) {
        try {
          Fs().ChangeDir(L"..");
        } catch (const VslError&) {
        }
      }
      Dialogs::MsgBox(L"Error xCopyFile : SRC = " + from + L" TGT = " + to);
      return false;
    }
  };

  if (!enter()) return false;
  bool result = true;
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.entries.size()) {
      // The level is done: back to its parent, which goes on with its next
      // entry.
      const std::size_t srcEnd = level.srcEnd, tgtEnd = level.tgtEnd;
      levels.pop_back();
      try {
        Fs().ChangeDir(L"..");
      } catch (const VslError&) {
        Dialogs::MsgBox(L"Error xCopyFile : SRC = " + from.substr(0, srcEnd) + L" TGT = " + to.substr(0, tgtEnd));
        if (levels.empty()) result = false;  // the top level failed
      }
      continue;
    }
    const FindEntry& e = level.entries[level.next++];
    if (IsDots(e.name)) continue;
    if (IsDirEntry(e)) {
      from.resize(level.srcEnd);
      to.resize(level.tgtEnd);
      if (from.empty() || from.back() != L'\\') from.push_back(L'\\');
      from += e.name;
      to += L"\\" + e.name;
      enter();
      continue;
    }
    // A file that cannot be copied (a read-only or locked target) is
    // skipped without a word.
    try {
      Fs().CopyWholeFile(e.name, to.substr(0, level.tgtEnd) + L"\\" + e.name);
    } catch (const VslError&) {
    }
  }
  return result;
}

bool GuardedCopy(const std::wstring& src, const std::wstring& tgt) {
  try {
    if (!MatchTest(src, MatchClass::PlainFiles))
      throw VslError(L"File " + src + L" could not be located", 101);
    Fs().Open(src, platform::OpenMode::Read);
    // The target must be open for writing, but the probe must not cut it:
    // the target may be the source itself. Spelt in another case or by
    // another relative path, that is a failure here; reached through a link
    // or another hard link, the copy below replaces the link or refuses the
    // same file, and the source keeps its content either way.
    if (Fs().SamePlace(src, tgt)) throw VslError(L"Cannot copy " + src + L" onto itself");
    Fs().Open(tgt, platform::OpenMode::Append);
    Fs().CopyWholeFile(src, tgt);
    return true;
  } catch (const VslError& e) {
    // A failing copy ends the program on the spot, without a message; the
    // reason travels along for the install log.
    throw ProgramExit(1, e.Description());
  }
}

std::wstring CurrentDirectory() { return Fs().CurrentDir(); }

void ChangeDrive(const std::wstring& text) { Fs().ChangeDrive(text); }

void ChangeDirectory(const std::wstring& path) { Fs().ChangeDir(path); }

}  // namespace Utility
