// lu14 as a process, for what only a process shows: exit codes, its standard
// descriptors, signals, files on the real file system, several at once. Each
// runs through /bin/sh, which sets it up and then execs lu14 itself (so the id
// of the child is lu14's), in the C locale, with standard input not a
// terminal and its output and error streams caught in files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace lu14::cli {

struct Process {
  int exitCode = -1;  // -1: it did not exit by itself (a signal ended it, or it did not end in time)
  std::string out;
  std::string err;
};

struct ProcessSetup {
  // Environment assignments for lu14, such as "LANG=ru_RU.UTF-8".
  std::string environment{};
  // Shell words after lu14's own redirections, which they override: "2>&-"
  // starts it with its error stream closed.
  std::string redirections{};
  // Shell commands run before lu14 in the same shell ("ulimit -f 100").
  std::string before{};
  // The user's home (HOME), made with a Documents folder in it when nothing
  // of that name is there.
  std::filesystem::path home = DefaultHome();

  static std::filesystem::path DefaultHome();
};

// A folder of its own under the test's temporary folder, emptied.
std::filesystem::path FreshFolder(const std::string& name);

// lu14 started in the background.
class LuChild {
 public:
  LuChild(const std::string& arguments, const ProcessSetup& setup = {});
  // One still running (a test that failed before it ended) is killed and reaped.
  ~LuChild();
  LuChild(const LuChild&) = delete;
  LuChild& operator=(const LuChild&) = delete;

  pid_t Id() const { return id_; }
  void Signal(int signal) const;
  // Waits for it to end, at most `limit` (a generous bound, never a pause):
  // what it wrote, and its exit code.
  Process Wait(std::chrono::seconds limit = std::chrono::seconds(120));

 private:
  pid_t id_ = -1;
  std::filesystem::path outFile_;
  std::filesystem::path errFile_;
};

// lu14 run to its end.
Process RunBinary(const std::string& arguments, const ProcessSetup& setup = {});

}  // namespace lu14::cli
