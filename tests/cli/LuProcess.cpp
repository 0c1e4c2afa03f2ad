#include "tests/cli/LuProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace lu14::cli {
namespace {

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// The folders of this test process: named by its id, so that two runs of the
// suites at once (two checkouts on one machine) never write into each other's.
std::filesystem::path OwnTempFolder() {
  return std::filesystem::path(::testing::TempDir()) / ("lu14-tests-" + std::to_string(getpid()));
}

// ... and removed as the process ends (the lu14 processes it starts are
// other programs, which never run this).
struct OwnTempFolderRemoval {
  ~OwnTempFolderRemoval() {
    std::error_code ignored;
    std::filesystem::remove_all(OwnTempFolder(), ignored);
  }
} ownTempFolderRemoval;

}  // namespace

std::filesystem::path ProcessSetup::DefaultHome() { return OwnTempFolder() / "lu14-process"; }

std::filesystem::path FreshFolder(const std::string& name) {
  const std::filesystem::path folder = OwnTempFolder() / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

LuChild::LuChild(const std::string& arguments, const ProcessSetup& setup) {
  static std::atomic<int> started{0};
  // A test may have put a file where the Documents folder goes.
  if (!std::filesystem::exists(setup.home / "Documents")) std::filesystem::create_directories(setup.home / "Documents");
  const std::filesystem::path streams =
      FreshFolder("lu14-streams-" + std::to_string(started++));
  outFile_ = streams / "out";
  errFile_ = streams / "err";
  const std::string command = (setup.before.empty() ? "" : setup.before + "; ") + "HOME=" + Quoted(setup.home) +
                              " XDG_DOCUMENTS_DIR= LC_ALL= LC_MESSAGES= LANG=C.UTF-8 " + setup.environment +
                              " exec " + LU14_BINARY + " " + arguments + " </dev/null >" + Quoted(outFile_) +
                              " 2>" + Quoted(errFile_) + " " + setup.redirections;
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  if (posix_spawn(&id_, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) id_ = -1;
  EXPECT_GT(id_, 0) << "cannot start " << command;
}

LuChild::~LuChild() {
  if (id_ <= 0) return;
  kill(id_, SIGKILL);
  waitpid(id_, nullptr, 0);
}

void LuChild::Signal(int signal) const { kill(id_, signal); }

Process LuChild::Wait(std::chrono::seconds limit) {
  Process ended;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  pid_t waited = 0;
  while (id_ > 0 && (waited = waitpid(id_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (waited == id_) {
    id_ = -1;
    if (WIFEXITED(status)) ended.exitCode = WEXITSTATUS(status);
  } else {
    ADD_FAILURE() << "lu14 " << id_ << " did not end within " << limit.count() << " s";
  }
  ended.out = ReadText(outFile_);
  ended.err = ReadText(errFile_);
  return ended;
}

Process RunBinary(const std::string& arguments, const ProcessSetup& setup) { return LuChild(arguments, setup).Wait(); }

}  // namespace lu14::cli
