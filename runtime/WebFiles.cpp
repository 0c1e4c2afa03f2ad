// RealTimeRuntime: the backup's file in a web page. Files live in the
// module's in-memory file system, from which the page offers a backup as a
// download; the page is one process with one thread, so a move that checks
// for its target first cannot race with another writer.
#include <stdio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "runtime/RealTimeRuntime.h"
#include "runtime/StdioFile.h"

namespace lu14 {

// The page is one process; the part file's name needs no other.
std::uint32_t RealTimeRuntime::ProcessId() { return 1; }

std::string RealTimeRuntime::PlatformErrorText() { return std::strerror(errno); }

std::unique_ptr<OutputFile> RealTimeRuntime::OpenOutputFile(const std::filesystem::path& path) {
  return StdioFile::Open(path);
}

MoveOutcome RealTimeRuntime::MoveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code error;
  if (std::filesystem::exists(to, error)) return MoveOutcome::TargetExists;
  return std::rename(from.string().c_str(), to.string().c_str()) == 0 ? MoveOutcome::Moved : MoveOutcome::Failed;
}

}  // namespace lu14
