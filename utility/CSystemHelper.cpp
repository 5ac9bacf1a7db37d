#include "utility/CSystemHelper.h"

#include <optional>

#include "platform/PathSyntax.h"
#include "platform/Platform.h"
#include "utility/Strings.h"

namespace {

using platform::path::IsSep;

// Registration paths reach the helper as the script wrote them, possibly in
// double quotes (the existence test looks through them); the library is
// named by what is inside.
std::optional<long> CallServerEntry(const std::wstring& path, const char* name) {
  return platform::Proc().CallEntryPoint(Utility::IsQuoted(path) ? Utility::StripQuotes(path) : path, name);
}

bool IsDirectory(std::uint32_t attributes) {
  return attributes != platform::kInvalidAttributes && (attributes & platform::kAttrDirectory) != 0;
}

}  // namespace

void CSystemHelper::RegisterDll(const std::wstring& path, std::int32_t& status) {
  const std::optional<long> result = CallServerEntry(path, "DllRegisterServer");
  status = result ? static_cast<std::int32_t>(*result) : 1;
}

void CSystemHelper::UnregisterDll(const std::wstring& path, std::int32_t& status) {
  const std::optional<long> result = CallServerEntry(path, "DllUnregisterServer");
  status = result && *result == 0 ? 1 : 0;
}

void CSystemHelper::RunProgram(const std::wstring& program, const std::wstring& arguments) {
  // Callers hand over the program as it is to be started: Run has taken off
  // the script's enclosing quotes already, and any left are part of the name.
  platform::Proc().Run(program, arguments);
}

void CSystemHelper::CreatePath(const std::wstring& path) {
  auto& fs = platform::Fs();
  // The part that is never created: a drive ("C:") and a leading separator.
  std::size_t pos = 0;
  if (path.size() >= 2 && path[1] == L':') pos = 2;
  while (pos < path.size() && IsSep(path[pos])) ++pos;
  std::wstring current = path.substr(0, pos);

  bool first = true;
  while (pos < path.size()) {
    std::size_t end = pos;
    while (end < path.size() && !IsSep(path[end])) ++end;
    if (end > pos) {
      if (!first) current += L'\\';
      current += path.substr(pos, end - pos);
      first = false;
      std::uint32_t attributes = fs.GetAttributes(current);
      if (attributes == platform::kInvalidAttributes) {
        try {
          fs.CreateDir(current);
        } catch (const VslError&) {
          // Someone else may have created it in the meantime.
          if (!IsDirectory(fs.GetAttributes(current))) throw;
        }
      } else if (!IsDirectory(attributes)) {
        throw VslError(L"Cannot create the directory " + path + L": " + current + L" is a file");
      }
    }
    pos = end;
    while (pos < path.size() && IsSep(path[pos])) ++pos;
  }
}

void CSystemHelper::WriteTextFile(const std::wstring& path, const std::wstring& data) {
  platform::Fs().AppendTextLine(path, data);
}

void CSystemHelper::RegisterTypeLib(const std::wstring& path) {
  // Like the DLL paths, the library is named by what is inside the quotes.
  platform::Proc().RegisterTypeLibrary(Utility::IsQuoted(path) ? Utility::StripQuotes(path) : path);
}

void CSystemHelper::QueryFileWritable(const std::wstring& path, std::int32_t& status) {
  auto& fs = platform::Fs();
  status = 0;
  std::uint32_t attributes = fs.GetAttributes(path);
  if (attributes != platform::kInvalidAttributes) {
    if ((attributes & (platform::kAttrDirectory | platform::kAttrReadOnly)) == 0) status = 1;
    return;
  }
  // A missing file can be written when its directory exists and this
  // process may create files in it. That is a question of real permissions
  // (ownership, group, administrator rights), not of the directory's
  // read-only attribute.
  std::size_t last = path.find_last_of(L"\\/");
  std::wstring dir;
  if (last != std::wstring::npos) {
    dir = path.substr(0, last + 1);
    // "C:\x\y" -> "C:\x"; a root ("\", "C:\") keeps its separator.
    while (dir.size() > 1 && IsSep(dir.back()) && !IsSep(dir[dir.size() - 2]) &&
           !(dir.size() == 3 && dir[1] == L':')) {
      dir.pop_back();
    }
  } else if (path.size() >= 2 && path[1] == L':') {
    dir = path.substr(0, 2) + L".";  // "C:name": the current directory of C:
  } else {
    dir = fs.CurrentDir();
  }
  if (IsDirectory(fs.GetAttributes(dir)) && fs.CanCreateIn(dir)) status = 1;
}
