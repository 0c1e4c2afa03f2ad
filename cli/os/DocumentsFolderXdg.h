// The user's Documents folder on Linux, as xdg-user-dirs defines it:
// XDG_DOCUMENTS_DIR from the environment or from ~/.config/user-dirs.dirs,
// else ~/Documents. (UsersDocumentsFolder in DocumentsFolder.h reads it so.)
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace lu14::cli {

// home: the user's home folder (empty: none); environment: $XDG_DOCUMENTS_DIR;
// userDirs: the text of ~/.config/user-dirs.dirs (empty when missing).
// Relative values are ignored, as xdg-user-dirs ignores them. Nothing without
// a home.
std::optional<std::filesystem::path> DocumentsFolder(const std::string& home, const std::string& environment,
                                                     const std::string& userDirs);

// The home folder: $HOME when it names a directory, else the one the password
// database gives the user; empty when neither is a directory.
std::string UsersHome();

}  // namespace lu14::cli
