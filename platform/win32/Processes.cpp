#include "platform/win32/Processes.h"

#include <oleauto.h>

#include <vector>

namespace win32 {

namespace {

bool IsBareName(const std::wstring& program) {
  return program.find_first_of(L"\\/") == std::wstring::npos && !(program.size() >= 2 && program[1] == L':');
}

// The standard handles of this process, made inheritable for a started
// program, so that its output goes where this program's goes. Nothing is
// handed on when this program has none (a GUI program started from the
// desktop): the program then opens its own console if it needs one.
class StandardHandles {
 public:
  StandardHandles() {
    const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
      HANDLE h = ::GetStdHandle(which[i]);
      HANDLE copy = nullptr;
      if (h != nullptr && h != INVALID_HANDLE_VALUE &&
          ::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        copies_[i].Reset(copy);
        any_ = true;
      }
    }
  }
  bool Any() const { return any_; }
  void Fill(STARTUPINFOA& si) const {
    si.dwFlags |= STARTF_USESTDHANDLES;
    si.hStdInput = copies_[0].Get();
    si.hStdOutput = copies_[1].Get();
    si.hStdError = copies_[2].Get();
  }

 private:
  Handle copies_[3];
  bool any_ = false;
};

}  // namespace

int Win32Processes::Run(const std::wstring& program, const std::wstring& arguments) {
  // A NUL would cut the name or an argument short and start another program
  // or hand it other arguments.
  if (fs::HasNul(program) || fs::HasNul(arguments))
    throw VslError(L"Cannot start " + program.substr(0, program.find(L'\0')) +
                   L": the program name or its arguments hold a NUL character");
  if (program.empty()) throw VslError(L"Cannot start a program without a name");
  std::string name, args;
  if (!ToAnsi(program, &name) || !ToAnsi(arguments, &args))
    throw VslError(L"Cannot start " + program + L": " + fs::kInvalidName);
  std::string application;
  if (!IsBareName(program)) {
    // A path is resolved here, so that "D:x.exe" is relative to D:'s own
    // directory; a bare name is searched for by Windows (the program's
    // directory, the current directory, the system directories, the PATH).
    application = fs_.ResolveOrRaise(program, L"Cannot start " + program);
    name = application;
  }
  std::string line = "\"" + name + "\"";
  if (!args.empty()) line += " " + args;
  return Start(program, application, std::move(line));
}

int Win32Processes::RunCommandLine(const std::wstring& interpreter, const std::wstring& commandLine) {
  if (fs::HasNul(commandLine))
    throw VslError(L"Cannot run the command line " + commandLine.substr(0, commandLine.find(L'\0')) +
                   L": it holds a NUL character");
  const std::string program = fs_.ResolveOrRaise(interpreter, L"Cannot start " + fs::Shown(interpreter));
  std::string line;
  if (!ToAnsi(commandLine, &line))
    throw VslError(L"Cannot run the command line " + commandLine + L": " + fs::kInvalidName);
  return Start(interpreter, program, "\"" + program + "\" /c " + line);
}

int Win32Processes::Start(const std::wstring& shown, const std::string& application, std::string commandLine) {
  StandardHandles handles;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  DWORD flags = 0;
  if (handles.Any()) {
    handles.Fill(si);
    // A console program writes to the handles it was given; no console
    // window of its own opens.
    flags |= CREATE_NO_WINDOW;
  }
  PROCESS_INFORMATION pi{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!::CreateProcessA(application.empty() ? nullptr : application.c_str(), line.data(), nullptr, nullptr,
                        handles.Any() ? TRUE : FALSE, flags, nullptr, nullptr, &si, &pi)) {
    const DWORD code = ::GetLastError();
    RaiseError(code, L"Cannot start " + shown);
  }
  Handle process(pi.hProcess);
  Handle thread(pi.hThread);
  thread.Reset();
  // Wine starts a program of its host system outside Windows and hands
  // back no process handle: there is nothing to wait for.
  if (!process.Valid()) return 0;
  Await(process.Get());
  DWORD status = 0;
  if (!::GetExitCodeProcess(process.Get(), &status)) {
    const DWORD code = ::GetLastError();
    RaiseError(code, L"Cannot read the exit status of " + shown);
  }
  return static_cast<int>(status);
}

void Win32Processes::Await(HANDLE process) {
  for (;;) {
    const DWORD r = ::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return;
    if (r == WAIT_OBJECT_0 + 1) {
      if (pump_) pump_();
      continue;
    }
    const DWORD code = ::GetLastError();
    RaiseError(code, L"Cannot wait for a started program");
  }
}

std::optional<long> Win32Processes::CallEntryPoint(const std::wstring& library, const char* entry) {
  std::string full;
  if (!fs_.Resolve(library, &full)) return std::nullopt;
  // No error box of the system's own for a library that cannot be loaded;
  // its dependencies are looked for beside it, as regsvr32 does.
  const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  Module loaded(::LoadLibraryExA(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  ::SetErrorMode(previous);
  if (loaded.Get() == nullptr) return std::nullopt;
  FARPROC symbol = ::GetProcAddress(loaded.Get(), entry);
  if (symbol == nullptr) return std::nullopt;
  // DllRegisterServer and DllUnregisterServer are STDAPI: HRESULT, __stdcall.
  using EntryPoint = HRESULT(STDAPICALLTYPE*)();
  return static_cast<long>(reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(symbol))());
}

void Win32Processes::RegisterTypeLibrary(const std::wstring& path) {
  const std::wstring what = L"Cannot register the type library " + fs::Shown(path);
  const std::string full = fs_.ResolveOrRaise(path, what);
  // LoadTypeLibEx takes the path as UTF-16; it comes from the ANSI form,
  // which names the file the other calls reach.
  const std::wstring wide = FromAnsi(full);
  ITypeLib* library = nullptr;
  const HRESULT hr = ::LoadTypeLibEx(wide.c_str(), REGKIND_REGISTER, &library);
  if (FAILED(hr)) RaiseError(static_cast<DWORD>(hr), what);
  library->Release();
}

}  // namespace win32
