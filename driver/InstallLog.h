// The install log: an opt-in record of what a run did, for administrators
// who need to find out afterwards what an unattended run changed. The file
// is appended, one JSON object per line in UTF-8, and every record is
// written out as it happens, so a run that is killed keeps what it did.
//
//   {"time":"2026-12-05T21:04:05.123Z","phase":"parse","line":3,
//    "op":"OP_REGWRITESTRING","params":["Software\\X","v","1",""],"result":"True"}
//       a command run while parsing (the value of a macro assignment);
//   {"time":...,"phase":"run","index":0,"line":5,"op":...,"params":[...],"result":...}
//       an instruction the executor ran; "error":"TEXT" instead of
//       "result" when it failed (for either phase);
//   {"phase":"parse","line":N,"error":"MESSAGE"}   a parse error;
//   {"phase":"end","exit":STATUS}                  the last record.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "codegen/RunObserver.h"
#include "platform/Platform.h"

class InstallLog : public RunObserver {
 public:
  // Opens `path` for appending through the platform's file system; raises
  // VslError when it cannot.
  explicit InstallLog(const std::wstring& path);

  void Command(const CommandEvent& event) override;
  void ParseError(std::int32_t line, const std::wstring& message) override;
  // The last record: the program's exit status.
  void End(int exitStatus);

  // "2026-12-05T21:04:05.123Z": the time in UTC to the millisecond.
  static std::string FormatTime(std::chrono::system_clock::time_point t);

 private:
  void WriteLine(const std::string& json);

  std::unique_ptr<platform::File> file_;
};
