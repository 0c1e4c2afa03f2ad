// Stand-in hid.dll: the HID calls the program makes, answered by the simulated
// bus (SimBus), the bus calls that the stand-in setupapi.dll imports, and the
// control window (StandInProtocol.h).
#include <windows.h>

#include <hidsdi.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <string_view>

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

// --- window-fonts: the fonts the program gave its window, read inside the
// process, since font handles mean nothing to another one.

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<std::size_t>(size - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

// "<what> <height> <weight> <face>", the height as LOGFONT holds it.
std::string FontLine(const std::string& what, HWND window) {
  LOGFONTW font{};
  const auto handle = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  if (!handle || GetObjectW(handle, sizeof(font), &font) != sizeof(font)) return what + " none\n";
  return what + " " + std::to_string(font.lfHeight) + " " + std::to_string(font.lfWeight) + " " +
         Utf8(font.lfFaceName) + "\n";
}

struct WindowSearch {
  const wchar_t* className;
  HWND found;
};

BOOL CALLBACK MatchClass(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (lstrcmpW(name, search->className) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

HWND ThreadWindowOfClass(const wchar_t* className) {
  WindowSearch search{className, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), &MatchClass, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK AddControlFont(HWND control, LPARAM parameter) {
  *reinterpret_cast<std::string*>(parameter) += FontLine("control " + std::to_string(GetDlgCtrlID(control)), control);
  return TRUE;
}

// Each control below the main window (class TMForm) of this thread, by its
// id, and the hints.
bool WriteWindowFonts(const std::wstring& path) {
  const HWND main = ThreadWindowOfClass(L"TMForm");
  if (!main) return false;
  std::string text;
  EnumChildWindows(main, &AddControlFont, reinterpret_cast<LPARAM>(&text));
  if (const HWND hints = ThreadWindowOfClass(L"tooltips_class32")) text += FontLine("hints", hints);
  return lu14::e2e::WriteTextFile(path, text);
}

// Commands that wait for their posted message (`queued`), oldest first.
std::deque<std::string> queuedCommands;
constexpr UINT kRunQueuedCommand = WM_APP + 1;
constexpr std::string_view kQueuedPrefix = "queued ";
constexpr std::string_view kWindowFontsPrefix = "window-fonts ";

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (!data || data->dwData != lu14::e2e::kControlCopyDataTag || (!data->lpData && data->cbData != 0)) return FALSE;
    std::string command(static_cast<const char*>(data->lpData), data->cbData);
    while (!command.empty() && command.back() == '\0') command.pop_back();
    const Locked locked;
    if (command.starts_with(kQueuedPrefix)) {
      // A posted message is taken only by a message loop, never by a handler
      // that merely looks at the queue: the command then runs between handlers.
      if (!PostMessageW(window, kRunQueuedCommand, 0, 0)) return FALSE;
      queuedCommands.push_back(command.substr(kQueuedPrefix.size()));
      return TRUE;
    }
    if (command.starts_with(kWindowFontsPrefix)) {
      const std::string path = command.substr(kWindowFontsPrefix.size());
      return WriteWindowFonts(lu14::e2e::Widen(path)) ? TRUE : FALSE;
    }
    return bus && bus->Execute(command, true) ? TRUE : FALSE;
  }
  if (message == kRunQueuedCommand) {
    const Locked locked;
    if (queuedCommands.empty() || !bus) return 0;
    const std::string command = std::move(queuedCommands.front());
    queuedCommands.pop_front();
    if (!bus->Execute(command, true)) ++bus->refusedQueued;
    return 0;
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
    // The program's folder, not this library's: the library is shared by
    // every program copy in the system folder, each copy has its own meters.
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
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
BusDevice* Resolve(SimBus& simBus, HANDLE handle, std::size_t* connection = nullptr) {
  TransferTarget target;
  BusDevice* device = simBus.DeviceOf(handle, target, connection);
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

LONGLONG PerformanceCounter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

BOOLEAN Transfer(HANDLE handle, PVOID report, ULONG length, Direction direction) {
  lu14::e2e::TransferRecord record;
  record.set = direction == Direction::kSet;
  record.begin = PerformanceCounter();
  std::uint64_t latency = 0;
  {
    const Locked locked;
    latency = Bus().BeginTransfer();
  }
  SpendMicroseconds(latency);
  const Locked locked;
  std::size_t connection = 0;
  BusDevice* device = Resolve(Bus(), handle, &connection);
  if (!device) return FALSE;
  if (!report) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* bytes = static_cast<std::uint8_t*>(report);
  if (direction == Direction::kSet) {
    record.ok = device->meter->SetFeature(std::span<const std::uint8_t>(bytes, length));
    if (record.ok && length == lu14::sim::SimMeter::kReportSize) {
      ++device->received[bytes[lu14::sim::SimMeter::kCommandByte]];
      device->CommandReceived(bytes);
    }
  } else {
    if (device->ReplyReadFails()) device->meter->Faults().FailTransfer(device->meter->TransferCount());
    record.ok = device->meter->GetFeature(std::span<std::uint8_t>(bytes, length));
  }
  record.end = PerformanceCounter();
  const bool ok = record.ok;
  if (Bus().Recording()) {
    record.report.assign(bytes, bytes + length);
    record.connection = connection;
    Bus().Recorded(std::move(record));
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
