#include "app/cli/DocumentsFolder.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace lu14::cli {
namespace {

// user-dirs.dirs writes XDG_DOCUMENTS_DIR="$HOME/Documents"; only $HOME is expanded.
std::string Expand(std::string value, const std::string& home) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  if (value.starts_with("$HOME")) value = home + value.substr(5);
  return value;
}

}  // namespace

std::optional<std::filesystem::path> DocumentsFolder(const std::string& home, const std::string& environment,
                                                     const std::string& userDirs) {
  if (home.empty()) return std::nullopt;
  if (!environment.empty()) return std::filesystem::path(Expand(environment, home));
  std::istringstream lines(userDirs);
  for (std::string line; std::getline(lines, line);) {
    const std::string key = "XDG_DOCUMENTS_DIR=";
    if (line.starts_with(key)) {
      const std::string value = Expand(line.substr(key.size()), home);
      // A documents folder set to the home folder itself means "none"; use the usual one.
      if (!value.empty() && std::filesystem::path(value) != std::filesystem::path(home)) return value;
    }
  }
  return std::filesystem::path(home) / "Documents";
}

std::optional<std::filesystem::path> UsersDocumentsFolder() {
  const char* home = std::getenv("HOME");
  const char* environment = std::getenv("XDG_DOCUMENTS_DIR");
  std::string userDirs;
  if (home) {
    std::ifstream file(std::filesystem::path(home) / ".config" / "user-dirs.dirs");
    std::ostringstream text;
    text << file.rdbuf();
    userDirs = text.str();
  }
  return DocumentsFolder(home ? home : "", environment ? environment : "", userDirs);
}

}  // namespace lu14::cli
