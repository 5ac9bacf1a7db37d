// Registration of COM servers and type libraries, program launch, writing a
// text file and the writability test. Each operation hands its work to a
// fresh system helper; none of them reads a started program's exit status.
#include "utility/CSystemHelper.h"
#include "utility/Utility.h"

namespace Utility {

// The registration operations call the helper only for a path that names an
// existing file. DLL paths are passed as they came (quotes included; the
// helper's registration methods look through them); an EXE server is started
// by the name inside the quotes.

bool RegDLL(const std::wstring& path) {
  CSystemHelper helper;
  if (!IsFileExists(path)) return false;
  std::int32_t status = 0;
  helper.RegisterDll(path, status);
  return status == 0;
}

bool UnregDLL(const std::wstring& path) {
  CSystemHelper helper;
  if (!IsFileExists(path)) return false;
  std::int32_t status = 0;
  helper.UnregisterDll(path, status);
  return status != 0;
}

bool DelComDLL(const std::wstring& path) {
  const bool unregistered = UnregDLL(path);
  const bool deleted = DelFile(path);
  return unregistered && deleted;
}

bool RegTLB(const std::wstring& path) {
  // Unlike the others, any failure here is an answer of False.
  try {
    CSystemHelper helper;
    if (!IsFileExists(path)) return false;
    helper.RegisterTypeLib(path);
    return true;
  } catch (const VslError&) {
    return false;
  }
}

bool RegEXE(const std::wstring& path) {
  CSystemHelper helper;
  if (!IsFileExists(path)) return false;
  helper.RunProgram(IsQuoted(path) ? StripQuotes(path) : path, L"/RegServer");
  return true;
}

bool UnregEXE(const std::wstring& path) {
  CSystemHelper helper;
  if (!IsFileExists(path)) return false;
  helper.RunProgram(IsQuoted(path) ? StripQuotes(path) : path, L"/UnregServer");
  return true;
}

bool Run(std::wstring program, std::wstring arguments) {
  CSystemHelper helper;
  if (IsQuoted(program)) program = StripQuotes(program);
  if (IsQuoted(arguments)) arguments = StripQuotes(arguments);
  helper.RunProgram(program, arguments);
  return true;
}

// The command interpreter is started by the platform itself: "/c " and the
// line on Windows, its POSIX stand-in there.
void RunShellCmd(std::wstring commandLine) {
  const std::wstring windowsDir = GetWinDir();
  if (IsQuoted(commandLine)) commandLine = StripQuotes(commandLine);
  const std::wstring interpreter = IsWindowsNT() ? windowsDir + L"\\system32\\cmd.exe" : L"C:\\COMMAND.COM";
  platform::Proc().RunCommandLine(interpreter, commandLine);
}

std::wstring WriteFile(std::wstring path, const std::wstring& data) {
  CSystemHelper helper;
  if (IsQuoted(path)) path = StripQuotes(path);
  helper.WriteTextFile(path, data);
  return data;
}

bool IsFileWritable(std::wstring path) {
  CSystemHelper helper;
  if (IsQuoted(path)) path = StripQuotes(path);
  std::int32_t status = 0;
  helper.QueryFileWritable(path, status);
  return status != 0;
}

}  // namespace Utility
