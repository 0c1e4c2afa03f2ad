// Stand-in hid.dll: the HID calls the program makes, answered by the simulated
// bus (SimBus), the bus calls that the stand-in setupapi.dll imports, and the
// control window (StandInProtocol.h).
#include <windows.h>

#include <hidsdi.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <span>
#include <string>

#include "tests/e2e/standin/SimBus.h"
#include "tests/e2e/standin/StandInBus.h"
#include "tests/e2e/standin/StandInProtocol.h"

namespace {

using lu14::e2e::BusDevice;
using lu14::e2e::SimBus;
using lu14::e2e::TransferTarget;

// GUID_DEVINTERFACE_HID, what the system's HidD_GetHidGuid answers.
constexpr GUID kHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr USHORT kVendorDefinedUsagePage = 0xFF00;
constexpr USHORT kVersionNumber = 0x0150;

HMODULE thisModule = nullptr;
SRWLOCK busLock = SRWLOCK_INIT;
// Made at the first call and never freed: it must outlive every handle the
// program holds, and it writes the exit dumps while the process ends.
SimBus* bus = nullptr;

class Locked {
 public:
  Locked() { AcquireSRWLockExclusive(&busLock); }
  ~Locked() { ReleaseSRWLockExclusive(&busLock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (!data || data->dwData != lu14::e2e::kControlCopyDataTag || (!data->lpData && data->cbData != 0)) return FALSE;
    std::string command(static_cast<const char*>(data->lpData), data->cbData);
    while (!command.empty() && command.back() == '\0') command.pop_back();
    const Locked locked;
    return bus && bus->Execute(command, true) ? TRUE : FALSE;
  }
  // Whoever asks the program's windows to close does not take the bus away.
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

void CreateControlWindow() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &ControlWindowProc;
  windowClass.hInstance = thisModule;
  windowClass.lpszClassName = lu14::e2e::kControlWindowClass;
  RegisterClassExW(&windowClass);
  // Top-level (a test finds it with EnumWindows by process), never shown.
  CreateWindowExW(WS_EX_TOOLWINDOW, lu14::e2e::kControlWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                  thisModule, nullptr);
}

// The bus, made at the first call. Call with the lock held.
SimBus& Bus() {
  if (!bus) {
    // The control window's procedure lives here; the program frees hid.dll
    // when it ends its HID services, but the window lives on with the thread.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&Bus), &pinned);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(thisModule, path, MAX_PATH);
    std::wstring folder(path);
    folder.erase(folder.find_last_of(L'\\'));
    bus = new SimBus(folder);
    bus->RunStartFile();
    CreateControlWindow();
  }
  return *bus;
}

// Spins rather than sleeps: Sleep rounds up to whole scheduler ticks.
void SpendMicroseconds(std::uint64_t microseconds) {
  if (microseconds == 0) return;
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const auto ticks = static_cast<LONGLONG>(microseconds * static_cast<std::uint64_t>(frequency.QuadPart) / 1'000'000u);
  do {
    YieldProcessor();
    QueryPerformanceCounter(&now);
  } while (now.QuadPart - start.QuadPart < ticks);
}

// The device behind a handle for a call, with the error Windows reports when there is none.
BusDevice* Resolve(SimBus& simBus, HANDLE handle) {
  TransferTarget target;
  BusDevice* device = simBus.DeviceOf(handle, target);
  if (!device) SetLastError(target == TransferTarget::kUnplugged ? ERROR_DEVICE_NOT_CONNECTED : ERROR_INVALID_HANDLE);
  return device;
}

// What HidD_GetPreparsedData hands out: opaque to the program. Devices live
// in a map, so the pointer stays valid for the whole process.
struct PreparsedData {
  DWORD magic;
  BusDevice* busDevice;
};
constexpr DWORD kPreparsedMagic = 0x4C553134;

enum class Direction { kSet, kGet };

BOOLEAN Transfer(HANDLE handle, PVOID report, ULONG length, Direction direction) {
  std::uint64_t latency = 0;
  {
    const Locked locked;
    latency = Bus().BeginTransfer();
  }
  SpendMicroseconds(latency);
  const Locked locked;
  BusDevice* device = Resolve(Bus(), handle);
  if (!device) return FALSE;
  if (!report) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* bytes = static_cast<std::uint8_t*>(report);
  bool ok = false;
  if (direction == Direction::kSet) {
    ok = device->meter->SetFeature(std::span<const std::uint8_t>(bytes, length));
    if (ok && length == lu14::sim::SimMeter::kReportSize) ++device->received[bytes[lu14::sim::SimMeter::kCommandByte]];
  } else {
    ok = device->meter->GetFeature(std::span<std::uint8_t>(bytes, length));
  }
  if (!ok) SetLastError(ERROR_GEN_FAILURE);
  return ok ? TRUE : FALSE;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    thisModule = module;
    DisableThreadLibraryCalls(module);
  } else if (reason == DLL_PROCESS_DETACH && reserved && bus) {
    // The process is ending (the module is pinned, so it is never unloaded
    // before). Only kernel32 file calls from here.
    bus->WriteExitDumps();
  }
  return TRUE;
}

void WINAPI StandInGetHidGuid(GUID* hidGuid) {
  const Locked locked;
  Bus();
  if (hidGuid) *hidGuid = kHidGuid;
}

BOOLEAN WINAPI StandInGetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
  const Locked locked;
  SimBus& simBus = Bus();
  if (!attributes || attributes->Size != sizeof(HIDD_ATTRIBUTES)) {
    ++simBus.refusedCalls;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const BusDevice* device = Resolve(simBus, handle);
  if (!device) return FALSE;
  attributes->VendorID = device->vendorId;
  attributes->ProductID = device->productId;
  attributes->VersionNumber = kVersionNumber;
  return TRUE;
}

BOOLEAN WINAPI StandInGetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* preparsedData) {
  const Locked locked;
  SimBus& simBus = Bus();
  if (!preparsedData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  BusDevice* device = Resolve(simBus, handle);
  if (!device) return FALSE;
  auto* data = static_cast<PreparsedData*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PreparsedData)));
  if (!data) return FALSE;
  data->magic = kPreparsedMagic;
  data->busDevice = device;
  *preparsedData = reinterpret_cast<PHIDP_PREPARSED_DATA>(data);
  ++simBus.preparsedLive;
  return TRUE;
}

BOOLEAN WINAPI StandInFreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
  const Locked locked;
  SimBus& simBus = Bus();
  auto* data = reinterpret_cast<PreparsedData*>(preparsedData);
  if (!data || data->magic != kPreparsedMagic) {
    ++simBus.refusedCalls;
    return FALSE;
  }
  data->magic = 0;
  HeapFree(GetProcessHeap(), 0, data);
  --simBus.preparsedLive;
  return TRUE;
}

NTSTATUS WINAPI StandInGetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps) {
  const Locked locked;
  SimBus& simBus = Bus();
  const auto* data = reinterpret_cast<const PreparsedData*>(preparsedData);
  if (!data || data->magic != kPreparsedMagic || !caps) {
    ++simBus.refusedCalls;
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  std::memset(caps, 0, sizeof(*caps));
  caps->Usage = 1;
  caps->UsagePage = kVendorDefinedUsagePage;
  // The length as the device reports it now ("report-length" takes effect at once).
  caps->FeatureReportByteLength = data->busDevice->reportLength;
  caps->NumberLinkCollectionNodes = 1;
  caps->NumberFeatureValueCaps = 1;
  return HIDP_STATUS_SUCCESS;
}

BOOLEAN WINAPI StandInSetFeature(HANDLE handle, PVOID report, ULONG length) {
  return Transfer(handle, report, length, Direction::kSet);
}

BOOLEAN WINAPI StandInGetFeature(HANDLE handle, PVOID report, ULONG length) {
  return Transfer(handle, report, length, Direction::kGet);
}

DWORD WINAPI Lu14StandInListInterfaces(Lu14StandInInterface* out, DWORD capacity) {
  const Locked locked;
  const std::vector<lu14::e2e::PresentInterface> present = Bus().ListInterfaces();
  for (DWORD i = 0; i < capacity && i < present.size(); ++i) {
    out[i].devInst = present[i].devInst;
    const std::size_t length = std::min(present[i].path.size(), std::size(out[i].path) - 1);
    std::memcpy(out[i].path, present[i].path.c_str(), length * sizeof(WCHAR));
    out[i].path[length] = L'\0';
  }
  return static_cast<DWORD>(present.size());
}

void WINAPI Lu14StandInCountSet(LONG delta) {
  const Locked locked;
  Bus().setsOpen += delta;
}

void WINAPI Lu14StandInCountRefusal() {
  const Locked locked;
  ++Bus().refusedCalls;
}

}  // extern "C"
