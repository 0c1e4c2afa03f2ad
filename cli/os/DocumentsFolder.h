// The user's Documents folder, where the console tool writes its backups and
// nowhere else: on Linux as xdg-user-dirs defines it (DocumentsFolderXdg.h),
// on Windows the shell's known folder for documents.
#pragma once

#include <filesystem>
#include <optional>

namespace lu14::cli {

// Nothing when the user has none (no home, or the shell knows no folder).
std::optional<std::filesystem::path> UsersDocumentsFolder();

}  // namespace lu14::cli
