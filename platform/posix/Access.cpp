#include "platform/Access.h"

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool CanCreateIn(const std::string& hostDir) {
  struct stat st{};
  if (::stat(hostDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return ::access(hostDir.c_str(), W_OK | X_OK) == 0;
}

}  // namespace platform
