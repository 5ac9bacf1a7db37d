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
