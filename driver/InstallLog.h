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
//   {"time":...,"phase":"parse","line":N,"error":"MESSAGE"}   a parse error;
//   {"time":...,"phase":"commit","changes":N}   an atomic run kept its changes;
//   {"time":...,"phase":"rollback","undone":N,"failed":["TEXT",...],"not_undoable":K}
//       an atomic run undid its changes;
//   {"time":...,"phase":"end","exit":STATUS}   the last record.
//
// A new log file is readable by its owner only: it may hold answers typed
// into dialogs. A log that can no longer be written (a full disk) is
// reported once on standard error, and the run goes on.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "codegen/RunObserver.h"
#include "platform/Platform.h"
#include "utility/Journal.h"

class InstallLog : public RunObserver {
 public:
  // Opens `path` for appending through the platform's file system; raises
  // VslError when it cannot.
  explicit InstallLog(const std::wstring& path);

  void Command(const CommandEvent& event) override;
  void ParseError(std::int32_t line, const std::wstring& message) override;
  // The end of an atomic run: its changes kept, or undone.
  void Commit(int changes);
  void Rollback(const Utility::RollbackReport& report);
  // The last record: the program's exit status.
  void End(int exitStatus);

  // "2026-12-05T21:04:05.123Z": the time in UTC to the millisecond.
  static std::string FormatTime(std::chrono::system_clock::time_point t);

 private:
  // A record with its time and phase.
  using Json = nlohmann::ordered_json;
  static Json Record(const char* phase);
  void WriteLine(const Json& record);

  std::unique_ptr<platform::File> file_;
  bool failureReported_ = false;
};
