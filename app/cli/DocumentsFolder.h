// The user's Documents folder on Linux: XDG_DOCUMENTS_DIR from the
// environment or from ~/.config/user-dirs.dirs, else ~/Documents.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace lu14::cli {

// home: $HOME; environment: $XDG_DOCUMENTS_DIR; userDirs: the text of
// ~/.config/user-dirs.dirs (empty when missing). Nothing without a home.
std::optional<std::filesystem::path> DocumentsFolder(const std::string& home, const std::string& environment,
                                                     const std::string& userDirs);

// The same from the real environment and file system.
std::optional<std::filesystem::path> UsersDocumentsFolder();

}  // namespace lu14::cli
