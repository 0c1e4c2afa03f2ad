// The Win32 adapter of the HID platform under Wine: binding against the real
// libraries and against stand-ins (FakeHidServices.h) that serve a fixed set of
// interfaces, device handles over ordinary files, and the notification window.
#include "device/win32/Win32HidPlatform.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cwctype>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "os/win32/Win32Handle.h"
#include "tests/device/HidInterfacePrinting.h"
#include "tests/device/win32/FakeHidServices.h"
#include "tests/win32/WaitFor.h"

namespace lu14::win32 {
namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 10s;

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::string Narrow(const std::u16string& text) {
  const auto* wide = reinterpret_cast<const wchar_t*>(text.c_str());
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
  return narrow;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::wstring LowerWide(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); });
  return text;
}

// The stand-ins lie beside the test program.
std::wstring BesideTheTests(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return (std::filesystem::path(path).parent_path() / name).wstring();
}

std::filesystem::path SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length);
}

std::wstring InSystemFolder(const wchar_t* name) { return (SystemFolder() / name).wstring(); }

// The file a loaded module came from, lower case; empty for none.
std::wstring ModuleFile(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = module ? GetModuleFileNameW(module, path, MAX_PATH) : 0;
  return LowerWide(std::wstring(path, length));
}

// The names of the libraries this executable is linked against, loaded with it
// or on first call (delay-load), lower case.
std::vector<std::string> ImportedLibraries() {
  const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  std::vector<std::string> names;
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress) {
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
         ++entry) {
      names.push_back(Lower(reinterpret_cast<const char*>(base + entry->Name)));
    }
  }
  const IMAGE_DATA_DIRECTORY& delayed = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
  if (delayed.VirtualAddress) {
    for (auto* entry = reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR*>(base + delayed.VirtualAddress);
         entry->DllNameRVA; ++entry) {
      names.push_back(Lower(reinterpret_cast<const char*>(base + entry->DllNameRVA)));
    }
  }
  return names;
}

// A scratch file that stands in for a device path: the stand-in hid.dll works
// on any open handle.
class ScratchFile {
 public:
  ScratchFile() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::filesystem::path(temp) / (L"lu14-hid-device-" + std::to_wstring(GetCurrentProcessId()));
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  ~ScratchFile() { DeleteFileW(path_.c_str()); }
  std::u16string DevicePath() const { return U16(path_.wstring()); }
  // Opens the file as another program would hold a device.
  HANDLE Hold(DWORD access, DWORD sharing) const {
    return CreateFileW(path_.c_str(), access, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
  }

 private:
  std::filesystem::path path_;
};

// Keeps the stand-in libraries loaded for the test and reaches their
// inspection calls.
class FakeServices {
 public:
  FakeServices()
      : setupApi_(LoadLibraryW(BesideTheTests(fake::kSetupApiName).c_str())),
        hid_(LoadLibraryW(BesideTheTests(fake::kHidName).c_str())) {}
  ~FakeServices() {
    if (setupApi_) {
      FailClassDevs(FALSE);
      FreeLibrary(setupApi_);
    }
    if (hid_) {
      SetHidFailures(fake::kFailNothing);
      FreeLibrary(hid_);
    }
  }
  bool Loaded() const { return setupApi_ && hid_; }

  fake::SetupApiCounters SetupApiCounters() const {
    fake::SetupApiCounters counters{};
    Get<fake::ReadSetupApiCountersFn>(setupApi_, fake::kReadSetupApiCounters)(&counters);
    return counters;
  }
  void FailClassDevs(BOOL fail) const { Get<fake::FailClassDevsFn>(setupApi_, fake::kFailClassDevs)(fail); }
  fake::HidRecord HidRecord() const {
    fake::HidRecord record{};
    Get<fake::ReadHidRecordFn>(hid_, fake::kReadHidRecord)(&record);
    return record;
  }
  void SetHidFailures(DWORD failures) const {
    Get<fake::SetHidFailuresFn>(hid_, fake::kSetHidFailures)(failures);
  }

 private:
  template <typename Function>
  static Function Get(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  }
  HMODULE setupApi_;
  HMODULE hid_;
};

class Win32HidWithStandIns : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes_.Loaded()) << "the stand-in libraries belong beside the test program";
    ASSERT_TRUE(platform_.Bind());
  }
  FakeServices fakes_;
  Win32HidPlatform platform_{BesideTheTests(fake::kSetupApiName), BesideTheTests(fake::kHidName)};
};

// Collects what reaches the notification callback.
struct Notices {
  std::function<void(std::intptr_t)> Callback() {
    return [this](std::intptr_t secondParameter) { received.push_back(secondParameter); };
  }
  bool WaitFor(std::intptr_t value) {
    return PumpUntil([&] { return std::find(received.begin(), received.end(), value) != received.end(); },
                     kPatience);
  }
  std::vector<std::intptr_t> received;
};

// --- Binding ---------------------------------------------------------------

TEST(Win32HidBinding, BindsTheSystemLibraries) {
  Win32HidPlatform platform;
  EXPECT_TRUE(platform.Bind());
}

TEST(Win32HidBinding, NeitherLibraryIsLinkedAtLoadTime) {
  const std::vector<std::string> imported = ImportedLibraries();
  ASSERT_NE(std::find(imported.begin(), imported.end(), "kernel32.dll"), imported.end()) << "import table not read";
  EXPECT_EQ(std::find(imported.begin(), imported.end(), "hid.dll"), imported.end());
  EXPECT_EQ(std::find(imported.begin(), imported.end(), "setupapi.dll"), imported.end());
}

TEST(Win32HidBinding, FailsWithoutCrashingWhenALibraryOrAnEntryPointIsMissing) {
  const struct {
    std::wstring setupApi;
    std::wstring hid;
  } cases[] = {
      {BesideTheTests(L"lu14-missing-setupapi.dll"), InSystemFolder(L"hid.dll")},
      {InSystemFolder(L"setupapi.dll"), BesideTheTests(L"lu14-missing-hid.dll")},
      {InSystemFolder(L"kernel32.dll"), InSystemFolder(L"hid.dll")},     // loads, but has none of the entry points
      {InSystemFolder(L"setupapi.dll"), InSystemFolder(L"user32.dll")},  // likewise for the HID side
      {InSystemFolder(L"hid.dll"), InSystemFolder(L"setupapi.dll")},     // the two swapped
      {L"setupapi.dll", L"hid.dll"},  // names without a folder are refused, not searched for
  };
  for (const auto& paths : cases) {
    SCOPED_TRACE(Narrow(U16(paths.setupApi)) + " + " + Narrow(U16(paths.hid)));
    Win32HidPlatform platform(paths.setupApi, paths.hid);
    EXPECT_FALSE(platform.Bind());
    EXPECT_FALSE(platform.PresentInterfaces().has_value());
    EXPECT_EQ(platform.Open(u"NUL", false), nullptr);
  }
}

// Copies of the stand-ins named hid.dll and setupapi.dll in a folder that the
// ordinary search order looks at before the system folder, as it looks
// beside the program first: SetDllDirectoryW puts the folder right after the
// program's own. Removed again afterwards.
class PlantedLibraries {
 public:
  PlantedLibraries() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::filesystem::path(temp) / (L"lu14-planted-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(folder_);
    std::filesystem::copy_file(BesideTheTests(fake::kSetupApiName), Path(L"setupapi.dll"),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(BesideTheTests(fake::kHidName), Path(L"hid.dll"),
                               std::filesystem::copy_options::overwrite_existing);
    SetDllDirectoryW(folder_.c_str());
  }
  ~PlantedLibraries() {
    SetDllDirectoryW(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::wstring Path(const wchar_t* name) const { return LowerWide((folder_ / name).wstring()); }

 private:
  std::filesystem::path folder_;
};

TEST(Win32HidBinding, TheSystemLibrariesComeFromTheSystemFolderEvenWhenCopiesLieEarlierOnTheSearchPath) {
  PlantedLibraries planted;
  {
    // The planted hid.dll is what a search by name finds.
    const HMODULE found = LoadLibraryW(L"hid.dll");
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(ModuleFile(found), planted.Path(L"hid.dll")) << "the fixture plants nothing the search would find";
    FreeLibrary(found);
    ASSERT_EQ(GetModuleHandleW(planted.Path(L"hid.dll").c_str()), nullptr);
  }

  Win32HidPlatform platform;
  ASSERT_TRUE(platform.Bind());
  EXPECT_EQ(GetModuleHandleW(planted.Path(L"hid.dll").c_str()), nullptr);
  EXPECT_EQ(GetModuleHandleW(planted.Path(L"setupapi.dll").c_str()), nullptr);
  EXPECT_EQ(ModuleFile(GetModuleHandleW(L"hid.dll")), LowerWide(InSystemFolder(L"hid.dll")));
  EXPECT_EQ(ModuleFile(GetModuleHandleW(L"setupapi.dll")), LowerWide(InSystemFolder(L"setupapi.dll")));
}

TEST(Win32HidBinding, LibrariesStayLoadedWhileAnythingFromThemLives) {
  ASSERT_EQ(GetModuleHandleW(fake::kHidName), nullptr);
  ScratchFile device;
  auto platform =
      std::make_unique<Win32HidPlatform>(BesideTheTests(fake::kSetupApiName), BesideTheTests(fake::kHidName));
  ASSERT_TRUE(platform->Bind());
  std::unique_ptr<HidHandle> handle = platform->Open(device.DevicePath(), true);
  ASSERT_NE(handle, nullptr);
  std::unique_ptr<HidPreparsedData> preparsed = handle->GetPreparsedData();
  ASSERT_NE(preparsed, nullptr);

  platform.reset();
  EXPECT_TRUE(handle->GetAttributes().has_value());
  handle.reset();
  EXPECT_TRUE(preparsed->GetCaps().has_value());
  EXPECT_NE(GetModuleHandleW(fake::kHidName), nullptr);
  preparsed.reset();
  EXPECT_EQ(GetModuleHandleW(fake::kHidName), nullptr);
  EXPECT_EQ(GetModuleHandleW(fake::kSetupApiName), nullptr);
}

// --- Scan ------------------------------------------------------------------

TEST_F(Win32HidWithStandIns, ScanReadsEveryReadableInterfaceInOrderAndReleasesTheSet) {
  const fake::SetupApiCounters before = fakes_.SetupApiCounters();
  const auto interfaces = platform_.PresentInterfaces();
  const fake::SetupApiCounters after = fakes_.SetupApiCounters();

  ASSERT_TRUE(interfaces.has_value());
  // Left out: the size query that succeeds, the one failing with another error,
  // and the detail call that fails. The last path is followed by slack bytes.
  const std::vector<HidInterface> expected = {
      {U16(fake::kInterfaces[0].path), 0x0101},
      {U16(fake::kInterfaces[4].path), 0x0202},
      {u"\\\\?\\hid#x", 0x0303},
  };
  EXPECT_EQ(*interfaces, expected);
  EXPECT_EQ(after.wrongRecordSizes - before.wrongRecordSizes, 0);
  EXPECT_EQ(after.wrongArguments - before.wrongArguments, 0);
  EXPECT_EQ(after.setsOpened - before.setsOpened, 1);
  EXPECT_EQ(after.setsDestroyed - before.setsDestroyed, 1);
}

TEST_F(Win32HidWithStandIns, ScanGivesNothingWhenTheSetCannotBeHad) {
  fakes_.FailClassDevs(TRUE);
  const fake::SetupApiCounters before = fakes_.SetupApiCounters();
  EXPECT_FALSE(platform_.PresentInterfaces().has_value());
  const fake::SetupApiCounters after = fakes_.SetupApiCounters();
  // No set, so nothing to destroy: an invalid handle is not handed back.
  EXPECT_EQ(after.setsDestroyed, before.setsDestroyed);
  EXPECT_EQ(after.wrongArguments, before.wrongArguments);

  fakes_.FailClassDevs(FALSE);
  EXPECT_TRUE(platform_.PresentInterfaces().has_value());
}

// --- Device handles --------------------------------------------------------

TEST_F(Win32HidWithStandIns, HandleReadsAttributesAndCapabilities) {
  ScratchFile device;
  const auto handle = platform_.Open(device.DevicePath(), true);
  ASSERT_NE(handle, nullptr);

  const auto attributes = handle->GetAttributes();
  ASSERT_TRUE(attributes.has_value()) << "HIDD_ATTRIBUTES.Size refused " << fakes_.HidRecord().wrongAttributesSize
                                      << " time(s)";
  EXPECT_EQ(attributes->vendorId, fake::kVendorId);
  EXPECT_EQ(attributes->productId, fake::kProductId);
  EXPECT_EQ(attributes->versionNumber, fake::kVersionNumber);

  auto preparsed = handle->GetPreparsedData();
  ASSERT_NE(preparsed, nullptr);
  EXPECT_EQ(fakes_.HidRecord().livePreparsedData, 1);
  const auto caps = preparsed->GetCaps();
  ASSERT_TRUE(caps.has_value());
  EXPECT_EQ(caps->featureReportByteLength, fake::kFeatureReportByteLength);
  EXPECT_EQ(preparsed->GetCaps()->featureReportByteLength, fake::kFeatureReportByteLength);  // asked anew
  preparsed.reset();
  EXPECT_EQ(fakes_.HidRecord().livePreparsedData, 0);
  EXPECT_EQ(fakes_.HidRecord().invalidHandles, 0);
}

TEST_F(Win32HidWithStandIns, HandleTransfersWholeFeatureReports) {
  ScratchFile device;
  const auto handle = platform_.Open(device.DevicePath(), true);
  ASSERT_NE(handle, nullptr);

  std::vector<std::uint8_t> out(fake::kFeatureReportByteLength);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(0xA0 + i);
  EXPECT_TRUE(handle->SetFeature(out));
  const fake::HidRecord sent = fakes_.HidRecord();
  ASSERT_EQ(sent.lastSetLength, out.size());
  EXPECT_TRUE(std::equal(out.begin(), out.end(), sent.lastSetReport));

  std::vector<std::uint8_t> in(fake::kFeatureReportByteLength, 0);
  in[0] = 0x02;  // the report ID asked for
  EXPECT_TRUE(handle->GetFeature(in));
  EXPECT_EQ(fakes_.HidRecord().lastGetLength, in.size());
  for (std::size_t i = 0; i < in.size(); ++i) EXPECT_EQ(in[i], 0x02 + i) << "byte " << i;
}

TEST_F(Win32HidWithStandIns, RefusalsOfTheServicesComeBackAsNothing) {
  ScratchFile device;
  const auto handle = platform_.Open(device.DevicePath(), false);
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> report(fake::kFeatureReportByteLength, 0);

  fakes_.SetHidFailures(fake::kFailAttributes | fake::kFailPreparsedData | fake::kFailFeatures);
  EXPECT_FALSE(handle->GetAttributes().has_value());
  EXPECT_EQ(handle->GetPreparsedData(), nullptr);
  EXPECT_FALSE(handle->SetFeature(report));
  EXPECT_FALSE(handle->GetFeature(report));

  fakes_.SetHidFailures(fake::kFailCaps);
  const auto preparsed = handle->GetPreparsedData();
  ASSERT_NE(preparsed, nullptr);
  EXPECT_FALSE(preparsed->GetCaps().has_value());
}

TEST_F(Win32HidWithStandIns, OpensSharingReadAndWriteAndFallsBackToQueryAccess) {
  ScratchFile device;
  {
    // Another program reading and writing, sharing both: a read/write open
    // succeeds only if it shares both in turn.
    const UniqueHandle other(device.Hold(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
    ASSERT_TRUE(other);
    EXPECT_NE(platform_.Open(device.DevicePath(), true), nullptr);
    EXPECT_NE(platform_.Open(device.DevicePath(), false), nullptr);
  }
  {
    // Another program that lets nobody write (as the system holds keyboards):
    // read/write access is refused, query access is not.
    const UniqueHandle other(device.Hold(GENERIC_READ, FILE_SHARE_READ));
    ASSERT_TRUE(other);
    EXPECT_EQ(platform_.Open(device.DevicePath(), true), nullptr);
    EXPECT_NE(platform_.Open(device.DevicePath(), false), nullptr);
  }
  EXPECT_EQ(platform_.Open(device.DevicePath() + u".missing", true), nullptr);
  EXPECT_EQ(platform_.Open(device.DevicePath() + u".missing", false), nullptr);
}

TEST_F(Win32HidWithStandIns, DestroyingTheHandleClosesTheDevice) {
  ScratchFile device;
  auto handle = platform_.Open(device.DevicePath(), true);
  ASSERT_NE(handle, nullptr);
  EXPECT_FALSE(UniqueHandle(device.Hold(GENERIC_READ, 0)));  // still open: no exclusive access
  handle.reset();
  EXPECT_TRUE(UniqueHandle(device.Hold(GENERIC_READ, 0)));
}

// --- The system's own libraries under Wine ---------------------------------

TEST(Win32HidSystem, ScanListsPresentInterfacesThatOpenOrAreReportedAsNull) {
  Win32HidPlatform platform;
  ASSERT_TRUE(platform.Bind());
  const auto interfaces = platform.PresentInterfaces();
  ASSERT_TRUE(interfaces.has_value());
  std::printf("HID interfaces present: %zu\n", interfaces->size());
  for (const HidInterface& interface : *interfaces) {
    EXPECT_FALSE(interface.path.empty());
    EXPECT_EQ(interface.path.find(u'\0'), std::u16string::npos);
    auto handle = platform.Open(interface.path, true);
    const char* access = "read/write";
    if (!handle) {
      handle = platform.Open(interface.path, false);
      access = handle ? "query only" : "not opened";
    }
    std::printf("  devnode 0x%08lx %s: %s", static_cast<unsigned long>(interface.deviceId),
                Narrow(interface.path).c_str(), access);
    if (handle) {
      if (const auto attributes = handle->GetAttributes()) {
        std::printf(", vendor 0x%04x product 0x%04x version 0x%04x", attributes->vendorId, attributes->productId,
                    attributes->versionNumber);
      }
      if (const auto preparsed = handle->GetPreparsedData()) {
        if (const auto caps = preparsed->GetCaps()) std::printf(", feature report %u bytes", caps->featureReportByteLength);
      }
    }
    std::printf("\n");
  }
  // Device nodes identify devices from one scan to the next.
  const auto again = platform.PresentInterfaces();
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(*again, *interfaces);
}

// --- Notifications ---------------------------------------------------------

TEST(Win32HidNotifications, WindowIsAHiddenUnownedTopLevelWindow) {
  Win32HidPlatform platform;
  Notices notices;
  ASSERT_TRUE(platform.StartNotifications(notices.Callback()));
  const HWND window = platform.NotificationWindow();
  ASSERT_TRUE(IsWindow(window));
  // Not a message-only window: those hang below HWND_MESSAGE, not the desktop.
  EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow());
  EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
  EXPECT_FALSE(IsWindowVisible(window));
  // Kept off the taskbar and the task switcher should anything ever show it.
  EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  platform.StopNotifications();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(platform.NotificationWindow(), nullptr);
}

TEST(Win32HidNotifications, PostedNoticeArrivesThroughTheMessageLoop) {
  Win32HidPlatform platform;
  Notices notices;
  ASSERT_TRUE(platform.StartNotifications(notices.Callback()));
  platform.PostDevicesChanged(-1);
  EXPECT_TRUE(notices.received.empty()) << "posted, so not handled before the loop runs";
  ASSERT_TRUE(notices.WaitFor(-1));
  // The whole pointer-sized parameter comes through.
  const std::intptr_t wide = static_cast<std::intptr_t>(0x1234567890LL);
  platform.PostDevicesChanged(wide);
  ASSERT_TRUE(notices.WaitFor(wide));
  EXPECT_EQ(notices.received, (std::vector<std::intptr_t>{-1, wide}));
}

TEST(Win32HidNotifications, SystemBroadcastArrivesWithZero) {
  Win32HidPlatform platform;
  Notices notices;
  ASSERT_TRUE(platform.StartNotifications(notices.Callback()));
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_ABORTIFHUNG, 5000, &result);
  ASSERT_TRUE(notices.WaitFor(0));
  EXPECT_EQ(notices.received, std::vector<std::intptr_t>{0});
}

TEST(Win32HidNotifications, OtherDeviceChangeEventsAndMessagesAreIgnored) {
  Win32HidPlatform platform;
  Notices notices;
  ASSERT_TRUE(platform.StartNotifications(notices.Callback()));
  const HWND window = platform.NotificationWindow();

  PostMessageW(window, WM_DEVICECHANGE, DBT_CONFIGCHANGED, 1);
  PostMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED + 1, 2);
  PostMessageW(window, WM_USER, DBT_DEVNODES_CHANGED, 3);
  DEV_BROADCAST_HDR arrival{};
  arrival.dbch_size = sizeof(arrival);
  arrival.dbch_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&arrival));
  SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&arrival));
  // Handled after everything posted before it.
  platform.PostDevicesChanged(9);
  ASSERT_TRUE(notices.WaitFor(9));
  EXPECT_EQ(notices.received, std::vector<std::intptr_t>{9});
}

TEST(Win32HidNotifications, NothingArrivesAfterStopping) {
  Win32HidPlatform stopped;
  Notices stoppedNotices;
  ASSERT_TRUE(stopped.StartNotifications(stoppedNotices.Callback()));
  // A second window, still listening, shows when the loop has got past
  // everything sent to the first.
  Win32HidPlatform listening;
  Notices listeningNotices;
  ASSERT_TRUE(listening.StartNotifications(listeningNotices.Callback()));

  stopped.PostDevicesChanged(5);  // queued, then dropped with the window
  stopped.StopNotifications();
  stopped.PostDevicesChanged(6);
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_ABORTIFHUNG, 5000, &result);
  listening.PostDevicesChanged(7);
  ASSERT_TRUE(listeningNotices.WaitFor(7));
  EXPECT_EQ(listeningNotices.received, (std::vector<std::intptr_t>{0, 7}));
  EXPECT_TRUE(stoppedNotices.received.empty());
}

TEST(Win32HidNotifications, CloseRequestsLeaveTheWindowListening) {
  Win32HidPlatform platform;
  Notices notices;
  ASSERT_TRUE(platform.StartNotifications(notices.Callback()));
  const HWND window = platform.NotificationWindow();
  // What TASKKILL without /F sends to each top-level window of the process.
  SendMessageW(window, WM_CLOSE, 0, 0);
  PostMessageW(window, WM_CLOSE, 0, 0);
  platform.PostDevicesChanged(4);
  ASSERT_TRUE(notices.WaitFor(4));
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(platform.NotificationWindow(), window);
}

TEST(Win32HidNotifications, ACallbackThatThrowsEndsNeitherTheProgramNorTheNotices) {
  Win32HidPlatform platform;
  std::vector<std::intptr_t> received;
  ASSERT_TRUE(platform.StartNotifications([&](std::intptr_t value) {
    received.push_back(value);
    if (value == 1) throw std::runtime_error("from a notice handler");
  }));
  platform.PostDevicesChanged(1);
  platform.PostDevicesChanged(2);
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 2; }, kPatience));
  EXPECT_EQ(received, (std::vector<std::intptr_t>{1, 2}));
}

TEST(Win32HidNotifications, TheCallbackMayStopTheNotifications) {
  Win32HidPlatform platform;
  int calls = 0;
  ASSERT_TRUE(platform.StartNotifications([&](std::intptr_t) {
    ++calls;
    platform.StopNotifications();
  }));
  const HWND window = platform.NotificationWindow();
  platform.PostDevicesChanged(1);
  platform.PostDevicesChanged(2);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(window); }, kPatience));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(platform.NotificationWindow(), nullptr);
}

}  // namespace
}  // namespace lu14::win32
