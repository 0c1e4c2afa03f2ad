// The file operations of the settings backup over the Windows API, shared by
// the window's Win32Shell and the console tool's runtime: both write a backup
// the same way. Paths stay UTF-16 throughout.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "ports/Shell.h"

namespace lu14::win32 {

// CreateDirectoryW: 0, or the system's error code (ERROR_ALREADY_EXISTS ...).
std::uint32_t MakeDirectory(const std::filesystem::path& path);
// Creates or truncates the file; others may read it while it is written.
std::unique_ptr<OutputFile> CreateOutputFile(const std::filesystem::path& path);
// Moves a file to a name that must not exist yet; never replaces one.
MoveOutcome MoveFileNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);
bool RemoveFile(const std::filesystem::path& path);

}  // namespace lu14::win32
