// Stand-in setupapi.dll: the device-interface sets the program walks, made
// from the devices that the bus in the stand-in hid.dll has present. Record
// sizes are checked as Windows and Wine check them: every cbSize must be
// sizeof the structure of this (64-bit) build.
#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <set>
#include <vector>

#include "tests/e2e/standin/StandInBus.h"

namespace {

// GUID_DEVINTERFACE_HID: the only class with interfaces here.
constexpr GUID kHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
constexpr DWORD kMostInterfaces = 64;

struct DeviceInfoSet {
  // A snapshot taken when the set was made, as setupapi's sets are.
  std::vector<Lu14StandInInterface> interfaces;
};

// The sets handed out and not yet destroyed; anything else is not a set.
std::set<const DeviceInfoSet*> liveSets;

DeviceInfoSet* SetOf(HDEVINFO handle) {
  auto* set = static_cast<DeviceInfoSet*>(handle);
  return liveSets.contains(set) ? set : nullptr;
}

BOOL Refuse(DWORD error) {
  Lu14StandInCountRefusal();
  SetLastError(error);
  return FALSE;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Which interface of the set an interface record names: index + 1 in its
// reserved field, 0 for a record this set never filled.
const Lu14StandInInterface* InterfaceOf(const DeviceInfoSet& set, const SP_DEVICE_INTERFACE_DATA& data) {
  if (data.Reserved == 0 || data.Reserved > set.interfaces.size()) return nullptr;
  return &set.interfaces[data.Reserved - 1];
}

}  // namespace

extern "C" {

HDEVINFO WINAPI StandInGetClassDevs(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags) {
  if (!classGuid && !(flags & DIGCF_ALLCLASSES)) {
    Refuse(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto* set = new DeviceInfoSet;
  // Only HID interfaces exist, and no enumerator names them.
  const bool hidInterfaces = (flags & DIGCF_DEVICEINTERFACE) && !enumerator &&
                             ((flags & DIGCF_ALLCLASSES) || IsEqualGUID(*classGuid, kHidGuid));
  if (hidInterfaces) {
    set->interfaces.resize(kMostInterfaces);
    const DWORD count = Lu14StandInListInterfaces(set->interfaces.data(), kMostInterfaces);
    set->interfaces.resize(std::min(count, kMostInterfaces));
  }
  liveSets.insert(set);
  Lu14StandInCountSet(1);
  return set;
}

BOOL WINAPI StandInEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA deviceInfo, const GUID* classGuid,
                                        DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData) {
  const DeviceInfoSet* set = SetOf(handle);
  if (!set) return Refuse(ERROR_INVALID_HANDLE);
  if (!classGuid || !interfaceData) return Refuse(ERROR_INVALID_PARAMETER);
  if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Refuse(ERROR_INVALID_USER_BUFFER);
  if (deviceInfo && deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) return Refuse(ERROR_INVALID_USER_BUFFER);
  if (!IsEqualGUID(*classGuid, kHidGuid)) return Fail(ERROR_NO_MORE_ITEMS);

  // With a device given, only its interfaces count.
  DWORD seen = 0;
  for (std::size_t i = 0; i < set->interfaces.size(); ++i) {
    if (deviceInfo && deviceInfo->DevInst != set->interfaces[i].devInst) continue;
    if (seen++ != memberIndex) continue;
    interfaceData->InterfaceClassGuid = kHidGuid;
    interfaceData->Flags = SPINT_ACTIVE;
    interfaceData->Reserved = i + 1;
    return TRUE;
  }
  return Fail(ERROR_NO_MORE_ITEMS);
}

BOOL WINAPI StandInGetDeviceInterfaceDetail(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                            PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                            PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfo) {
  const DeviceInfoSet* set = SetOf(handle);
  if (!set) return Refuse(ERROR_INVALID_HANDLE);
  if (!interfaceData) return Refuse(ERROR_INVALID_PARAMETER);
  if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Refuse(ERROR_INVALID_USER_BUFFER);
  const Lu14StandInInterface* found = InterfaceOf(*set, *interfaceData);
  if (!found) return Refuse(ERROR_INVALID_PARAMETER);
  if (detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return Refuse(ERROR_INVALID_USER_BUFFER);
  if (!detail && detailSize != 0) return Refuse(ERROR_INVALID_USER_BUFFER);
  if (deviceInfo && deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) return Refuse(ERROR_INVALID_USER_BUFFER);

  const DWORD pathBytes = static_cast<DWORD>((std::wcslen(found->path) + 1) * sizeof(WCHAR));
  const DWORD needed = kPathOffset + pathBytes;
  if (requiredSize) *requiredSize = needed;
  // Filled on the size query as well.
  if (deviceInfo) {
    deviceInfo->ClassGuid = kHidGuid;
    deviceInfo->DevInst = found->devInst;
    deviceInfo->Reserved = 0;
  }
  if (detailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(detail->DevicePath, found->path, pathBytes);
  return TRUE;
}

BOOL WINAPI StandInDestroyDeviceInfoList(HDEVINFO handle) {
  DeviceInfoSet* set = SetOf(handle);
  if (!set) return Refuse(ERROR_INVALID_HANDLE);
  liveSets.erase(set);
  delete set;
  Lu14StandInCountSet(-1);
  return TRUE;
}

}  // extern "C"
