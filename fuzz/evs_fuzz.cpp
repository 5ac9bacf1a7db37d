// An encrypted script: decrypted into a temporary copy as vsl does, then
// parsed and run like any script, and the copy removed.
#include "FuzzPlatform.h"
#include "encoder/CFileEncoder.h"
#include "utility/Utility.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzPlatform p;
  p.Write(L"C:\\work\\script.evs", {reinterpret_cast<const char*>(data), size});
  const std::wstring copy = Utility::MakeTempFileName();
  CFileEncoder().Decrypt(L"C:\\work\\script.evs", copy);
  ParseAndRun(copy);
  try {
    if (Utility::IsFileExists(copy)) p.fs.RemoveFile(copy);
  } catch (const VslError&) {
  }
  return 0;
}
