// The POSIX platform: the pieces created together, the registry database
// located lazily.
#include <malloc.h>

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
      : system_(fileSystem_, argc, argv), processes_(fileSystem_), registry_([] {
          if (const char* path = std::getenv("VSL_REGISTRY"); path != nullptr && *path != '\0')
            return std::string(path);
          posix::EnsurePrefix();
          return posix::PrefixDir() + "/registry.db";
        }) {
    // A started program writes to the same terminal: the progress line is
    // erased before it starts and drawn again with the next progress value.
    processes_.SetBeforeStart([this] { ui_.EraseProgress(); });
    // The file system keeps directories open and what listings found; the
    // user may change things while a dialog waits.
    ui_.SetAfterAnswer([this] { fileSystem_.Forget(); });
    posix::PosixUi::CatchStopSignals();
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
#ifdef __GLIBC__
  // The tree operations hold a full path on every level of a tree and free
  // them all on the way back. Handing freed memory back to the system a
  // piece at a time would cost more than the work itself in a deep tree
  // (each shrink of the heap flushes every processor's address cache), and
  // a run is short: the heap grows in larger steps and keeps what it got.
  ::mallopt(M_TOP_PAD, 4 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
  return std::make_unique<PosixPlatform>(argc, argv);
}

}  // namespace platform
