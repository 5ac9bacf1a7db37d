#include "platform/win32/Support.h"

#include <vector>

namespace win32 {

namespace {

std::string Narrow(std::wstring_view text, DWORD flags) {
  if (text.empty()) return {};
  const int n = static_cast<int>(text.size());
  const int size = ::WideCharToMultiByte(CP_ACP, flags, text.data(), n, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, flags, text.data(), n, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

bool ToAnsi(std::wstring_view text, std::string* out) {
  if (text.find(L'\0') != std::wstring_view::npos) return false;
  std::string bytes = Narrow(text, 0);
  // Exact only when the way back gives the same text: this catches the
  // replacement character and the best-fit look-alikes in every code page,
  // UTF-8 among them.
  if (FromAnsi(bytes) != text) return false;
  *out = std::move(bytes);
  return true;
}

std::string ToAnsiLossy(std::wstring_view text) { return Narrow(text, 0); }

std::wstring FromAnsi(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int n = static_cast<int>(bytes.size());
  const int size = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, nullptr, 0);
  if (size <= 0) return {};
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, out.data(), size);
  return out;
}

std::wstring Reason(DWORD code) {
  char* buffer = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::wstring message;
  if (n > 0 && buffer != nullptr) message = FromAnsi(std::string_view(buffer, n));
  if (buffer != nullptr) ::LocalFree(buffer);
  // The text ends in a period and a line end; the reason reads on after a
  // colon, so both go, and a capital that starts a sentence is lowered
  // (a word such as "DLL" keeps its case).
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                              message.back() == L'.'))
    message.pop_back();
  if (message.empty()) return L"error " + std::to_wstring(code);
  if (message.size() > 1 && message[0] >= L'A' && message[0] <= L'Z' && message[1] >= L'a' && message[1] <= L'z')
    message[0] = static_cast<wchar_t>(message[0] - L'A' + L'a');
  return message;
}

void RaiseError(DWORD code, const std::wstring& what) { throw VslError(what + L": " + Reason(code)); }

}  // namespace win32
