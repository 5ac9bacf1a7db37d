// Small pieces shared by the POSIX backend: an owned file descriptor and the
// text for an errno value.
#pragma once

#include <cerrno>
#include <string>

#include "platform/Error.h"

namespace posix {

// Owns one file descriptor and closes it.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.Release();
    }
    return *this;
  }
  // Gives the descriptor up without closing it.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Closes now and reports the outcome (0 or errno).
  int Close();

 private:
  int fd_;
};

// A message as it reads after "NAME: ": a first capital followed by a
// lower-case letter is lowered ("Permission denied" -> "permission
// denied"), while a word such as "PATH" or "I/O" keeps its case.
std::wstring AsReason(std::wstring message);

// The reason for an errno value, worded as AsReason gives it.
std::wstring Reason(int err);

// Raises the failure of a system call: "WHAT: REASON".
[[noreturn]] void RaiseErrno(int err, const std::wstring& what);

// Raises the failure of the system call that has just failed. errno is read
// first, and `what` (a function giving the description) called after, since
// building the text may call into the C library and change errno.
template <typename What>
[[noreturn]] void RaiseLastErrno(What&& what) {
  const int err = errno;
  RaiseErrno(err, what());
}

}  // namespace posix
