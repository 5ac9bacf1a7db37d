// The POSIX platform: the pieces created together, the registry database
// located lazily.
#include <cstdlib>

#include "platform/Platform.h"
#include "platform/posix/FileSystem.h"
#include "platform/posix/Processes.h"
#include "platform/posix/Registry.h"
#include "platform/posix/System.h"
#include "platform/posix/Ui.h"

namespace platform {

namespace {

class PosixPlatform : public NativePlatform {
 public:
  PosixPlatform(int argc, char** argv)
      : system_(fileSystem_, argc, argv),
        processes_(fileSystem_),
        registry_([] {
          if (const char* path = std::getenv("VSL_REGISTRY"); path != nullptr && *path != '\0') return std::string(path);
          posix::EnsurePrefix();
          return posix::PrefixDir() + "/registry.db";
        }) {
    // A started program writes to the same terminal: the progress line is
    // erased before it starts and drawn again with the next progress value.
    processes_.SetBeforeStart([this] { ui_.EraseProgress(); });
  }

  Platform Pieces() override {
    Platform p;
    p.fileSystem = &fileSystem_;
    p.registry = &registry_;
    p.processes = &processes_;
    p.ui = &ui_;
    p.system = &system_;
    return p;
  }

 private:
  posix::PosixFileSystem fileSystem_;
  posix::PosixSystem system_;
  posix::PosixProcesses processes_;
  posix::PosixRegistry registry_;
  posix::PosixUi ui_;
};

}  // namespace

std::unique_ptr<NativePlatform> CreateNative(int argc, char** argv) {
  return std::make_unique<PosixPlatform>(argc, argv);
}

}  // namespace platform
