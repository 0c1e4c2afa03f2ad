// A backup's file written through the C library's stream, on the systems
// whose files the runtime opens that way (POSIX, the web page's in-memory
// file system).
#pragma once

#include <cstdio>
#include <span>

#include "ports/Shell.h"

namespace lu14 {

class StdioFile : public OutputFile {
 public:
  explicit StdioFile(std::FILE* file) : file_(file) {}
  ~StdioFile() override {
    if (file_) std::fclose(file_);
  }
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;

  bool Write(std::span<const std::uint8_t> bytes) override {
    return file_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  // The standard library reaches the system's buffers, not the disk itself.
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

}  // namespace lu14
