// Small pieces shared by the Windows backend: owners for the handles it
// opens, the conversion between the system's wide strings and the ANSI code
// page that the ...A functions take, and the text for a Windows error code.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/Error.h"

namespace win32 {

// Owns a kernel handle (a file, a process) and closes it.
class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  // Gives the handle up without closing it.
  HANDLE Release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void Reset(HANDLE h = nullptr) {
    if (Valid()) ::CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_;
};

// Owns a directory search started with FindFirstFileA.
class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  ~FindHandle() {
    if (Valid()) ::FindClose(h_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

// Owns a loaded library and unloads it.
class Module {
 public:
  explicit Module(HMODULE m) : m_(m) {}
  ~Module() {
    if (m_ != nullptr) ::FreeLibrary(m_);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  HMODULE Get() const { return m_; }

 private:
  HMODULE m_;
};

// Owns a window and destroys it.
class Window {
 public:
  explicit Window(HWND w = nullptr) : w_(w) {}
  ~Window() { Reset(); }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  HWND Get() const { return w_; }
  void Reset(HWND w = nullptr) {
    if (w_ != nullptr && ::IsWindow(w_)) ::DestroyWindow(w_);
    w_ = w;
  }

 private:
  HWND w_;
};

// Whether a standard handle is a console (and not a file, a pipe or none).
inline bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode);
}

// Converts to the ANSI code page. False when the text holds a NUL or a
// character that the code page cannot represent exactly: such a name must
// not reach a ...A call, where the replacement character ('?', a wildcard)
// or a character that merely looks alike would name another file.
bool ToAnsi(std::wstring_view text, std::string* out);
// Converts text that is data rather than a name; characters that the code
// page lacks become its replacement character.
std::string ToAnsiLossy(std::wstring_view text);
std::wstring FromAnsi(std::string_view bytes);

// The system's text for an error code, worded to follow "NAME: " ("The
// system cannot find the file specified." -> "the system cannot find the
// file specified"); a code without text gives "error N".
std::wstring Reason(DWORD code);

// Raises "WHAT: REASON". Callers read GetLastError() into `code` before they
// build `what`, which may make other calls.
[[noreturn]] void RaiseError(DWORD code, const std::wstring& what);

}  // namespace win32
