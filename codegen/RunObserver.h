// What a watcher of a script's parse and run is told: every command run
// while parsing, every instruction the executor runs and every parse error.
// The driver installs one for the install log; nothing else depends on it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct CommandEvent {
  enum class Phase { Parse, Run };
  Phase phase = Phase::Parse;
  // The instruction's index in the list (Run only), else -1.
  std::int32_t index = -1;
  // The script line of the command, 0 when unknown.
  std::int32_t line = 0;
  std::int32_t opcode = 0;
  // The expanded parameters, as they were when the command started.
  std::array<std::wstring, 4> params;
  // True when the command failed; `outcome` is then the failure's
  // description, otherwise the command's result ("" when it has none).
  bool failed = false;
  std::wstring outcome;
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // A command has run (or failed) while parsing or executing.
  virtual void CommandRan(const CommandEvent& event) = 0;
  // A parse error was reported; `message` without its leading ": ".
  virtual void ParseError(std::int32_t line, const std::wstring& message) = 0;
};
