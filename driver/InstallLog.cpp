#include "driver/InstallLog.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "codegen/OPCODES.h"
#include "platform/Text.h"

namespace {

// Keys stay in the order they are set, as the records are documented.
using Json = nlohmann::ordered_json;

std::string Utf8(const std::wstring& s) { return text::ToUtf8(s); }

}  // namespace

InstallLog::InstallLog(const std::wstring& path) : file_(platform::Fs().Open(path, platform::OpenMode::Append)) {}

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

void InstallLog::Command(const CommandEvent& event) {
  Json j;
  j["time"] = FormatTime(std::chrono::system_clock::now());
  const bool run = event.phase == CommandEvent::Phase::Run;
  j["phase"] = run ? "run" : "parse";
  if (run) j["index"] = event.index;
  if (event.line > 0) j["line"] = event.line;
  j["op"] = OPCODES::OpcodeName(event.opcode);
  Json params = Json::array();
  for (const std::wstring& p : event.params) params.push_back(Utf8(p));
  j["params"] = std::move(params);
  j[event.failed ? "error" : "result"] = Utf8(event.outcome);
  WriteLine(j.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void InstallLog::ParseError(std::int32_t line, const std::wstring& message) {
  Json j;
  j["phase"] = "parse";
  j["line"] = line;
  j["error"] = Utf8(message);
  WriteLine(j.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void InstallLog::End(int exitStatus) {
  Json j;
  j["phase"] = "end";
  j["exit"] = exitStatus;
  WriteLine(j.dump());
}

void InstallLog::WriteLine(const std::string& json) {
  // One write per record, straight to the file: nothing waits in a buffer
  // when the process is killed.
  try {
    file_->Write(json + "\n");
  } catch (const VslError&) {
    // A log that can no longer be written (a full disk) must not end the
    // installation it records.
  }
}
