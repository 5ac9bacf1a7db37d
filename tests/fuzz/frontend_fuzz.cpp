// The front end: a script's bytes through the tokenizer and the parser to
// the instruction list, which then runs. Built twice: fuzz_frontend takes
// the input as a script, fuzz_evs (VSL_FUZZ_ENCRYPTED) as an encrypted one,
// decrypted into a temporary copy as vsl does (the copy goes with the
// memory file system, which lives for one input).
// The platform is the memory file system, the POSIX registry on an SQLite
// database held in memory (never a file), and the test doubles of the unit
// tests for dialogs, programs and the system; the fuzz build links no other
// piece of a platform backend, so a slip would not link rather than reach
// the machine.
#include "Doubles.h"
#include "MemoryPlatform.h"
#include "driver/InstallLog.h"
#include "encoder/CFileEncoder.h"
#include "parser/CVSLParser.h"
#include "utility/Utility.h"

namespace {

struct FuzzPlatform {
  FuzzPlatform() {
    for (const wchar_t* dir : {L"C:\\windows", L"C:\\temp", L"C:\\work"}) fs.CreateDir(dir);
    fs.ChangeDir(L"C:\\work");
    sys.tempDir = L"C:\\temp\\";
    // Yes, a typed answer holding a reference, and the default, in turn.
    for (int i = 0; i < 20; ++i) ui.answers.insert(ui.answers.end(), {L"y", L"typed $(a)", L""});
  }
  // The registry is opened once, since setting up a database takes longer
  // than most inputs do; each input leaves it empty again.
  ~FuzzPlatform() {
    std::wstring name;
    while (reg.EnumKey(platform::kHKeyLocalMachine, 0, 1024, &name) == platform::kErrorSuccess && DeleteTree(name)) {
    }
    std::vector<std::uint8_t> data;
    while (reg.EnumValue(platform::kHKeyLocalMachine, 0, &name, nullptr, &data) == platform::kErrorSuccess &&
           reg.DeleteValue(platform::kHKeyLocalMachine, name) == platform::kErrorSuccess) {
    }
  }
  bool DeleteTree(const std::wstring& path) {
    platform::KeyHandle key(reg);
    reg.OpenKey(platform::kHKeyLocalMachine, path, platform::kKeyRead, key.Out());
    std::wstring name;
    while (reg.EnumKey(key.Get(), 0, 1024, &name) == platform::kErrorSuccess && DeleteTree(path + L"\\" + name)) {
    }
    return reg.DeleteKey(platform::kHKeyLocalMachine, path) == platform::kErrorSuccess;
  }

  std::unique_ptr<platform::FileSystem> fsStore = NewMemoryFileSystem();
  platform::FileSystem& fs = *fsStore;
  inline static posix::PosixRegistry reg{[] { return std::string(":memory:"); }};
  FakeUi ui;
  FakeProcesses procs;
  FakeSystem sys;
  platform::ScopedPlatform scoped{platform::Platform{&fs, &reg, &procs, &ui, &sys}};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzPlatform p;
#ifdef VSL_FUZZ_ENCRYPTED
  const std::wstring input = L"C:\\work\\script.evs", script = Utility::MakeTempFileName();
#else
  const std::wstring input = L"C:\\work\\script.vsl", script = input;
#endif
  p.fs.Open(input, platform::OpenMode::Write)->Write({reinterpret_cast<const char*>(data), size});
  if (script != input) CFileEncoder().Decrypt(input, script);
  // Parsed and run as vsl does, with the install log watching. A failure (VslError) and the end of the program
  // (ProgramExit) are outcomes a script may have; anything else escapes and is a finding.
  InstallLog log(L"C:\\install.log");
  CVSLParser parser;
  parser.SetObserver(&log);
  try {
    parser.Parse(script);
    parser.Execute({0, 0});
  } catch (const VslError&) {
  } catch (const ProgramExit&) {
  }
  return 0;
}
