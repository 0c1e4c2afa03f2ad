#include "tests/e2e/MeterControl.h"

#include <fstream>
#include <sstream>

#include "tests/e2e/standin/StandInProtocol.h"
#include "tests/win32/ProgramCopy.h"
#include "tests/win32/WaitFor.h"

namespace lu14::e2e {
namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  if (hex.size() % 2 != 0) return bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::filesystem::path TempDumpFile() {
  static unsigned counter = 0;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return std::filesystem::path(temp) /
         (L"lu14-e2e-dump-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L".txt");
}

}  // namespace

std::filesystem::path StandInsFolder() {
  return (win32::TestsFolder() / LU14_STANDINS_FROM_TESTS).lexically_normal();
}

void InstallStandIns(const std::filesystem::path& folder, const std::vector<std::string>& startCommands) {
  PreferStandInsToWineBuiltins();
  for (const wchar_t* library : {L"hid.dll", L"setupapi.dll"}) {
    std::filesystem::copy_file(StandInsFolder() / library, folder / library,
                               std::filesystem::copy_options::overwrite_existing);
  }
  std::ofstream file(folder / kMetersFileName, std::ios::binary);
  for (const std::string& command : startCommands) file << command << "\r\n";
}

void PreferStandInsToWineBuiltins() {
  // Wine loads its own setupapi.dll even when one lies beside the program,
  // unless its load order for the program says otherwise. That is kept per
  // program name in the prefix; where no stand-in lies beside the program
  // (bin/, a program run by hand) "native" finds none and Wine's own is loaded.
  // WINEDLLOVERRIDES set here would not reach the program: Wine takes it from
  // the environment that the Wine process itself was started with.
  constexpr wchar_t kKey[] = L"Software\\Wine\\AppDefaults\\lu14-updater.exe\\DllOverrides";
  constexpr wchar_t kNativeFirst[] = L"native,builtin";
  for (const wchar_t* library : {L"setupapi", L"hid"}) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, library, REG_SZ, kNativeFirst, sizeof(kNativeFirst));
  }
}

std::size_t MeterDump::Received(int code) const {
  const auto found = received.find(code);
  return found == received.end() ? 0 : found->second;
}

std::optional<MeterDump> MeterDump::Parse(const std::string& text) {
  MeterDump dump;
  std::istringstream lines(text);
  std::string line;
  bool sawEeprom = false;
  while (std::getline(lines, line)) {
    const auto blank = line.find(' ');
    const std::string key = line.substr(0, blank);
    const std::string value = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    std::istringstream values(value);
    if (key == "present") {
      dump.present = value == "1";
    } else if (key == "flag") {
      dump.flag = std::stoi(value);
    } else if (key == "version") {
      dump.version = value;
    } else if (key == "eeprom") {
      dump.eeprom = FromHex(value);
      sawEeprom = true;
    } else if (key == "flash") {
      dump.flash = FromHex(value);
    } else if (key == "commits") {
      for (int page; values >> page;) dump.commits.push_back(page);
    } else if (key == "refused-commits") {
      values >> dump.refusedCommits;
    } else if (key == "received") {
      for (std::string entry; values >> entry;) {
        const auto colon = entry.find(':');
        dump.received[std::stoi(entry.substr(0, colon))] = std::stoul(entry.substr(colon + 1));
      }
    } else if (key == "transfers") {
      values >> dump.transfers;
    } else if (key == "sets-open") {
      values >> dump.setsOpen;
    } else if (key == "preparsed-live") {
      values >> dump.preparsedLive;
    } else if (key == "refused-calls") {
      values >> dump.refusedCalls;
    }
  }
  if (!sawEeprom) return std::nullopt;
  return dump;
}

std::optional<MeterDump> MeterDump::Read(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return Parse(text.str());
}

HWND MeterControl::Window() const {
  HWND window = nullptr;
  win32::PumpUntil([&] { return (window = win32::FindWindowOfProcess(processId_, kControlWindowClass)) != nullptr; },
                   win32::kWindowTimeout);
  return window;
}

bool MeterControl::Send(const std::string& command) const {
  const HWND window = Window();
  if (!window) return false;
  COPYDATASTRUCT data{};
  data.dwData = kControlCopyDataTag;
  data.cbData = static_cast<DWORD>(command.size());
  data.lpData = const_cast<char*>(command.data());
  DWORD_PTR result = 0;
  // No SMTO_ABORTIFHUNG: a long handler of the program (the settings backup)
  // is not a hang, the command simply waits for it.
  const auto timeout = static_cast<UINT>(std::chrono::milliseconds(kCommandTimeout).count());
  if (!SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, timeout, &result)) {
    return false;
  }
  return result == TRUE;
}

std::optional<MeterDump> MeterControl::Dump(std::uint32_t meterId) const {
  const std::filesystem::path file = TempDumpFile();
  if (!Send("dump " + std::to_string(meterId) + " " + win32::Utf8(file.wstring()))) return std::nullopt;
  std::optional<MeterDump> dump = MeterDump::Read(file);
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  return dump;
}

}  // namespace lu14::e2e
