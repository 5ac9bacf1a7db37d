// The system helper: registration of COM servers and type libraries,
// program launch, directory-path creation, text-file writing and the
// writability test, as one in-process class. Operations create a fresh
// instance per call.
#pragma once

#include <cstdint>
#include <string>

class CSystemHelper {
 public:
  // Loads the library and calls its DllRegisterServer; status = its result
  // (non-zero when the library or the function is missing).
  void RegisterDll(const std::wstring& path, std::int32_t& status);
  // Calls DllUnregisterServer; status 1 when it returned 0, else 0.
  void UnregisterDll(const std::wstring& path, std::int32_t& status);
  // Starts the program with the argument string and waits for it to end.
  void RunProgram(const std::wstring& program, const std::wstring& arguments);
  // Creates every missing directory of the path.
  void CreatePath(const std::wstring& path);
  // Appends the data and a line end to the file, creating it.
  void WriteTextFile(const std::wstring& path, const std::wstring& data);
  // Registers a type library; raises VslError where there are none.
  void RegisterTypeLib(const std::wstring& path);
  // Non-zero for an existing file that is not read-only and for a missing
  // file whose directory exists and is writable.
  void QueryFileWritable(const std::wstring& path, std::int32_t& status);
};
