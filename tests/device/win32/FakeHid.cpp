// Stand-in hid.dll for Win32HidPlatformTest (see FakeHidServices.h). Device
// handles are ordinary files opened by the test.
#include <cstring>

#include "FakeHidServices.h"

namespace {

using namespace lu14::win32::fake;

HidRecord record{};
DWORD failures = kFailNothing;

// The preparsed data handed out: opaque to the caller, recognisable here.
struct PreparsedData {
  DWORD magic;
};
constexpr DWORD kMagic = 0x14B1D;

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  if (GetHandleInformation(handle, &flags)) return true;
  InterlockedIncrement(&record.invalidHandles);
  return false;
}

}  // namespace

extern "C" {

void WINAPI FakeGetHidGuid(GUID* hidGuid) { *hidGuid = kHidGuid; }

BOOLEAN WINAPI FakeGetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
  if (!IsOpen(device) || (failures & kFailAttributes)) return FALSE;
  if (attributes->Size != sizeof(HIDD_ATTRIBUTES)) {
    InterlockedIncrement(&record.wrongAttributesSize);
    return FALSE;
  }
  attributes->VendorID = kVendorId;
  attributes->ProductID = kProductId;
  attributes->VersionNumber = kVersionNumber;
  return TRUE;
}

BOOLEAN WINAPI FakeGetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) {
  if (!IsOpen(device) || (failures & kFailPreparsedData)) return FALSE;
  auto* data = static_cast<PreparsedData*>(HeapAlloc(GetProcessHeap(), 0, sizeof(PreparsedData)));
  data->magic = kMagic;
  *preparsedData = reinterpret_cast<PHIDP_PREPARSED_DATA>(data);
  InterlockedIncrement(&record.livePreparsedData);
  return TRUE;
}

BOOLEAN WINAPI FakeFreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
  auto* data = reinterpret_cast<PreparsedData*>(preparsedData);
  if (!data || data->magic != kMagic) return FALSE;
  data->magic = 0;
  HeapFree(GetProcessHeap(), 0, data);
  InterlockedDecrement(&record.livePreparsedData);
  return TRUE;
}

NTSTATUS WINAPI FakeGetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps) {
  const auto* data = reinterpret_cast<const PreparsedData*>(preparsedData);
  if (!data || data->magic != kMagic || (failures & kFailCaps)) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  std::memset(caps, 0, sizeof(*caps));
  caps->FeatureReportByteLength = kFeatureReportByteLength;
  return HIDP_STATUS_SUCCESS;
}

BOOLEAN WINAPI FakeSetFeature(HANDLE device, PVOID report, ULONG reportLength) {
  if (!IsOpen(device) || (failures & kFailFeatures)) return FALSE;
  record.lastSetLength = reportLength;
  std::memcpy(record.lastSetReport, report, reportLength < sizeof(record.lastSetReport) ? reportLength
                                                                                       : sizeof(record.lastSetReport));
  return TRUE;
}

// Answers report ID r with the bytes r+1, r+2, … after the ID.
BOOLEAN WINAPI FakeGetFeature(HANDLE device, PVOID report, ULONG reportLength) {
  if (!IsOpen(device) || (failures & kFailFeatures) || reportLength == 0) return FALSE;
  record.lastGetLength = reportLength;
  auto* bytes = static_cast<BYTE*>(report);
  for (ULONG i = 1; i < reportLength; ++i) bytes[i] = static_cast<BYTE>(bytes[0] + i);
  return TRUE;
}

void WINAPI Lu14FakeReadHidRecord(HidRecord* out) { *out = record; }
void WINAPI Lu14FakeSetHidFailures(DWORD failWhat) { failures = failWhat; }

}  // extern "C"
