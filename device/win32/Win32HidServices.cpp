#include "device/win32/Win32HidServices.h"

#include <filesystem>

namespace lu14::win32 {
namespace {

// GetProcAddress hands back a generic FARPROC; going through a function type
// without parameters is the conversion GCC accepts without a cast warning.
template <typename Function>
bool Lookup(HMODULE module, const char* name, Function& function) {
  const FARPROC address = GetProcAddress(module, name);
  function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
  return function != nullptr;
}

// The LOAD_LIBRARY_SEARCH_ flags came with AddDllDirectory (Windows 8, and
// Windows 7 with KB2533623); without it LoadLibraryExW refuses them outright.
bool SearchFlagsKnown() {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

// The library of this name in the system folder, its own imports looked for
// there as well; never one beside the program, in the current folder or on PATH.
HMODULE LoadFromSystemFolder(const wchar_t* name) {
  if (SearchFlagsKnown()) return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // The full path instead; with it, the library's imports are looked for in
  // its own folder first.
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadFromPath(const std::wstring& path) {
  if (!std::filesystem::path(path).is_absolute()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::shared_ptr<const HidServices> Bind(UniqueModule setupApiModule, const auto& loadHid) {
  auto services = std::make_shared<HidServices>();

  services->setupApi = std::move(setupApiModule);
  if (!services->setupApi) return nullptr;
  const HMODULE setupApi = services->setupApi.get();
  if (!Lookup(setupApi, "SetupDiGetClassDevsW", services->SetupDiGetClassDevsW) ||
      !Lookup(setupApi, "SetupDiEnumDeviceInterfaces", services->SetupDiEnumDeviceInterfaces) ||
      !Lookup(setupApi, "SetupDiGetDeviceInterfaceDetailW", services->SetupDiGetDeviceInterfaceDetailW) ||
      !Lookup(setupApi, "SetupDiDestroyDeviceInfoList", services->SetupDiDestroyDeviceInfoList)) {
    return nullptr;
  }

  services->hid = UniqueModule(loadHid());
  if (!services->hid) return nullptr;
  const HMODULE hid = services->hid.get();
  if (!Lookup(hid, "HidD_GetHidGuid", services->HidD_GetHidGuid) ||
      !Lookup(hid, "HidD_GetAttributes", services->HidD_GetAttributes) ||
      !Lookup(hid, "HidD_GetPreparsedData", services->HidD_GetPreparsedData) ||
      !Lookup(hid, "HidD_FreePreparsedData", services->HidD_FreePreparsedData) ||
      !Lookup(hid, "HidP_GetCaps", services->HidP_GetCaps) ||
      !Lookup(hid, "HidD_SetFeature", services->HidD_SetFeature) ||
      !Lookup(hid, "HidD_GetFeature", services->HidD_GetFeature)) {
    return nullptr;
  }
  return services;
}

}  // namespace

std::shared_ptr<const HidServices> BindSystemHidServices() {
  return Bind(UniqueModule(LoadFromSystemFolder(L"setupapi.dll")), [] { return LoadFromSystemFolder(L"hid.dll"); });
}

std::shared_ptr<const HidServices> BindHidServicesAt(const std::wstring& setupApiPath, const std::wstring& hidPath) {
  return Bind(UniqueModule(LoadFromPath(setupApiPath)), [&] { return LoadFromPath(hidPath); });
}

}  // namespace lu14::win32
