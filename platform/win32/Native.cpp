// The Windows platform: the pieces created together. COM is started for the
// thread, as the registration entry points of COM servers and the type
// library calls expect.
#include <objbase.h>

#include "platform/Platform.h"
#include "platform/win32/FileSystem.h"
#include "platform/win32/Processes.h"
#include "platform/win32/Registry.h"
#include "platform/win32/System.h"
#include "platform/win32/Ui.h"

namespace platform {

namespace {

// Starts COM for this thread for the life of the platform.
class ComApartment {
 public:
  ComApartment() : started_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComApartment() {
    if (started_) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool started_;
};

class Win32Platform : public NativePlatform {
 public:
  Win32Platform(int argc, char** argv) : system_(fileSystem_, argc, argv), processes_(fileSystem_) {
    if (win32::ConsoleDialogsRequested())
      ui_ = std::make_unique<win32::Win32ConsoleUi>();
    else
      ui_ = std::make_unique<win32::Win32Ui>();
    // While a started program is awaited the dialogs keep working.
    processes_.SetMessagePump([this] { ui_->PumpMessages(); });
  }

  Platform Pieces() override {
    Platform p;
    p.fileSystem = &fileSystem_;
    p.registry = &registry_;
    p.processes = &processes_;
    p.ui = ui_.get();
    p.system = &system_;
    return p;
  }

 private:
  ComApartment com_;
  win32::Win32FileSystem fileSystem_;
  win32::Win32System system_;
  win32::Win32Processes processes_;
  win32::Win32Registry registry_;
  std::unique_ptr<Ui> ui_;
};

}  // namespace

std::unique_ptr<NativePlatform> CreateNative(int argc, char** argv) {
  return std::make_unique<Win32Platform>(argc, argv);
}

}  // namespace platform
