// Entry point of vsl: installs the native platform and runs the driver.
#include "driver/MainModule.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
  auto native = platform::CreateNative(argc, argv);
  platform::ScopedPlatform installed(native->Pieces());
  return MainModule::Main();
}
