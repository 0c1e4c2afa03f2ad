// RealTimeRuntime: the backup's file, the process id its part file is named
// with, and the move that never replaces one, on POSIX systems.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/RealTimeRuntime.h"
#include "runtime/StdioFile.h"

namespace lu14 {
namespace {

// Makes a rename in `folder` durable: the directory entry is on the disk.
bool SyncFolder(const std::filesystem::path& folder) {
  const int descriptor = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool synced = fsync(descriptor) == 0;
  close(descriptor);
  return synced;
}

}  // namespace

std::uint32_t RealTimeRuntime::ProcessId() { return static_cast<std::uint32_t>(getpid()); }

std::string RealTimeRuntime::PlatformErrorText() { return std::strerror(errno); }

std::unique_ptr<OutputFile> RealTimeRuntime::OpenOutputFile(const std::filesystem::path& path) {
  return StdioFile::Open(path);
}

MoveOutcome RealTimeRuntime::MoveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  // renameat2 checks and moves in one step. File systems without
  // RENAME_NOREPLACE refuse it with EINVAL; there a hard link does the same
  // (it fails when the name is taken), and the old name is removed after.
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) return MoveOutcome::TargetExists;
    if (errno != EINVAL) return MoveOutcome::Failed;
    if (link(from.c_str(), to.c_str()) != 0) return errno == EEXIST ? MoveOutcome::TargetExists : MoveOutcome::Failed;
    unlink(from.c_str());
  }
  return SyncFolder(to.parent_path()) ? MoveOutcome::Moved : MoveOutcome::Failed;
}

}  // namespace lu14
