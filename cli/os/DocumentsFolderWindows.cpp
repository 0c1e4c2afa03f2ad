// The Documents folder on Windows: the shell's known folder, wherever the
// user (or a roaming profile, or folder redirection) has put it.
#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include "cli/os/DocumentsFolder.h"

namespace lu14::cli {

std::optional<std::filesystem::path> UsersDocumentsFolder() {
  PWSTR folder = nullptr;
  // KF_FLAG_CREATE: a profile whose Documents was deleted gets it back, as
  // the window's SHGetSpecialFolderPathW(..., TRUE) does.
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_CREATE, nullptr, &folder);
  std::optional<std::filesystem::path> documents;
  if (SUCCEEDED(result) && folder) documents = std::filesystem::path(folder);
  CoTaskMemFree(folder);  // also after a failure, which may leave a buffer
  return documents;
}

}  // namespace lu14::cli
