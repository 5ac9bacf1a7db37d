// The install log's records and its clock.
#include <chrono>

#include "ToolsFixture.h"
#include "driver/InstallLog.h"

namespace {

using namespace std::chrono;

TEST(InstallLogTime, UtcWithMilliseconds) {
  struct Case {
    sys_time<milliseconds> t;
    const char* text;
  } cases[] = {
      {sys_days{1970y / 1 / 1} + 0ms, "1970-01-01T00:00:00.000Z"},
      {sys_days{2026y / 12 / 5} + 21h + 4min + 5s + 123ms, "2026-12-05T21:04:05.123Z"},
      {sys_days{2024y / 2 / 29} + 23h + 59min + 59s + 999ms, "2024-02-29T23:59:59.999Z"},
      {sys_days{2000y / 3 / 1} + 7ms, "2000-03-01T00:00:00.007Z"},
  };
  for (const auto& c : cases) EXPECT_EQ(InstallLog::FormatTime(c.t), c.text);
  // Finer clock ticks are cut, not rounded, to the millisecond.
  EXPECT_EQ(InstallLog::FormatTime(sys_days{2026y / 1 / 1} + 999999us), "2026-01-01T00:00:00.999Z");
}

using InstallLogTest = ToolsFixture;

// Records are appended to what the file held, one a line, with escaped
// text in UTF-8.
TEST_F(InstallLogTest, AppendsOneRecordALine) {
  Write("log", "earlier\n");
  {
    InstallLog log(W("log"));
    CommandEvent run;
    run.phase = CommandEvent::Phase::Run;
    run.index = 4;
    run.line = 0;
    run.opcode = 16;
    run.params = {L"say \"\x00fc\" \\ \n", L"", L"", L""};
    run.failed = true;
    run.outcome = L"it broke";
    log.Command(run);
    log.ParseError(7, L"Expecting =");
    log.End(3);
  }
  const std::string text = Read("log");
  const std::string time = text.substr(text.find("\"time\":\"") + 8, 24);
  EXPECT_EQ(text, "earlier\n{\"time\":\"" + time +
                      "\",\"phase\":\"run\",\"index\":4,\"op\":\"OP_MSGBOX\","
                      "\"params\":[\"say \\\"\xc3\xbc\\\" \\\\ \\n\",\"\",\"\",\"\"],\"error\":\"it broke\"}\n"
                      "{\"phase\":\"parse\",\"line\":7,\"error\":\"Expecting =\"}\n"
                      "{\"phase\":\"end\",\"exit\":3}\n");
}

TEST_F(InstallLogTest, ALogThatCannotBeOpenedRaises) {
  EXPECT_THROW(InstallLog(W("no/such/dir/log")), VslError);
}

}  // namespace
