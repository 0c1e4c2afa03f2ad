// Stand-in setupapi.dll for Win32HidPlatformTest (see FakeHidServices.h).
#include "FakeHidServices.h"

#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <cwchar>

namespace {

using namespace lu14::win32::fake;

// Any value other than INVALID_HANDLE_VALUE will do as the set's handle.
const HDEVINFO kSet = reinterpret_cast<HDEVINFO>(static_cast<INT_PTR>(0x5e7));
constexpr DWORD kInterfaceCount = sizeof(kInterfaces) / sizeof(kInterfaces[0]);

SetupApiCounters counters{};
BOOL failClassDevs = FALSE;

BOOL Refuse(LONG& counter, DWORD error) {
  InterlockedIncrement(&counter);
  SetLastError(error);
  return FALSE;
}

}  // namespace

extern "C" {

HDEVINFO WINAPI FakeGetClassDevs(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags) {
  if (failClassDevs) {
    SetLastError(ERROR_INVALID_DATA);
    return INVALID_HANDLE_VALUE;
  }
  if (!classGuid || !IsEqualGUID(*classGuid, kHidGuid) || enumerator || parent ||
      flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
    Refuse(counters.wrongArguments, ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  InterlockedIncrement(&counters.setsOpened);
  return kSet;
}

BOOL WINAPI FakeEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, const GUID* classGuid,
                                     DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData) {
  if (set != kSet || deviceInfo || !classGuid || !IsEqualGUID(*classGuid, kHidGuid) || !interfaceData) {
    return Refuse(counters.wrongArguments, ERROR_INVALID_PARAMETER);
  }
  if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    return Refuse(counters.wrongRecordSizes, ERROR_INVALID_USER_BUFFER);
  }
  if (memberIndex >= kInterfaceCount) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  interfaceData->InterfaceClassGuid = kHidGuid;
  interfaceData->Flags = SPINT_ACTIVE;
  interfaceData->Reserved = memberIndex + 1;  // which interface it is, for the detail call
  return TRUE;
}

BOOL WINAPI FakeGetDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                         PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                         PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfo) {
  if (set != kSet || !interfaceData || interfaceData->Reserved == 0 || interfaceData->Reserved > kInterfaceCount) {
    return Refuse(counters.wrongArguments, ERROR_INVALID_PARAMETER);
  }
  if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
      (deviceInfo && deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) ||
      (detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))) {
    return Refuse(counters.wrongRecordSizes, ERROR_INVALID_USER_BUFFER);
  }
  if (!detail && detailSize != 0) return Refuse(counters.wrongArguments, ERROR_INVALID_USER_BUFFER);

  const ScriptedInterface& scripted = kInterfaces[interfaceData->Reserved - 1];
  const DWORD pathBytes = static_cast<DWORD>((std::wcslen(scripted.path) + 1) * sizeof(WCHAR));
  const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) + pathBytes +
                       scripted.extraBytes;
  if (requiredSize) *requiredSize = needed;
  if (deviceInfo) {
    deviceInfo->ClassGuid = kHidGuid;
    deviceInfo->DevInst = scripted.devInst;
  }
  if (!detail) {
    if (scripted.behaviour == DetailBehaviour::kSizeQuerySucceeds) return TRUE;
    SetLastError(scripted.behaviour == DetailBehaviour::kSizeQueryOtherError ? ERROR_INVALID_PARAMETER
                                                                             : ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (scripted.behaviour == DetailBehaviour::kDetailFails) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  if (detailSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, scripted.path, pathBytes);
  return TRUE;
}

BOOL WINAPI FakeDestroyDeviceInfoList(HDEVINFO set) {
  if (set != kSet) return Refuse(counters.wrongArguments, ERROR_INVALID_HANDLE);
  InterlockedIncrement(&counters.setsDestroyed);
  return TRUE;
}

void WINAPI Lu14FakeReadSetupApiCounters(SetupApiCounters* out) { *out = counters; }
void WINAPI Lu14FakeFailClassDevs(BOOL fail) { failClassDevs = fail; }

}  // extern "C"
