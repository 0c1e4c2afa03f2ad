// The files a user names for lu14 to read: the backup to restore and the
// recording to replay. No such file may hold the run: it is read in pieces
// up to a limit (a larger one is refused, a plain file before a byte is read),
// and a file that has nothing to give yet (a FIFO, a pipe) is waited for in
// short slices, asking between them whether a stop signal came.
//
// POSIX (InputFilePosix.cpp): opened without blocking, waited for with poll().
// Windows (InputFileWindows.cpp): ReadFile in pieces, the stop asked between
// them; a pipe that gives nothing blocks ReadFile itself until its writer
// writes or closes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>

namespace lu14::cli {

enum class InputFault {
  None,
  Missing,      // there is no such file
  Unreadable,   // it is there, but cannot be opened or read (a folder, no permission, a device error)
  TooLarge,     // it holds more than the reader's limit
  Interrupted,  // a stop was asked for while its bytes were awaited
};

class InputFile {
 public:
  // stop: asked before each piece and while waiting; true ends the reading (Interrupted).
  InputFile(const std::filesystem::path& path, std::function<bool()> stop);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Up to `size` bytes into `bytes`; 0 at the end of the file or on a fault.
  std::size_t Read(char* bytes, std::size_t size);
  InputFault Fault() const { return fault_; }
  // The size, when the system knows it before the file is read (a plain file).
  std::optional<std::uintmax_t> KnownSize() const { return knownSize_; }

 private:
  struct Handle;  // the system's own, in the platform's file
  std::unique_ptr<Handle> handle_;
  std::function<bool()> stop_;
  InputFault fault_ = InputFault::None;
  std::optional<std::uintmax_t> knownSize_;
};

struct InputText {
  std::string bytes;  // the whole file when there is no fault
  InputFault fault = InputFault::None;
};

// The whole file when it holds at most `limit` bytes.
InputText ReadInputFile(const std::filesystem::path& path, std::size_t limit, const std::function<bool()>& stop);

// An InputFile as a stream buffer, for reading it line by line. The end of
// input comes at the end of the file and at a fault; the file says which.
class InputFileBuffer : public std::streambuf {
 public:
  explicit InputFileBuffer(InputFile& file) : file_(file) {}

 protected:
  int_type underflow() override;

 private:
  InputFile& file_;
  char piece_[4096];
};

}  // namespace lu14::cli
