// lu14-wine-floor.exe: the floor of a recorded run. Replays the feature
// transfers of a recording (same reports, same order) against a fresh meter
// of the stand-in hid.dll from the system folder, back to back, waiting only
// what the protocol mandates between them (TransferRecording.h), and records
// its own run through the stand-in the same way. No window, no message loop,
// no timers: what is left is the transfers as Wine and the stand-in serve them.
//
//   lu14-wine-floor.exe RECORDING-TO-REPLAY OWN-RECORDING
//
// The meter is the one meters.txt beside this program plugs in, with its
// latency. Exits 0 when every reply matched the recorded one, 1 when one did
// not (or the replay could not run), 2 for a usage error.
#include <windows.h>

#include <hidsdi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/win32/TransferRecording.h"
#include "tests/e2e/standin/StandInBus.h"
#include "tests/e2e/standin/StandInProtocol.h"

namespace {

using namespace lu14::bench;

using FeatureCall = BOOLEAN(WINAPI*)(HANDLE, PVOID, ULONG);
using ListInterfacesCall = DWORD(WINAPI*)(Lu14StandInInterface*, DWORD);

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Waits by spinning: the floor must not pay a wake-up of its own.
void SpinUntil(LONGLONG deadline) {
  while (Now() < deadline) YieldProcessor();
}

BOOL CALLBACK MatchControlWindow(HWND window, LPARAM found) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (lstrcmpW(name, lu14::e2e::kControlWindowClass) != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// A command to the bus in this process, through its control window.
bool Command(const std::string& command) {
  HWND control = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &MatchControlWindow, reinterpret_cast<LPARAM>(&control));
  if (!control) return false;
  COPYDATASTRUCT data{lu14::e2e::kControlCopyDataTag, static_cast<DWORD>(command.size()),
                      const_cast<char*>(command.data())};
  return SendMessageW(control, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)) == TRUE;
}

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

int Fail(const char* what) {
  std::fprintf(stderr, "lu14-wine-floor: %s\n", what);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: lu14-wine-floor RECORDING-TO-REPLAY OWN-RECORDING\n");
    return 2;
  }
  std::string error;
  const auto recording = ReadTimedRecording(argv[1], error);
  if (!recording) return Fail(error.c_str());
  if (!IsCleanRun(recording->transfers, error)) return Fail(("not a clean run: " + error).c_str());

  const HMODULE hid = LoadLibraryExW(L"hid.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  const auto setFeature = reinterpret_cast<FeatureCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(hid, "HidD_SetFeature")));
  const auto getFeature = reinterpret_cast<FeatureCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(hid, "HidD_GetFeature")));
  const auto listInterfaces = reinterpret_cast<ListInterfacesCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(hid, "Lu14StandInListInterfaces")));
  if (!setFeature || !getFeature || !listInterfaces) return Fail("the system's hid.dll is not the stand-in");

  Lu14StandInInterface meter{};
  if (listInterfaces(&meter, 1) < 1) return Fail("no meter plugged in");
  const HANDLE device = CreateFileW(meter.path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return Fail("the meter cannot be opened");
  if (!Command("record-transfers")) return Fail("the bus refused to record");

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const auto& transfers = recording->transfers;
  std::size_t differing = 0;
  LONGLONG lastEnd = Now();
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    const auto wait = MandatedWaitBefore(transfers, i);
    SpinUntil(lastEnd + wait.count() * frequency.QuadPart / 1'000'000);
    std::vector<std::uint8_t> report = transfers[i].bytes;
    if (transfers[i].set) {
      if (!setFeature(device, report.data(), static_cast<ULONG>(report.size()))) ++differing;
    } else {
      std::fill(report.begin(), report.end(), std::uint8_t{0});
      if (!getFeature(device, report.data(), static_cast<ULONG>(report.size())) || report != transfers[i].bytes) {
        ++differing;
      }
    }
    lastEnd = Now();
  }
  CloseHandle(device);
  if (!Command("write-transfers " + Utf8(argv[2]))) return Fail("the bus did not write the recording");
  if (differing != 0) {
    std::fprintf(stderr, "lu14-wine-floor: %zu of %zu transfers went otherwise than recorded\n", differing,
                 transfers.size());
    return 1;
  }
  return 0;
}
