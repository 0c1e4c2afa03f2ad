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

namespace lu14 {
namespace {

class StdioFile : public OutputFile {
 public:
  explicit StdioFile(std::FILE* file) : file_(file) {}
  ~StdioFile() override {
    if (file_) std::fclose(file_);
  }
  bool Write(std::span<const std::uint8_t> bytes) override {
    return file_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  bool FlushToDisk() override { return file_ && std::fflush(file_) == 0; }
  bool Close() override {
    if (!file_) return false;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
  }

 private:
  std::FILE* file_;
};

}  // namespace

// The page is one process; the part file's name needs no other.
std::uint32_t RealTimeRuntime::ProcessId() { return 1; }

std::string RealTimeRuntime::PlatformErrorText() { return std::strerror(errno); }

std::unique_ptr<OutputFile> RealTimeRuntime::OpenOutputFile(const std::filesystem::path& path) {
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  if (!file) return nullptr;
  return std::make_unique<StdioFile>(file);
}

MoveOutcome RealTimeRuntime::MoveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code error;
  if (std::filesystem::exists(to, error)) return MoveOutcome::TargetExists;
  return std::rename(from.string().c_str(), to.string().c_str()) == 0 ? MoveOutcome::Moved : MoveOutcome::Failed;
}

}  // namespace lu14
