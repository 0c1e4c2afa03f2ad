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
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "tests/cli/JsonLines.h"
#include "tests/cli/LuProcess.h"

namespace lu14::cli {
namespace {

using namespace std::chrono_literals;

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// The backups a simulated run saved: in Documents/lu14/simulated, apart from
// a real meter's, which stay the only files of Documents/lu14 itself.
std::vector<std::filesystem::path> BackupsIn(const std::filesystem::path& home) {
  std::vector<std::filesystem::path> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(home / "Documents" / "lu14", error)) {
    EXPECT_EQ(entry.path().filename(), "simulated") << "a simulated meter's file among a real meter's";
  }
  for (const auto& entry : std::filesystem::directory_iterator(home / "Documents" / "lu14" / "simulated", error)) {
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

// A file that never ends is refused at its limit, not read into memory (a
// reader without a limit meets the bound on its memory in well under a
// second, and ends with std::bad_alloc).
TEST(LuProcess, AFileWithoutEndIsRefusedAtItsLimit) {
  const std::pair<std::string, std::string> cases[] = {
      {"--simulate restore /dev/zero", "/dev/zero is larger than a settings backup (4352 bytes), so it is not one"},
      {"--replay /dev/zero status",
       "/dev/zero is not a recording lu14 can replay: line 1: the line is longer than 1048576 characters"},
  };
  for (const auto& [arguments, says] : cases) {
    SCOPED_TRACE(arguments);
    const Process run = RunBinary(arguments, {.before = "ulimit -v 1048576"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
  }
}

// Holds the writing end of a FIFO once lu14 has opened its reading end.
class FifoWriter {
 public:
  explicit FifoWriter(const std::filesystem::path& fifo) {
    // Opening the writing end without a reader fails (ENXIO): it succeeds
    // once lu14 has the FIFO open.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while ((descriptor_ = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
  }
  ~FifoWriter() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  bool Open() const { return descriptor_ >= 0; }
  void Write(const std::string& text) const {
    ASSERT_EQ(write(descriptor_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

 private:
  int descriptor_ = -1;
};

// A FIFO with nothing in it holds the reading, but a stop signal ends it.
TEST(LuProcess, AStopSignalEndsTheWaitForAFilesBytes) {
  struct Case {
    const char* arguments;
    int signal;
  };
  const Case cases[] = {
      {"--simulate restore FIFO", SIGINT},
      {"--simulate restore FIFO", SIGTERM},
      {"--replay FIFO status", SIGINT},
      {"--replay FIFO status", SIGTERM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.arguments) + " " + strsignal(c.signal));
    const std::filesystem::path folder = FreshFolder("lu14-fifo");
    const std::filesystem::path fifo = folder / "backup.hex";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string arguments = c.arguments;
    arguments.replace(arguments.find("FIFO"), 4, Quoted(fifo));
    LuChild lu14(arguments);
    const FifoWriter writer(fifo);
    ASSERT_TRUE(writer.Open()) << "lu14 never opened the FIFO";
    lu14.Signal(c.signal);
    const Process run = lu14.Wait();
    EXPECT_EQ(run.exitCode, 5) << run.err;
    EXPECT_NE(run.err.find("lu14: error: interrupted"), std::string::npos) << run.err;
  }
  // The FIFO is not taken for an empty file before its writer writes.
  const std::filesystem::path folder = FreshFolder("lu14-fifo");
  const std::filesystem::path saved = folder / "saved.hex", fifo = folder / "fifo.hex";
  ASSERT_EQ(RunBinary("--simulate backup --output " + Quoted(saved)).exitCode, 0);
  std::ifstream file(saved, std::ios::binary);
  const std::string backup((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  LuChild lu14("--simulate restore --dry-run --force " + Quoted(fifo));
  {
    const FifoWriter writer(fifo);
    ASSERT_TRUE(writer.Open());
    writer.Write(backup);
  }
  const Process run = lu14.Wait();
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("the meter already holds the settings of fifo.hex"), std::string::npos) << run.out;
}

// The recording only serves a report: when it cannot be written (here the
// file-size limit stops it, as a full disk would), the run's own result
// stands, with one JSON result that says what became of the recording.
TEST(LuProcess, ARecordingThatFailsNeverChangesTheResult) {
  struct Case {
    const char* what;
    std::string arguments;
    int exitCode;
    std::string result;  // what the text result or the JSON object says
  };
  const Case cases[] = {
      {"backup", "--simulate backup", 0, "settings saved to "},
      {"backup, JSON", "--simulate backup --json", 0, "\"backup\""},
      {"an update that stops at chunk 1000, JSON", "--simulate=sum-mismatch update --yes --json", 1,
       "\"result\":\"stopped\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::filesystem::path home = FreshFolder("lu14-full-disk");
    const std::filesystem::path recording = home / "report.jsonl";
    // 128 blocks of 512 bytes: the backup fits, the recording of its 4096 transfers does not.
    const Process run = RunBinary("--record " + Quoted(recording) + " " + c.arguments,
                                  {.before = "trap '' XFSZ; ulimit -f 128", .home = home});
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.out.find(c.result), std::string::npos) << run.out;
    const std::string warning = "lu14: the recording " + recording.string() + " could not be written whole";
    EXPECT_NE(run.err.find(warning), std::string::npos) << run.err;
    EXPECT_GT(std::filesystem::file_size(recording), 0u);
    if (c.arguments.find("--json") == std::string::npos) {
      EXPECT_NE(run.out.find("settings saved to "), std::string::npos);
      continue;
    }
    const std::vector<nlohmann::json> lines = JsonLines(run.out);
    const auto results = std::count_if(lines.begin(), lines.end(), [](const nlohmann::json& line) {
      return line.contains("recording-error") || line.contains("error") || line.value("event", "") == "result" ||
             line.contains("backup");
    });
    EXPECT_EQ(results, 1) << run.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().value("exit", 0), c.exitCode) << run.out;
    EXPECT_NE(lines.back().value("recording-error", "").find("could not be written whole"), std::string::npos)
        << run.out;
  }
}

// Backups started together, of one meter in one minute: each writes into a
// part file of its own (its name holds the process id), then takes the
// first free name, so every one is saved and none spoils another.
TEST(LuProcess, BackupsStartedTogetherAreAllSaved) {
  constexpr int kTogether = 12;
  const std::filesystem::path home = FreshFolder("lu14-together");
  std::vector<std::unique_ptr<LuChild>> started;
  for (int i = 0; i < kTogether; ++i) {
    started.push_back(std::make_unique<LuChild>("--simulate backup", ProcessSetup{.home = home}));
  }
  std::set<std::string> saved;
  for (const auto& lu14 : started) {
    const Process run = lu14->Wait();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("settings saved to ")) << run.out;
    saved.insert(run.out);
  }
  EXPECT_EQ(saved.size(), static_cast<std::size_t>(kTogether));
  const std::vector<std::filesystem::path> files = BackupsIn(home);
  ASSERT_EQ(files.size(), static_cast<std::size_t>(kTogether));  // no part file left behind
  for (const std::filesystem::path& file : files) {
    EXPECT_EQ(file.extension(), ".hex") << file;
    EXPECT_EQ(std::filesystem::file_size(file), 4352u) << file;
  }
}

// A backup that cannot be saved says what is wrong with which path, in the
// system's words; an update then is refused before the meter is touched,
// unless --no-backup lets it go on without one. No part of a backup is left.
TEST(LuProcess, ABackupThatCannotBeSavedSaysWhichPathAndWhy) {
  struct Case {
    const char* what;
    std::string arguments;
    bool documentsAFile;
    int exitCode;
    std::string says;
  };
  // 4 blocks of 512 bytes: the backup's 4352 do not fit, as on a full disk.
  const std::string small = "trap '' XFSZ; ulimit -f 4";
  const Case cases[] = {
      {"a full disk", "--simulate update --yes", false, 4,
       ".part: File too large); nothing was written to the meter; make room for it, or run lu14 update "
       "--no-backup to go on without one"},
      {"a full disk, --no-backup", "--simulate update --yes --no-backup", false, 0,
       ".part: File too large\n"},
      {"a full disk, backup", "--simulate backup", false, 1, ".part: File too large); no backup was saved"},
      {"Documents is a file", "--simulate update --yes", true, 4,
       "/Documents: a file, not a folder); run lu14 update --no-backup to go on without one"},
      {"Documents is a file, --no-backup", "--simulate update --yes --no-backup", true, 0,
       "/Documents: a file, not a folder\n"},
      {"Documents is a file, backup", "--simulate backup", true, 1,
       "/Documents: a file, not a folder); name a file with --output FILE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::filesystem::path home = FreshFolder("lu14-unsaved");
    if (c.documentsAFile) std::ofstream(home / "Documents") << "not a folder";
    const Process run =
        RunBinary(c.arguments, {.before = c.documentsAFile ? "" : small, .home = home});
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find((home / "Documents").string()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("written and verified") != std::string::npos, c.exitCode == 0) << run.out;
    EXPECT_TRUE(BackupsIn(home).empty());
  }
}

// lu14 with a terminal (a pseudo-terminal from script(1)) as its standard
// input and output, `input` typed at it, and what the shell line adds
// (redirections); what the terminal showed and the exit code.
struct TerminalRun {
  int exitCode = -1;
  std::string terminal;
};
TerminalRun RunOnTerminal(const std::string& arguments, const std::string& input, const std::string& environment,
                          const std::filesystem::path& folder) {
  const std::filesystem::path shown = folder / "terminal.txt";
  const std::string inner = std::string(LU14_BINARY) + " " + arguments;
  const std::string line = "cd " + Quoted(folder) + " && printf '" + input + "' | env HOME=" + Quoted(folder) +
                           " LANG=C.UTF-8 " + environment + " timeout 120 script -qec \"" + inner + "\" /dev/null > " +
                           Quoted(shown);
  const int status = std::system(line.c_str());
  TerminalRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream file(shown, std::ios::binary);
  run.terminal.assign(std::istreambuf_iterator<char>(file), {});
  return run;
}

// A person at the terminal is asked before anything is written, also when
// only the error stream goes to a file: the question comes on the terminal.
TEST(LuProcess, TheQuestionComesOnTheTerminalWhenOnlyErrorsAreRedirected) {
  const std::filesystem::path folder = FreshFolder("terminal-question");
  std::filesystem::create_directories(folder / "Documents");
  const TerminalRun declined = RunOnTerminal("--simulate update 2>err.txt", "n\\n", "TERM=xterm", folder);
  EXPECT_EQ(declined.exitCode, 1) << declined.terminal;
  EXPECT_NE(declined.terminal.find("write firmware D1.50 to this meter? [y/N]"), std::string::npos)
      << declined.terminal;
  std::ifstream err(folder / "err.txt");
  const std::string errors(std::istreambuf_iterator<char>(err), {});
  EXPECT_NE(errors.find("nothing was written: the update was not confirmed"), std::string::npos) << errors;
  EXPECT_TRUE(BackupsIn(folder).empty());
}

// A terminal that cannot clear a line gets the progress as lines, no ESC [ K.
TEST(LuProcess, ADumbTerminalGetsNoCursorControl) {
  const std::filesystem::path folder = FreshFolder("terminal-dumb");
  std::filesystem::create_directories(folder / "Documents");
  const TerminalRun dumb = RunOnTerminal("--simulate --latency-us 0 update -y", "", "TERM=dumb", folder);
  EXPECT_EQ(dumb.exitCode, 0) << dumb.terminal;
  EXPECT_EQ(dumb.terminal.find("\x1b["), std::string::npos) << dumb.terminal;
  const TerminalRun able = RunOnTerminal("--simulate --latency-us 0 update -y --force", "", "TERM=xterm", folder);
  EXPECT_EQ(able.exitCode, 0) << able.terminal;
  EXPECT_NE(able.terminal.find("\x1b[K"), std::string::npos) << able.terminal;
}

}  // namespace
}  // namespace lu14::cli
