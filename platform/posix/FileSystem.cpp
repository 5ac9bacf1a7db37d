// The POSIX file system's public face: every call goes to the Windows view
// behind it.
#include "platform/posix/FileSystem.h"

#include "platform/posix/WindowsView.h"

namespace posix {

using platform::EntryStamp;
using platform::FindEntry;

PosixFileSystem::PosixFileSystem() : view_(std::make_unique<WindowsView>()) {}
PosixFileSystem::~PosixFileSystem() = default;

void PosixFileSystem::ChangeDrive(const std::wstring& text) { view_->ChangeDrive(text); }
void PosixFileSystem::ChangeDir(const std::wstring& path) { view_->ChangeDir(path); }
std::wstring PosixFileSystem::CurrentDir() { return view_->CurrentDir(); }
std::vector<FindEntry> PosixFileSystem::Find(const std::wstring& pattern) { return view_->Find(pattern); }
std::vector<FindEntry> PosixFileSystem::FindOrFail(const std::wstring& pattern) { return view_->FindOrFail(pattern); }
std::uint32_t PosixFileSystem::GetAttributes(const std::wstring& path) { return view_->GetAttributes(path); }
bool PosixFileSystem::IsRegularFile(const std::wstring& path) { return view_->IsRegularFile(path); }
void PosixFileSystem::SetAttributes(const std::wstring& path, std::uint32_t attributes) {
  view_->SetAttributes(path, attributes);
}
void PosixFileSystem::CreateDir(const std::wstring& path) { view_->CreateDir(path); }
void PosixFileSystem::RemoveDir(const std::wstring& path) { view_->RemoveDir(path); }
void PosixFileSystem::RemoveFile(const std::wstring& path) { view_->RemoveFile(path); }
void PosixFileSystem::RemoveMatching(const std::wstring& pattern) { view_->RemoveMatching(pattern); }
void PosixFileSystem::CopyWholeFile(const std::wstring& source, const std::wstring& target) {
  view_->CopyWholeFile(source, target);
}
std::unique_ptr<platform::File> PosixFileSystem::Open(const std::wstring& path, platform::OpenMode mode) {
  return view_->Open(path, mode);
}
std::wstring PosixFileSystem::ReadTextFile(const std::wstring& path) { return view_->ReadTextFile(path); }
void PosixFileSystem::AppendTextLine(const std::wstring& path, const std::wstring& text) {
  view_->AppendTextLine(path, text);
}
bool PosixFileSystem::SamePlace(const std::wstring& a, const std::wstring& b) { return view_->SamePlace(a, b); }
bool PosixFileSystem::SameFile(const std::wstring& a, const std::wstring& b) { return view_->SameFile(a, b); }
bool PosixFileSystem::CanCreateIn(const std::wstring& dir) { return view_->CanCreateIn(dir); }
std::wstring PosixFileSystem::FullPath(const std::wstring& path) { return view_->FullPath(path); }
EntryStamp PosixFileSystem::Stamp(const std::wstring& path) { return view_->Stamp(path); }
bool PosixFileSystem::MoveEntry(const std::wstring& from, const std::wstring& to) { return view_->MoveEntry(from, to); }
void PosixFileSystem::RestoreStamp(const std::wstring& path, const EntryStamp& stamp) {
  view_->RestoreStamp(path, stamp);
}
bool PosixFileSystem::SameContent(const std::wstring& a, const std::wstring& b) { return view_->SameContent(a, b); }
void PosixFileSystem::CopyStamp(const std::wstring& source, const std::wstring& target) {
  view_->CopyStamp(source, target);
}
void PosixFileSystem::RemoveTree(const std::wstring& path) { view_->RemoveTree(path); }
std::unique_ptr<platform::LockedFile> PosixFileSystem::OpenLocked(const std::wstring& path, bool create) {
  return view_->OpenLocked(path, create);
}

std::string PosixFileSystem::HostPath(const std::wstring& path) { return view_->HostPath(path); }
std::wstring PosixFileSystem::DriveFormOf(const std::string& hostPath) { return view_->DriveFormOf(hostPath); }
bool PosixFileSystem::CreateNewFile(const std::wstring& path) { return view_->CreateNewFile(path); }
const std::string& PosixFileSystem::Prefix() const { return view_->Prefix(); }
void PosixFileSystem::Forget() { view_->Forget(); }

}  // namespace posix
