// One run of the console tool: the core's window model without a window, in
// a runtime (the wall clock; virtual time in the tests), over a HID platform
// (hardware or simulated).
#pragma once

#include <functional>
#include <ostream>

#include "app/EventLoop.h"
#include "app/TMForm.h"
#include "app/cli/CliOptions.h"

namespace lu14::cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitNoMeter = 3;

class CliSession {
 public:
  // step: called between messages (a simulated meter's scripted events).
  CliSession(const CliOptions& options, Shell& shell, EventLoop& loop, HidPlatform& platform, std::ostream& out,
             std::ostream& err, bool terminal, std::function<void()> step = {});
  int Run();

 private:
  bool RunUntil(const std::function<bool()>& condition, std::chrono::seconds limit);
  std::string UpdateFailure(bool ended) const;
  // The meter found and read once by the status poll (its identity at least).
  bool WaitForPoll();
  int Status();
  int Update();
  int Option();
  int Checksum();

  const CliOptions& options_;
  EventLoop& loop_;
  std::ostream& out_;
  std::ostream& err_;
  bool terminal_;
  std::function<void()> step_;
  TMForm form_;
};

}  // namespace lu14::cli
