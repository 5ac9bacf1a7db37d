#include "platform/win32/System.h"

#include <cstdint>
#include <cstdio>
#include <random>

namespace win32 {

namespace {

bool Usable(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

bool WriteAll(HANDLE h, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!::WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
        written == 0)
      return false;
    done += written;
  }
  return true;
}

}  // namespace

std::string ArgumentText(const std::string& commandLine) {
  std::size_t i = 0;
  const std::size_t n = commandLine.size();
  // The program's name ends at the closing quote when it starts with one,
  // else at the first blank; quotes inside it are not special otherwise.
  if (i < n && commandLine[i] == '"') {
    ++i;
    while (i < n && commandLine[i] != '"') ++i;
    if (i < n) ++i;
  }
  while (i < n && commandLine[i] != ' ' && commandLine[i] != '\t') ++i;
  while (i < n && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
  return commandLine.substr(i);
}

Win32System::Win32System(Win32FileSystem& fs, int argc, char** argv) : fs_(fs) {
  for (int i = 1; i < argc; ++i) arguments_.push_back(FromAnsi(argv[i]));
}

std::wstring Win32System::WindowsDir() {
  char buffer[MAX_PATH + 1];
  const UINT n = ::GetWindowsDirectoryA(buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) {
    const DWORD code = ::GetLastError();
    RaiseError(code, L"Cannot read the Windows directory");
  }
  return FromAnsi(std::string_view(buffer, n));
}

// GetVersion sets its top bit on the Windows 95 family only.
bool Win32System::IsWindowsNT() { return (::GetVersion() & 0x80000000u) == 0; }

std::wstring Win32System::TempDir() {
  // Whatever its length: a caller that has only a short buffer cuts it.
  std::string buffer(MAX_PATH + 1, '\0');
  for (;;) {
    const DWORD n = ::GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return L"";
    if (n < buffer.size()) return FromAnsi(std::string_view(buffer.data(), n));
    buffer.resize(n + 1);
  }
}

std::wstring Win32System::MakeTempFile(const std::wstring& dir, const std::wstring& prefix) {
  const std::wstring what = L"Cannot create a temporary file in " + fs::Shown(dir);
  const std::string base = fs_.ResolveOrRaise(dir.empty() ? L"." : dir, what);
  std::string lead;
  if (!ToAnsi(prefix, &lead)) throw VslError(what + L": " + fs::kInvalidName);
  char buffer[MAX_PATH + 1];
  // Unique number 0: Windows picks a number whose file does not exist yet
  // and creates it empty.
  if (::GetTempFileNameA(base.c_str(), lead.c_str(), 0, buffer) != 0) return FromAnsi(buffer);
  DWORD code = ::GetLastError();
  if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) RaiseError(code, what);
  // Someone holds every short name (a shared directory): longer names that
  // nobody can guess.
  std::string folder = base;
  if (folder.back() != '\\' && folder.back() != '/') folder.push_back('\\');
  std::random_device random;
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::uint64_t n = static_cast<std::uint64_t>(random()) << 32 | random();
    char hex[24];
    std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(n));
    const std::string path = folder + lead + hex + ".TMP";
    Handle h(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.Valid()) return FromAnsi(path);
    code = ::GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) RaiseError(code, what);
  }
  throw VslError(what + L": every name is taken");
}

std::wstring Win32System::CommandLineText() { return FromAnsi(ArgumentText(::GetCommandLineA())); }

std::vector<std::wstring> Win32System::Arguments() { return arguments_; }

std::wstring Win32System::JournalDir() {
  // The machine's shared application data, as Windows names it since Vista
  // (ALLUSERSPROFILE is the same folder there).
  std::wstring base = EnvironmentValue(L"ProgramData");
  if (base.empty()) base = EnvironmentValue(L"ALLUSERSPROFILE");
  if (base.empty()) base = L"C:\\ProgramData";
  while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
  return base + L"\\vsl\\journal";
}

std::wstring Win32System::EnvironmentValue(const std::wstring& name) {
  std::string ansi;
  if (name.empty() || !ToAnsi(name, &ansi)) return L"";
  std::string value(256, '\0');
  for (;;) {
    const DWORD n = ::GetEnvironmentVariableA(ansi.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return L"";
    if (n < value.size()) return FromAnsi(std::string_view(value.data(), n));
    value.resize(n);
  }
}

void Win32System::Print(platform::OutputStream stream, const std::wstring& text) {
  const DWORD which = stream == platform::OutputStream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  HANDLE h = ::GetStdHandle(which);
  // A GUI program started from a console window has no handles of its own
  // unless they were redirected: it attaches to that console once.
  if (!Usable(h) && !attachTried_) {
    attachTried_ = true;
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
      HANDLE out = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
      if (Usable(out)) {
        ::SetStdHandle(STD_OUTPUT_HANDLE, out);
        ::SetStdHandle(STD_ERROR_HANDLE, out);
      }
      h = ::GetStdHandle(which);
    }
  }
  if (IsConsole(h)) {
    // The console takes the text as it is, whatever its code page.
    DWORD written = 0;
    std::wstring lines;
    for (wchar_t c : text) {
      if (c == L'\n') lines.push_back(L'\r');
      lines.push_back(c);
    }
    if (::WriteConsoleW(h, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr)) return;
  }
  if (Usable(h)) {
    // A file or a pipe gets the text in the ANSI code page with Windows
    // line ends.
    std::string bytes;
    for (char c : ToAnsiLossy(text)) {
      if (c == '\n') bytes.push_back('\r');
      bytes.push_back(c);
    }
    if (WriteAll(h, bytes)) return;
    const DWORD code = ::GetLastError();
    if (stream == platform::OutputStream::Out) RaiseError(code, L"Cannot write to standard output");
    return;  // what standard error does not take is lost
  }
  // Nowhere to write to: the text is shown in a message box.
  std::wstring shown = text;
  while (!shown.empty() && shown.back() == L'\n') shown.pop_back();
  ::MessageBoxA(nullptr, ToAnsiLossy(shown).c_str(), "vsl",
                MB_OK | (stream == platform::OutputStream::Err ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
}

}  // namespace win32
