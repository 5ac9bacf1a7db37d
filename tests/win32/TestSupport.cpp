#include "TestSupport.h"

#include <cstdio>
#include <vector>

namespace wintest {

namespace {

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA data;
  HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &data);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = dir + "\\" + name;
      ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        ::DeleteFileA(path.c_str());
    } while (::FindNextFileA(h, &data));
    ::FindClose(h);
  }
  ::RemoveDirectoryA(dir.c_str());
}

}  // namespace

std::string ExeDir() {
  char buffer[MAX_PATH];
  DWORD n = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string path(buffer, n);
  return path.substr(0, path.find_last_of('\\'));
}

ScratchDir::ScratchDir() {
  char temp[MAX_PATH];
  ::GetTempPathA(sizeof temp, temp);
  static unsigned counter = 0;
  for (;;) {
    char name[64];
    std::snprintf(name, sizeof name, "vslw%lu_%u", ::GetCurrentProcessId(), counter++);
    dir_ = std::string(temp) + name;
    if (::CreateDirectoryA(dir_.c_str(), nullptr)) break;
  }
}

ScratchDir::~ScratchDir() { RemoveTree(dir_); }

std::string ScratchDir::Path(const std::string& name) const { return name.empty() ? dir_ : dir_ + "\\" + name; }

std::wstring ScratchDir::WPath(const std::string& name) const {
  std::string p = Path(name);
  int n = ::MultiByteToWideChar(CP_ACP, 0, p.data(), static_cast<int>(p.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, p.data(), static_cast<int>(p.size()), w.data(), n);
  return w;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string ReadFileBytes(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  std::fclose(f);
  return out;
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DirectoryGuard::DirectoryGuard() {
  char buffer[MAX_PATH];
  cwd_.assign(buffer, ::GetCurrentDirectoryA(sizeof buffer, buffer));
  for (int i = 0; i < 26; ++i) {
    const char name[] = {'=', static_cast<char>('A' + i), ':', '\0'};
    DWORD n = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
    had_[i] = n > 0 && n < sizeof buffer;
    if (had_[i]) vars_[i].assign(buffer, n);
  }
}

DirectoryGuard::~DirectoryGuard() {
  ::SetCurrentDirectoryA(cwd_.c_str());
  for (int i = 0; i < 26; ++i) {
    const char name[] = {'=', static_cast<char>('A' + i), ':', '\0'};
    ::SetEnvironmentVariableA(name, had_[i] ? vars_[i].c_str() : nullptr);
  }
}

}  // namespace wintest
