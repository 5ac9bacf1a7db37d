#include "platform/Platform.h"

namespace platform {

namespace {
Platform gCurrent;

template <typename T>
T& Require(T* piece, const wchar_t* what) {
  if (piece == nullptr) throw VslError(std::wstring(L"The ") + what + L" is not available on this platform");
  return *piece;
}
}  // namespace

Platform Install(const Platform& p) {
  Platform previous = gCurrent;
  gCurrent = p;
  return previous;
}

const Platform& Current() { return gCurrent; }

FileSystem& Fs() { return Require(gCurrent.fileSystem, L"file system"); }
Registry& Reg() { return Require(gCurrent.registry, L"registry"); }
Processes& Proc() { return Require(gCurrent.processes, L"process service"); }
Ui& UI() { return Require(gCurrent.ui, L"user interface"); }
System& Sys() { return Require(gCurrent.system, L"system service"); }

}  // namespace platform

namespace platform {

namespace {
[[noreturn]] void NoJournal() {
  throw VslError(L"This platform cannot keep the journal of an atomic run");
}
}  // namespace

// Pieces that keep no journal (test doubles among them) refuse atomic runs.
std::wstring FileSystem::FullPath(const std::wstring&) { NoJournal(); }
EntryStamp FileSystem::Stamp(const std::wstring&) { NoJournal(); }
bool FileSystem::MoveEntry(const std::wstring&, const std::wstring&) { NoJournal(); }
void FileSystem::RestoreStamp(const std::wstring&, const EntryStamp&) { NoJournal(); }
bool FileSystem::SameContent(const std::wstring&, const std::wstring&) { NoJournal(); }
void FileSystem::CopyStamp(const std::wstring&, const std::wstring&) { NoJournal(); }
void FileSystem::RemoveTree(const std::wstring&) { NoJournal(); }
std::unique_ptr<LockedFile> FileSystem::OpenLocked(const std::wstring&, bool) { NoJournal(); }

void Registry::AddUndoRecord(const std::string&, std::int64_t, const std::string&) { NoJournal(); }
std::vector<std::pair<std::int64_t, std::string>> Registry::UndoRecords(const std::string&) { return {}; }
void Registry::DropUndoRecords(const std::string&, std::int64_t) {}
std::unique_ptr<Registry> Registry::OpenAt(const std::wstring&) { return nullptr; }

}  // namespace platform
