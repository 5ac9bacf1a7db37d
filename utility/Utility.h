// The system operations behind the script commands: files and directories,
// system paths and temporary files, the registry, registration and program
// launch. They reach the machine only through the platform interface.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "utility/Strings.h"

namespace Utility {

// The root of every registry operation of the script language.
constexpr platform::RegKey HKLM = platform::kHKeyLocalMachine;

// ---- Files and directories -------------------------------------------------
// Failures that an operation does not turn into a result are raised as
// VslError with a description naming the path and the reason.

bool IsFileExists(std::wstring path);
bool IsDirExists(const std::wstring& path);
bool DelFile(const std::wstring& path);
bool RemoveDir(const std::wstring& path);
bool ChangeDir(std::wstring path);
bool MakeDir(const std::wstring& path);
void MakeDirPath(std::wstring& path);
bool DelTree(std::wstring path);
bool DelDirTree(std::wstring& path);
bool ChDirConfirm(std::wstring& path);
bool xCopy(std::wstring src, std::wstring tgt, const bool& bDoEvents);
bool xCopyFile(const std::wstring& src, const std::wstring& tgt, const bool& bDoEvents);
// Ends the program (ProgramExit with status 1) when the copy fails.
bool GuardedCopy(const std::wstring& src, const std::wstring& tgt);

// The current directory of the current drive; change drive and directory as
// the file system primitives do (failures raised).
std::wstring CurrentDirectory();
void ChangeDrive(const std::wstring& text);
void ChangeDirectory(const std::wstring& path);

// ---- System paths and temporary files --------------------------------------

std::wstring GetWinDir();
bool IsWindowsNT();
std::wstring GetTempDir();
std::wstring MakeTempFileName();
// A new empty file for the decrypted copy of an encrypted script: in the
// temporary directory whatever the length of its path (C:\temp where the
// platform names none). Raises VslError naming the temporary directory when
// no file can be made there.
std::wstring MakeScriptCopyFile();
std::wstring CreateTempName();

// ---- Registry ----------------------------------------------------------------
// Every platform failure becomes the documented result; nothing is raised.

std::wstring RegReadString(platform::RegKey root, const std::wstring& keyPath, const std::wstring& valueName);
std::wstring RegReadValue(platform::RegKey root, const std::wstring& keyPath, const std::wstring& valueName);
bool RegWriteString(platform::RegKey root, const std::wstring& keyPath, const std::wstring& valueName,
                    const std::wstring& data);
bool RegWriteValue(platform::RegKey root, const std::wstring& keyPath, const std::wstring& valueName,
                   std::int32_t data);
std::wstring RegDelString(platform::RegKey root, const std::wstring& keyPath, const std::wstring& valueName);
std::wstring RegCountSubNode(platform::RegKey root, const std::wstring& keyPath);
std::wstring RegDelKeyTree(platform::RegKey parent, const std::wstring& keyPath);
// One delete call: only a key without subkeys goes; the answer is not read.
void RegDelKey(platform::RegKey root, const std::wstring& keyPath);
bool IsRegKeyExists(const std::wstring& keyPath);

// ---- Registration and process launch ---------------------------------------

bool RegDLL(const std::wstring& path);
bool UnregDLL(const std::wstring& path);
// Unregisters the DLL, then deletes the file whatever the first step
// answered; True when both succeeded.
bool DelComDLL(const std::wstring& path);
bool RegTLB(const std::wstring& path);
bool RegEXE(const std::wstring& path);
bool UnregEXE(const std::wstring& path);
bool Run(std::wstring program, std::wstring arguments);
void RunShellCmd(std::wstring commandLine);
std::wstring WriteFile(std::wstring path, const std::wstring& data);
bool IsFileWritable(std::wstring path);

}  // namespace Utility
