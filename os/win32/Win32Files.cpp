#include "os/win32/Win32Files.h"

#include <windows.h>

#include "os/win32/Win32Handle.h"

namespace lu14::win32 {
namespace {

class Win32OutputFile : public OutputFile {
 public:
  explicit Win32OutputFile(HANDLE handle) : handle_(handle) {}
  bool Write(std::span<const std::uint8_t> bytes) override {
    DWORD written = 0;
    return handle_ && WriteFile(handle_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }
  bool FlushToDisk() override { return handle_ && FlushFileBuffers(handle_.get()); }
  bool Close() override {
    if (!handle_) return false;
    return CloseHandle(handle_.release()) != 0;  // closing reports write-back errors
  }

 private:
  UniqueHandle handle_;
};

}  // namespace

std::uint32_t MakeDirectory(const std::filesystem::path& path) {
  return CreateDirectoryW(path.c_str(), nullptr) ? 0 : GetLastError();
}

std::unique_ptr<OutputFile> CreateOutputFile(const std::filesystem::path& path) {
  // Others may read the backup while it is written; nobody may write to it.
  HANDLE handle =
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32OutputFile>(handle);
}

MoveOutcome MoveFileNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return MoveOutcome::Moved;
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? MoveOutcome::TargetExists
                                                                       : MoveOutcome::Failed;
}

bool RemoveFile(const std::filesystem::path& path) { return DeleteFileW(path.c_str()) != 0; }

}  // namespace lu14::win32
