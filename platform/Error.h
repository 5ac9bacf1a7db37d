// The one exception type for run-time failures, and the request to end the
// program at once.
#pragma once

#include <exception>
#include <string>
#include <utility>

// A run-time failure. It carries a description that is shown to the user
// where a failure is reported (the driver's "Error " box) and an optional
// error number.
class VslError : public std::exception {
 public:
  explicit VslError(std::wstring description, int number = 0);

  const std::wstring& Description() const noexcept { return description_; }
  int Number() const noexcept { return number_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  std::wstring description_;
  int number_;
  std::string utf8_;
};

// The description of any exception: a VslError's own, otherwise the text
// the standard library gives.
std::wstring Describe(const std::exception& e);

// Thrown where a wait of the program (a dialog waiting for its answer) is
// ended by the user or the system asking the program to stop: nothing more
// is parsed or run, and the run ends as a cancelled one.
class RunCancelled {};

// Thrown by the operations that end the whole program on the spot ("Exit" run
// while parsing, a failing single-file copy). It is not a failure: nothing
// catches it except the program's entry point, which returns the exit status.
class ProgramExit {
 public:
  // `failure` says what failed when a failure ends the program; it stays
  // empty when the program ends because the script asked for it ("Exit").
  explicit ProgramExit(int exitStatus, std::wstring failure = {})
      : status_(exitStatus), failure_(std::move(failure)) {}
  int Status() const noexcept { return status_; }
  const std::wstring& Failure() const noexcept { return failure_; }

 private:
  int status_;
  std::wstring failure_;
};
