#include "platform/posix/System.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <ctime>
#include <random>

#include "platform/Text.h"
#include "platform/posix/Support.h"

namespace posix {

PosixSystem::PosixSystem(PosixFileSystem& fs, int argc, char** argv) : fs_(fs) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line.push_back(' ');
    line += argv[i];
    arguments_.push_back(text::FromUtf8(argv[i]));
  }
  commandLine_ = text::FromUtf8(line);
}

std::wstring PosixSystem::WindowsDir() {
  if (!prefixReady_) {
    EnsurePrefixAt(fs_.Prefix());
    prefixReady_ = true;
  }
  return L"C:\\windows";
}

bool PosixSystem::IsWindowsNT() { return true; }

std::wstring PosixSystem::TempDir() {
  const char* v = std::getenv("TMPDIR");
  std::string host = (v != nullptr && *v != '\0') ? v : "/tmp";
  std::wstring dir = fs_.DriveFormOf(host);
  if (dir.empty() || dir.back() != L'\\') dir.push_back(L'\\');
  return dir;
}

std::wstring PosixSystem::MakeTempFile(const std::wstring& dir, const std::wstring& prefix) {
  std::wstring base = fs_.FullPath(dir);
  if (base.back() != L'\\') base.push_back(L'\\');
  // Temporary names are numbered from a point that differs between processes
  // started at the same moment, so that they rarely meet a taken name.
  if (!counterSet_) {
    counter_ =
        static_cast<std::uint32_t>(std::time(nullptr)) * 2654435761u ^ static_cast<std::uint32_t>(::getpid()) * 40503u;
    counterSet_ = true;
  }
  // Unique numbers are 16 bits wide, as Windows makes them; 0 is not used.
  for (std::uint32_t attempt = 0; attempt < 0x10000; ++attempt) {
    std::uint32_t n = counter_++ & 0xFFFFu;
    if (n == 0) continue;
    wchar_t hex[8];
    std::swprintf(hex, 8, L"%X", static_cast<unsigned>(n));
    std::wstring path = base + prefix + hex + L".TMP";
    if (fs_.CreateNewFile(path)) return path;
  }
  // Someone holds every short name (a shared directory): longer names that
  // nobody can guess.
  std::random_device random;
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::uint64_t n = static_cast<std::uint64_t>(random()) << 32 | random();
    wchar_t hex[24];
    std::swprintf(hex, 24, L"%016llX", static_cast<unsigned long long>(n));
    std::wstring path = base + prefix + hex + L".TMP";
    if (fs_.CreateNewFile(path)) return path;
  }
  throw VslError(L"Cannot create a temporary file in " + base + L": every name is taken");
}

std::wstring PosixSystem::JournalDir() {
  EnsurePrefixAt(fs_.Prefix());
  return fs_.DriveFormOf(fs_.Prefix() + "/journal");
}

std::wstring PosixSystem::CommandLineText() { return commandLine_; }

std::vector<std::wstring> PosixSystem::Arguments() { return arguments_; }

std::wstring PosixSystem::EnvironmentValue(const std::wstring& name) {
  const char* v = std::getenv(text::ToUtf8(name).c_str());
  return v == nullptr ? std::wstring() : text::FromUtf8(v);
}

void PosixSystem::Print(platform::OutputStream stream, const std::wstring& text) {
  const std::string bytes = text::ToUtf8(text);
  const int fd = stream == platform::OutputStream::Out ? 1 : 2;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // What standard error cannot take is lost: there is nowhere left to
      // tell. Output that did not arrive fails the caller.
      const int err = n < 0 ? errno : EIO;
      if (fd == 1) RaiseErrno(err, L"Cannot write to standard output");
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace posix
