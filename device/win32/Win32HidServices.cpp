#include "device/win32/Win32HidServices.h"

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

}  // namespace

std::shared_ptr<const HidServices> BindHidServices(const std::wstring& setupApiName, const std::wstring& hidName) {
  auto services = std::make_shared<HidServices>();

  services->setupApi = UniqueModule(LoadLibraryW(setupApiName.c_str()));
  if (!services->setupApi) return nullptr;
  const HMODULE setupApi = services->setupApi.get();
  if (!Lookup(setupApi, "SetupDiGetClassDevsW", services->SetupDiGetClassDevsW) ||
      !Lookup(setupApi, "SetupDiEnumDeviceInterfaces", services->SetupDiEnumDeviceInterfaces) ||
      !Lookup(setupApi, "SetupDiGetDeviceInterfaceDetailW", services->SetupDiGetDeviceInterfaceDetailW) ||
      !Lookup(setupApi, "SetupDiDestroyDeviceInfoList", services->SetupDiDestroyDeviceInfoList)) {
    return nullptr;
  }

  services->hid = UniqueModule(LoadLibraryW(hidName.c_str()));
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

}  // namespace lu14::win32
