// The device-setup (setupapi.dll) and HID (hid.dll) services, bound at run time
// with LoadLibraryExW and GetProcAddress. Nothing of either library is in the
// program's import table, so the program starts on a system that lacks them and
// simply finds no device there.
//
// The program takes both from the system folder and from nowhere else: the
// ordinary search order looks beside the program first, and a hid.dll that lies
// there (a downloads folder is enough) would run inside the program.
#pragma once

// setupapi.h needs the full Windows headers before it.
#include <windows.h>

#include <hidsdi.h>
#include <setupapi.h>

#include <memory>
#include <string>

namespace lu14::win32 {

// The documented signatures of the calls used; on x86-64 there is one calling
// convention, WINAPI only documents what a 32-bit build would need.
using SetupDiGetClassDevsWFn = HDEVINFO(WINAPI*)(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
using SetupDiEnumDeviceInterfacesFn = BOOL(WINAPI*)(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, const GUID* classGuid,
                                                    DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData);
using SetupDiGetDeviceInterfaceDetailWFn = BOOL(WINAPI*)(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                         PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                                         PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfo);
using SetupDiDestroyDeviceInfoListFn = BOOL(WINAPI*)(HDEVINFO set);

using HidDGetHidGuidFn = void(WINAPI*)(GUID* hidGuid);
using HidDGetAttributesFn = BOOLEAN(WINAPI*)(HANDLE device, PHIDD_ATTRIBUTES attributes);
using HidDGetPreparsedDataFn = BOOLEAN(WINAPI*)(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData);
using HidDFreePreparsedDataFn = BOOLEAN(WINAPI*)(PHIDP_PREPARSED_DATA preparsedData);
using HidPGetCapsFn = NTSTATUS(WINAPI*)(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps);
using HidDSetFeatureFn = BOOLEAN(WINAPI*)(HANDLE device, PVOID report, ULONG reportLength);
using HidDGetFeatureFn = BOOLEAN(WINAPI*)(HANDLE device, PVOID report, ULONG reportLength);

// Owns a loaded library; FreeLibrary on destruction.
class UniqueModule {
 public:
  UniqueModule() = default;
  explicit UniqueModule(HMODULE module) : module_(module) {}
  ~UniqueModule() {
    if (module_) FreeLibrary(module_);
  }
  UniqueModule(UniqueModule&& other) noexcept : module_(other.module_) { other.module_ = nullptr; }
  UniqueModule& operator=(UniqueModule&& other) noexcept {
    if (this != &other) {
      if (module_) FreeLibrary(module_);
      module_ = other.module_;
      other.module_ = nullptr;
    }
    return *this;
  }
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;

  HMODULE get() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }

 private:
  HMODULE module_ = nullptr;
};

// Both libraries and every entry point the tool calls. Device handles and
// preparsed data share ownership of it, so the libraries stay loaded for as
// long as anything obtained through them is alive.
struct HidServices {
  UniqueModule setupApi;
  UniqueModule hid;

  SetupDiGetClassDevsWFn SetupDiGetClassDevsW = nullptr;
  SetupDiEnumDeviceInterfacesFn SetupDiEnumDeviceInterfaces = nullptr;
  SetupDiGetDeviceInterfaceDetailWFn SetupDiGetDeviceInterfaceDetailW = nullptr;
  SetupDiDestroyDeviceInfoListFn SetupDiDestroyDeviceInfoList = nullptr;

  HidDGetHidGuidFn HidD_GetHidGuid = nullptr;
  HidDGetAttributesFn HidD_GetAttributes = nullptr;
  HidDGetPreparsedDataFn HidD_GetPreparsedData = nullptr;
  HidDFreePreparsedDataFn HidD_FreePreparsedData = nullptr;
  HidPGetCapsFn HidP_GetCaps = nullptr;
  HidDSetFeatureFn HidD_SetFeature = nullptr;
  HidDGetFeatureFn HidD_GetFeature = nullptr;
};

// Loads the device-setup library, then the HID library, and looks up every
// entry point. Null when a library or any entry point is missing; whatever was
// loaded is freed again.
//
// The system's own setupapi.dll and hid.dll, from the system folder only.
std::shared_ptr<const HidServices> BindSystemHidServices();
// The libraries at these full paths (stand-ins in tests). A name without a
// folder is refused rather than searched for.
std::shared_ptr<const HidServices> BindHidServicesAt(const std::wstring& setupApiPath, const std::wstring& hidPath);

}  // namespace lu14::win32
