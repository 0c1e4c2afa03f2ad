// A backup's file written through the C library's stream, on the systems
// whose files the runtime opens that way (POSIX, the web page's in-memory
// file system).
#pragma once

#include <stdio.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>

#include "ports/Shell.h"

namespace lu14 {

class StdioFile : public OutputFile {
 public:
  // A new file at `path`, empty; nothing when it cannot be made.
  static std::unique_ptr<OutputFile> Open(const std::filesystem::path& path) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (!file) return nullptr;
    return std::make_unique<StdioFile>(file);
  }

  explicit StdioFile(std::FILE* file) : file_(file) {}
  ~StdioFile() override {
    if (file_) std::fclose(file_);
  }
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;

  bool Write(std::span<const std::uint8_t> bytes) override {
    return file_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  // The stream's buffer into the system's, then the system's onto the disk:
  // a backup the update relies on must survive a power cut right after.
  bool FlushToDisk() override { return file_ && std::fflush(file_) == 0 && fsync(fileno(file_)) == 0; }
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
