// InputFile on Windows: ReadFile in pieces, the stop asked before each. A
// disk file's size is known before it is read. A pipe that has nothing to
// give blocks ReadFile until its writer writes or closes it: there the stop
// is seen at the next piece.
#include <windows.h>

#include <algorithm>

#include "cli/os/InputFile.h"

namespace lu14::cli {
namespace {

// ReadFile takes a DWORD; pieces stay well below it.
constexpr std::size_t kLargestPiece = 1 << 16;

}  // namespace

struct InputFile::Handle {
  explicit Handle(HANDLE opened) : file(opened) {}
  ~Handle() { CloseHandle(file); }
  HANDLE file;
};

InputFile::InputFile(const std::filesystem::path& path, std::function<bool()> stop) : stop_(std::move(stop)) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    fault_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? InputFault::Missing
                                                                             : InputFault::Unreadable;
    return;
  }
  handle_ = std::make_unique<Handle>(file);
  LARGE_INTEGER size{};
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size)) {
    knownSize_ = static_cast<std::uintmax_t>(size.QuadPart);
  }
}

InputFile::~InputFile() = default;

std::size_t InputFile::Read(char* bytes, std::size_t size) {
  if (fault_ != InputFault::None) return 0;
  if (stop_ && stop_()) {
    fault_ = InputFault::Interrupted;
    return 0;
  }
  DWORD got = 0;
  if (!ReadFile(handle_->file, bytes, static_cast<DWORD>(std::min(size, kLargestPiece)), &got, nullptr)) {
    // A pipe whose writer has closed it ends so.
    if (GetLastError() != ERROR_BROKEN_PIPE) fault_ = InputFault::Unreadable;
    return 0;
  }
  return got;
}

}  // namespace lu14::cli
