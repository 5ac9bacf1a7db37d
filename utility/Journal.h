// The undo journal of an atomic run. Before the run changes a file, a
// directory or a registry value, the journal notes how to put it back: what
// is deleted or replaced is renamed into a saved area on its own file
// system, and a record of it is written out first. Undoing goes through the
// records in reverse order; every step is safe to repeat, so a rollback that
// is itself interrupted can be finished later.
//
// The journal file lies in the journal directory (journal\ in the POSIX
// prefix, %ProgramData%\vsl\journal on Windows) as RUN.journal, one JSON
// record a line, held locked by the process whose run it is. Saved entries
// go into the directory RUN beside it, or, for entries on another file
// system, into a hidden directory .vsl-undo-RUN in their own parent. Where
// the registry can keep undo records in the transaction of the change itself
// (the database on POSIX), they are kept there instead of in the file.
//
// The journal works on the pieces of the platform it is given (the
// machine's own), never on the journaling pieces that scripts see.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Platform.h"

namespace Utility {

// A registry value as the journal keeps it.
struct SavedValue {
  std::wstring name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// What a rollback did.
struct RollbackReport {
  int undone = 0;                    // changes put back
  std::vector<std::wstring> failed;  // the changes that could not be, one description each
  int notUndoable = 0;               // programs and entry points the run started
};

class Journal {
 public:
  using Json = nlohmann::ordered_json;

  // Starts the journal of a new run of `script`, locked for this process.
  Journal(const platform::Platform& native, const std::wstring& script);
  // A journal that is neither committed nor rolled back stays where it is,
  // as a killed run's does.
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  const platform::Platform& Native() const { return native_; }

  // ---- Files ----
  // Moves an existing entry (a file, a link or a whole tree; `fullPath` as
  // FullPath gives it) aside, noting that it was removed (`replaced` false)
  // or is about to be replaced by a new file of the same name. False when
  // it cannot be moved aside as a whole (a directory that is a mount point)
  // and nothing was changed.
  bool SaveAside(const std::wstring& fullPath, const platform::EntryStamp& stamp, bool replaced);
  // Notes that `path` is about to be created (a directory with `directory`).
  // The sequence number is for Abandon when the creation fails.
  std::int64_t NoteCreated(const std::wstring& path, bool directory);
  // Notes the size, permissions and time of an existing file about to be
  // written in place: appended to, or copied over with the bytes it holds.
  void NoteRewritten(const std::wstring& fullPath, const platform::EntryStamp& stamp);
  // Notes the attributes of an entry about to be changed.
  void NoteAttributes(const std::wstring& fullPath, std::uint32_t attributes);
  // Whether the run created this file itself: changing or deleting it again
  // needs nothing saved, since undoing its creation removes whatever is there.
  bool CreatedByRun(const std::wstring& fullPath) const;
  void ForgetCreated(const std::wstring& fullPath);
  // Whether a directory entry named `name`, listed in the directory
  // `fullDir`, belongs to the journal and must not be seen by the script.
  bool IsOwnEntry(const std::wstring& name, const std::function<std::wstring()>& fullDir) const;
  // Puts back the last change noted at once (a copy that failed after its
  // target was moved aside), so that it counts for nothing.
  void UndoLast();
  // A change noted in `sequence` did not happen.
  void Abandon(std::int64_t sequence);

  // ---- Registry ----
  // The records of a value about to be written or deleted (`old`: what it
  // was, nothing when it did not exist), of a key about to be created (the
  // first missing one of a path), and of a key about to be deleted with its
  // values.
  static Json ValueRecord(const std::wstring& key, const std::wstring& name, const SavedValue* old);
  static Json KeyCreatedRecord(const std::wstring& key);
  static Json KeyDeletedRecord(const std::wstring& key, const std::vector<SavedValue>& values);
  // Runs `change` (returning a registry code) with `record` noted before
  // it, in one transaction where the registry can keep undo records; the
  // record is dropped again when the change does not succeed.
  long RegistryChange(Json record, const std::function<long()>& change);

  // ---- What cannot be undone ----
  void NoteExternal(const std::wstring& what);

  // A command has ended: the next record is forced to the disk before its
  // change. The records of one command after its first reach the operating
  // system before their changes, which keeps them through a killed process.
  void CommandEnded() { syncNext_ = true; }

  // Counted changes so far.
  int Changes() const { return changes_; }

  // The run succeeded: every saved entry and record goes; returns the count
  // of changes kept.
  int Commit();
  // The run failed: every change is undone in reverse order.
  RollbackReport Rollback();

  // Rolls back every journal in the journal directory that no running
  // process holds. `report` is called for each run rolled back, with the
  // script it ran.
  static void RecoverAll(const platform::Platform& native,
                         const std::function<void(const std::wstring& script, const RollbackReport&)>& report);

 private:
  struct Opened {};
  // An interrupted run's journal, taken over for recovery.
  Journal(const platform::Platform& native, std::wstring journalPath, std::unique_ptr<platform::LockedFile> file,
          Opened);

  enum class Step { Undone, NothingToDo };

  std::int64_t Next() { return ++sequence_; }
  // Writes a record to the journal file, forced to the disk with `durable`
  // or when it is the first of a command.
  void Write(const Json& record, bool durable = false);
  // Numbers and writes a record of a change, and counts the change.
  std::int64_t Record(Json record);
  // Notes a directory's time before the run first changes its entries.
  void NoteDirTime(const std::wstring& fullDir);
  // The saved area for an entry: the run's own on the journal's file system
  // (`primary`), otherwise one in the entry's parent directory.
  std::wstring AreaFor(const std::wstring& fullPath, bool primary);
  // Undoes one change; failures are raised with their description.
  Step Undo(const Json& record);
  Step UndoRegistry(const Json& record);
  platform::Registry& RegistryOfRecords();
  // Every record of the run: the journal file's and the registry's.
  std::vector<Json> LoadRecords();
  // Undoes every change not undone yet and removes what the journal owns;
  // a run that had committed is only cleaned up (*committed).
  RollbackReport UndoAll(bool* committed);
  void RemoveOwnFiles(bool commit);
  // Notes that the step `sequence` is undone, where the journal can.
  void MarkUndone(std::int64_t sequence);

  platform::Platform native_;
  std::wstring dir_;          // the journal directory
  std::wstring run_;          // the run's name
  std::wstring journalPath_;  // dir_\run_.journal
  std::wstring primary_;      // dir_\run_, the saved area on the journal's own file system
  std::uint64_t primaryVolume_ = 0;
  bool primaryMade_ = false;
  std::unique_ptr<platform::LockedFile> file_;
  // The registry holding this run's undo records, when it keeps them.
  platform::Registry* registry_ = nullptr;
  bool registryNoted_ = false;
  std::unique_ptr<platform::Registry> ownRegistry_;  // one opened for recovery
  std::wstring registryMissing_;                     // one that could not be
  std::wstring script_;
  std::int64_t sequence_ = 0;
  int changes_ = 0;
  bool syncNext_ = true;
  Json last_;  // the last change recorded
  std::int64_t lastCreatedSeq_ = -1;
  std::wstring lastCreatedKey_;
  std::set<std::wstring> areas_;  // secondary saved areas made so far (folded full paths)
  std::vector<std::wstring> areaPaths_;
  std::set<std::wstring> created_;      // files the run created (folded full paths)
  std::set<std::wstring> createdDirs_;  // directories it created
  std::set<std::wstring> timedDirs_;    // directories whose time is noted
  std::wstring journalParentFolded_;
  std::wstring journalNameFolded_;
};

}  // namespace Utility
