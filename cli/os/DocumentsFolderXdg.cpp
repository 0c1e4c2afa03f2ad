#include "cli/os/DocumentsFolder.h"
#include "cli/os/DocumentsFolderXdg.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace lu14::cli {
namespace {

// user-dirs.dirs writes XDG_DOCUMENTS_DIR="$HOME/Documents"; only $HOME is
// expanded. Nothing for a value that is not an absolute path then.
std::optional<std::filesystem::path> Expand(std::string value, const std::string& home) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  if (value.starts_with("$HOME")) value = home + value.substr(5);
  const std::filesystem::path path(value);
  if (value.empty() || !path.is_absolute()) return std::nullopt;
  return path;
}

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_directory(path, error);
}

}  // namespace

std::optional<std::filesystem::path> DocumentsFolder(const std::string& home, const std::string& environment,
                                                     const std::string& userDirs) {
  if (home.empty()) return std::nullopt;
  if (const auto fromEnvironment = Expand(environment, home)) return fromEnvironment;
  std::istringstream lines(userDirs);
  for (std::string line; std::getline(lines, line);) {
    const std::string key = "XDG_DOCUMENTS_DIR=";
    if (!line.starts_with(key)) continue;
    const auto value = Expand(line.substr(key.size()), home);
    // A documents folder set to the home folder itself means "none"; use the usual one.
    if (value && *value != std::filesystem::path(home)) return value;
  }
  return std::filesystem::path(home) / "Documents";
}

std::string UsersHome() {
  const char* home = std::getenv("HOME");
  if (home && IsDirectory(home)) return home;
  // HOME unset, empty or not a folder (sudo, cron, a broken profile): the
  // password database still knows the user's home.
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir && IsDirectory(entry->pw_dir)) {
    return entry->pw_dir;
  }
  return {};
}

std::optional<std::filesystem::path> UsersDocumentsFolder() {
  const std::string home = UsersHome();
  const char* environment = std::getenv("XDG_DOCUMENTS_DIR");
  std::string userDirs;
  if (!home.empty()) {
    std::ifstream file(std::filesystem::path(home) / ".config" / "user-dirs.dirs");
    std::ostringstream text;
    text << file.rdbuf();
    userDirs = text.str();
  }
  return DocumentsFolder(home, environment ? environment : "", userDirs);
}

}  // namespace lu14::cli
