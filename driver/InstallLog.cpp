#include "driver/InstallLog.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "codegen/OPCODES.h"
#include "platform/Text.h"

namespace {

std::string Utf8(const std::wstring& s) { return text::ToUtf8(s); }

// A new log is made readable by its owner only; an existing one is appended
// to as it is.
std::unique_ptr<platform::File> OpenLog(const std::wstring& path) {
  if (platform::Fs().GetAttributes(path) == platform::kInvalidAttributes) {
    try {
      return platform::Fs().Open(path, platform::OpenMode::CreatePrivate);
    } catch (const VslError&) {
      // Made by someone else meanwhile, or not to be made at all: appending
      // tells which.
    }
  }
  return platform::Fs().Open(path, platform::OpenMode::Append);
}

}  // namespace

InstallLog::InstallLog(const std::wstring& path) : file_(OpenLog(path)) {}

std::string InstallLog::FormatTime(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(t);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss clock{ms - day};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return buf;
}

InstallLog::Json InstallLog::Record(const char* phase) {
  // Keys stay in the order they are set, as the records are documented.
  Json j;
  j["time"] = FormatTime(std::chrono::system_clock::now());
  j["phase"] = phase;
  return j;
}

void InstallLog::Command(const CommandEvent& event) {
  const bool run = event.phase == CommandEvent::Phase::Run;
  Json j = Record(run ? "run" : "parse");
  if (run) j["index"] = event.index;
  if (event.line > 0) j["line"] = event.line;
  j["op"] = OPCODES::OpcodeName(event.opcode);
  Json params = Json::array();
  for (const std::wstring& p : event.params) params.push_back(Utf8(p));
  j["params"] = std::move(params);
  j[event.failed ? "error" : "result"] = Utf8(event.outcome);
  WriteLine(j);
}

void InstallLog::ParseError(std::int32_t line, const std::wstring& message) {
  Json j = Record("parse");
  j["line"] = line;
  j["error"] = Utf8(message);
  WriteLine(j);
}

void InstallLog::Commit(int changes) {
  Json j = Record("commit");
  j["changes"] = changes;
  WriteLine(j);
}

void InstallLog::Rollback(const Utility::RollbackReport& report) {
  Json j = Record("rollback");
  j["undone"] = report.undone;
  Json failed = Json::array();
  for (const std::wstring& f : report.failed) failed.push_back(Utf8(f));
  j["failed"] = std::move(failed);
  j["not_undoable"] = report.notUndoable;
  WriteLine(j);
}

void InstallLog::End(int exitStatus) {
  Json j = Record("end");
  j["exit"] = exitStatus;
  WriteLine(j);
}

void InstallLog::WriteLine(const Json& record) {
  // One write per record, straight to the file: nothing waits in a buffer
  // when the process is killed.
  try {
    file_->Write(record.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
  } catch (const VslError& e) {
    // A log that can no longer be written (a full disk) must not end the
    // installation it records; it is said once.
    if (failureReported_) return;
    failureReported_ = true;
    const std::wstring& why = e.Description();
    const std::size_t colon = why.rfind(L": ");
    platform::UI().ShowNotice(L"vsl: install log: " + (colon == std::wstring::npos ? why : why.substr(colon + 2)));
  }
}
