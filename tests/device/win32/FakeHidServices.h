// Stand-ins for setupapi.dll and hid.dll used by Win32HidPlatformTest: they
// serve a fixed set of interfaces, check the record sizes the way Windows and
// Wine do, and let the test read what they were handed.
#pragma once

#include <windows.h>

#include <hidsdi.h>

namespace lu14::win32::fake {

constexpr wchar_t kSetupApiName[] = L"lu14-fake-setupapi.dll";
constexpr wchar_t kHidName[] = L"lu14-fake-hid.dll";

// What the stand-in HidD_GetHidGuid answers; its SetupDiGetClassDevsW serves
// this class only.
constexpr GUID kHidGuid = {0x1a2b0014, 0x5e7f, 0x4c1d, {0x9a, 0x30, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99}};

enum class DetailBehaviour {
  kNormal,
  kSizeQuerySucceeds,    // the call without a buffer succeeds
  kSizeQueryOtherError,  // it fails, but not with ERROR_INSUFFICIENT_BUFFER
  kDetailFails,          // the call with the buffer fails
};

struct ScriptedInterface {
  const wchar_t* path;
  DWORD devInst;
  DetailBehaviour behaviour;
  DWORD extraBytes;  // reported on top of what the path needs
};

// The interfaces in enumeration order; only the kNormal ones are readable.
constexpr ScriptedInterface kInterfaces[] = {
    {L"\\\\?\\hid#vid_ff4d&pid_f538#7&1a2b3c4d&0&0000#{1a2b0014-5e7f-4c1d-9a30-445566778899}", 0x0101,
     DetailBehaviour::kNormal, 0},
    {L"\\\\?\\hid#size-query-succeeds", 0x0102, DetailBehaviour::kSizeQuerySucceeds, 0},
    {L"\\\\?\\hid#size-query-other-error", 0x0103, DetailBehaviour::kSizeQueryOtherError, 0},
    {L"\\\\?\\hid#detail-fails", 0x0104, DetailBehaviour::kDetailFails, 0},
    {L"\\\\?\\hid#vid_046d&pid_c077#мышь", 0x0202, DetailBehaviour::kNormal, 0},
    {L"\\\\?\\hid#x", 0x0303, DetailBehaviour::kNormal, 6},
};

// Exported inspection calls, looked up by the test with GetProcAddress.
struct SetupApiCounters {
  LONG setsOpened;
  LONG setsDestroyed;
  LONG wrongRecordSizes;  // calls refused for a wrong cbSize
  LONG wrongArguments;    // calls refused for another argument (flags, class, set)
};
using ReadSetupApiCountersFn = void(WINAPI*)(SetupApiCounters* counters);
using FailClassDevsFn = void(WINAPI*)(BOOL fail);
constexpr char kReadSetupApiCounters[] = "Lu14FakeReadSetupApiCounters";
constexpr char kFailClassDevs[] = "Lu14FakeFailClassDevs";

enum HidFailures : DWORD {
  kFailNothing = 0,
  kFailAttributes = 1,
  kFailPreparsedData = 2,
  kFailCaps = 4,
  kFailFeatures = 8,
};

struct HidRecord {
  LONG livePreparsedData;    // obtained and not yet freed
  LONG wrongAttributesSize;  // HidD_GetAttributes calls with Size other than sizeof(HIDD_ATTRIBUTES)
  LONG invalidHandles;       // calls on a handle that is not open
  BYTE lastSetReport[64];
  ULONG lastSetLength;
  ULONG lastGetLength;
};
using ReadHidRecordFn = void(WINAPI*)(HidRecord* record);
using SetHidFailuresFn = void(WINAPI*)(DWORD failures);
constexpr char kReadHidRecord[] = "Lu14FakeReadHidRecord";
constexpr char kSetHidFailures[] = "Lu14FakeSetHidFailures";

// What the stand-in reports for every device.
constexpr USHORT kVendorId = 0xFF4D;
constexpr USHORT kProductId = 0xF538;
constexpr USHORT kVersionNumber = 0x0150;
constexpr USHORT kFeatureReportByteLength = 19;

}  // namespace lu14::win32::fake
