#include "platform/posix/Support.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Text.h"

namespace posix {

int Fd::Close() {
  int err = 0;
  if (fd_ >= 0 && ::close(fd_) != 0) err = errno;
  fd_ = -1;
  return err;
}

std::wstring AsReason(std::wstring message) {
  if (message.size() > 1 && message[0] >= L'A' && message[0] <= L'Z' && message[1] >= L'a' && message[1] <= L'z') {
    message[0] = static_cast<wchar_t>(message[0] - L'A' + L'a');
  }
  return message;
}

std::wstring Reason(int err) { return AsReason(text::FromUtf8(std::strerror(err))); }

void RaiseErrno(int err, const std::wstring& what) { throw VslError(what + L": " + Reason(err)); }

}  // namespace posix
