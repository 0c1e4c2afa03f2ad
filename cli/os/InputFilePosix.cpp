// InputFile on POSIX systems. The file is opened with O_NONBLOCK: opening a
// FIFO for reading would otherwise block until a writer comes, and no stop
// signal could end that (a signal that arrives just before the blocking call
// is counted, and the call then waits on). poll() waits for its bytes instead,
// a short slice at a time. A FIFO opened so shows neither bytes nor an end
// until its first writer has come, so it is not taken for empty.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "cli/os/InputFile.h"

namespace lu14::cli {
namespace {

// How long one wait for bytes lasts before the stop is asked again.
constexpr std::chrono::milliseconds kWaitSlice{100};

}  // namespace

struct InputFile::Handle {
  explicit Handle(int opened) : descriptor(opened) {}
  ~Handle() { close(descriptor); }
  int descriptor;
};

InputFile::InputFile(const std::filesystem::path& path, std::function<bool()> stop) : stop_(std::move(stop)) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    fault_ = errno == ENOENT ? InputFault::Missing : InputFault::Unreadable;
    return;
  }
  handle_ = std::make_unique<Handle>(descriptor);
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
    fault_ = InputFault::Unreadable;
  } else if (S_ISREG(status.st_mode)) {
    knownSize_ = static_cast<std::uintmax_t>(status.st_size);
  }
}

InputFile::~InputFile() = default;

std::size_t InputFile::Read(char* bytes, std::size_t size) {
  while (fault_ == InputFault::None) {
    if (stop_ && stop_()) {
      fault_ = InputFault::Interrupted;
      break;
    }
    pollfd waiting{handle_->descriptor, POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(kWaitSlice.count()));
    if (ready < 0 && errno != EINTR) fault_ = InputFault::Unreadable;
    if (ready <= 0) continue;
    const ssize_t got = read(handle_->descriptor, bytes, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) fault_ = InputFault::Unreadable;
  }
  return 0;
}

}  // namespace lu14::cli
