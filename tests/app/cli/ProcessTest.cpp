// lu14 guarding its own process: its standard descriptors, the files it is
// given to read, and the recording it writes beside its work. Each runs the
// real binary.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/app/cli/JsonLines.h"
#include "tests/app/cli/LuProcess.h"

namespace lu14::cli {
namespace {

using namespace std::chrono_literals;

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

std::vector<std::filesystem::path> BackupsIn(const std::filesystem::path& home) {
  std::vector<std::filesystem::path> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(home / "Documents" / "lu14", error)) {
    found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Started with one of its standard streams closed, lu14 must not let the file
// it opens next take that descriptor: the progress text (standard error) or
// the results (standard output) would go into the backup or the recording.
TEST(LuProcess, AStreamClosedAtTheStartNeverBecomesTheBackupOrTheRecording) {
  struct Case {
    const char* what;
    const char* options;  // before the command; REC stands for the recording's path
    const char* command;
    const char* redirections;
    int exitCode;
  };
  const Case cases[] = {
      // The update stops at chunk 1000, well after its backup was written.
      {"update, error stream closed", "--simulate=sum-mismatch", "update --yes", "2>&-", 1},
      {"backup, error stream closed", "--simulate", "backup", "2>&-", 0},
      {"recording, output stream closed", "--simulate --record REC", "status", ">&-", 0},
      {"recording, error stream closed", "--simulate --record REC", "backup", "2>&-", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::filesystem::path home = FreshFolder("lu14-closed-stream");
    const std::filesystem::path recording = home / "report.jsonl";
    std::string options = c.options;
    if (const auto at = options.find("REC"); at != std::string::npos) options.replace(at, 3, Quoted(recording));
    const Process run = RunBinary(options + " " + c.command, {.redirections = c.redirections, .home = home});
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;

    if (std::string(c.command) != "status") {
      const std::vector<std::filesystem::path> backups = BackupsIn(home);
      ASSERT_EQ(backups.size(), 1u);
      EXPECT_EQ(std::filesystem::file_size(backups[0]), 4352u);
      const Process restore = RunBinary("--simulate restore --dry-run " + Quoted(backups[0]), {.home = home});
      EXPECT_EQ(restore.exitCode, 0) << restore.err;
      EXPECT_NE(restore.out.find("the meter already holds the settings of"), std::string::npos) << restore.out;
    }
    if (options.find("--record") != std::string::npos) {
      const Process replayed = RunBinary("--replay " + Quoted(recording) + " " + c.command, {.home = home});
      EXPECT_EQ(replayed.exitCode, 0) << replayed.err;
    }
  }
}

}  // namespace
}  // namespace lu14::cli
