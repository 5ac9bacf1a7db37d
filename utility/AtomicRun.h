// An atomic run: the journal of the run, and the platform pieces that note
// every change the script's commands make in it before they make it. The
// pieces are installed while the script is parsed and run; everything else
// the program does (its log, a decrypted copy of the script) stays outside.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"
#include "utility/Journal.h"

namespace Utility {

class AtomicRun {
 public:
  // Starts the journal of a run of `script`; `native` are the machine's own
  // pieces, which the journaling pieces pass every call on to.
  AtomicRun(const platform::Platform& native, const std::wstring& script);
  ~AtomicRun();
  AtomicRun(const AtomicRun&) = delete;
  AtomicRun& operator=(const AtomicRun&) = delete;

  // The journaling pieces, for the script's parse and run.
  platform::Platform Pieces();
  Journal& TheJournal() { return journal_; }

 private:
  class Files;
  class Keys;
  class Programs;
  class Places;

  Journal journal_;
  std::unique_ptr<Files> files_;
  std::unique_ptr<Keys> keys_;
  std::unique_ptr<Programs> programs_;
  std::unique_ptr<Places> places_;
  platform::Platform native_;
};

}  // namespace Utility
