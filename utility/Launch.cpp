// Registration of COM servers and type libraries, program launch, writing a
// text file and the writability test. Each operation hands its work to a
// fresh system helper; none of them reads a started program's exit status.
#include "utility/CSystemHelper.h"
#include "utility/Utility.h"

namespace Utility {

namespace {

std::wstring WithoutEnclosingQuotes(const std::wstring& text) { return IsQuoted(text) ? StripQuotes(text) : text; }

}  // namespace

// The registration operations call the helper only for a path that names an
// existing file, and pass the path as it came (quotes included).

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
  helper.RunProgram(path, L"/RegServer");
  return true;
}

bool UnregEXE(const std::wstring& path) {
  CSystemHelper helper;
  if (!IsFileExists(path)) return false;
  helper.RunProgram(path, L"/UnregServer");
  return true;
}

bool Run(std::wstring program, std::wstring arguments) {
  CSystemHelper helper;
  program = WithoutEnclosingQuotes(program);
  arguments = WithoutEnclosingQuotes(arguments);
  helper.RunProgram(program, arguments);
  return true;
}

void RunShellCmd(std::wstring commandLine) {
  CSystemHelper helper;
  const std::wstring windowsDir = GetWinDir();
  commandLine = WithoutEnclosingQuotes(commandLine);
  const std::wstring interpreter = IsWindowsNT() ? windowsDir + L"\\system32\\cmd.exe" : L"C:\\COMMAND.COM";
  helper.RunProgram(interpreter, L"/c " + commandLine);
}

std::wstring WriteFile(std::wstring path, const std::wstring& data) {
  CSystemHelper helper;
  path = WithoutEnclosingQuotes(path);
  helper.WriteTextFile(path, data);
  return data;
}

bool IsFileWritable(std::wstring path) {
  CSystemHelper helper;
  path = WithoutEnclosingQuotes(path);
  std::int32_t status = 0;
  helper.QueryFileWritable(path, status);
  return status != 0;
}

}  // namespace Utility
