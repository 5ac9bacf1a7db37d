// Entry point of vsl: installs the native platform and runs the driver. The
// operations that end the program on the spot arrive here as ProgramExit.
#include "driver/MainModule.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
  auto native = platform::CreateNative(argc, argv);
  platform::ScopedPlatform installed(native->Pieces());
  try {
    return MainModule::Main();
  } catch (const ProgramExit& exit) {
    return exit.Status();
  }
}
