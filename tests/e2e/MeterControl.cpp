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

// The libraries the stand-ins replace, and their names in the load order settings.
constexpr const wchar_t* kStandIns[] = {L"hid.dll", L"setupapi.dll"};
constexpr const wchar_t* kOverridden[] = {L"hid", L"setupapi"};
// The programs that bind them: the window, the console tool, and the
// benchmark's floor program, which replays the window's transfers through the
// same stand-ins.
constexpr const wchar_t* kOverridesKeys[] = {L"Software\\Wine\\AppDefaults\\lu14-updater.exe\\DllOverrides",
                                             L"Software\\Wine\\AppDefaults\\lu14.exe\\DllOverrides",
                                             L"Software\\Wine\\AppDefaults\\lu14-wine-floor.exe\\DllOverrides"};

std::filesystem::path SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return std::filesystem::path(std::wstring(folder, length < MAX_PATH ? length : 0));
}

// Where Wine's own file is kept while a stand-in takes its place.
std::filesystem::path SavedPath(const wchar_t* library) {
  return SystemFolder() / (std::wstring(L"lu14-wine-") + library);
}

std::string Contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return in ? bytes.str() : std::string();
}

bool SameContents(const std::filesystem::path& a, const std::filesystem::path& b) {
  const std::string first = Contents(a);
  return !first.empty() && first == Contents(b);
}

void PreferStandInsToWineBuiltins() {
  // Wine keeps placeholders of its own libraries in the system folder and
  // loads its built-in ones in their stead, also when another file has taken
  // a placeholder's place, unless the load order for the program says
  // otherwise. That is kept per program name in the prefix: the program
  // copies are all named lu14-updater.exe or lu14.exe (the floor program has
  // its own name), and no other program is touched.
  // WINEDLLOVERRIDES set here would not reach the program: Wine takes it from
  // the environment that the Wine process itself was started with.
  constexpr wchar_t kNativeFirst[] = L"native,builtin";
  for (const wchar_t* key : kOverridesKeys) {
    for (const wchar_t* library : kOverridden) {
      RegSetKeyValueW(HKEY_CURRENT_USER, key, library, REG_SZ, kNativeFirst, sizeof(kNativeFirst));
    }
  }
}

}  // namespace

std::filesystem::path StandInsFolder() {
  return (win32::TestsFolder() / LU14_STANDINS_FROM_TESTS).lexically_normal();
}

bool InstallStandIns(const std::filesystem::path& folder, const std::vector<std::string>& startCommands) {
  SetEnvironmentVariableW(L"LU14_ALLOW_PLACEHOLDER_FIRMWARE", L"1");
  std::ofstream file(folder / kMetersFileName, std::ios::binary);
  for (const std::string& command : startCommands) file << command << "\r\n";
  file.close();
  return InstallStandInsInSystemFolder() && file;
}

bool InstallStandInsInSystemFolder() {
  PreferStandInsToWineBuiltins();
  bool installed = true;
  // CopyFileW rather than std::filesystem::copy_file: the latter takes any two
  // files of one drive for the same file here (its file identity is empty).
  for (const wchar_t* library : kStandIns) {
    const std::filesystem::path target = SystemFolder() / library;
    const std::filesystem::path standIn = StandInsFolder() / library;
    if (SameContents(standIn, target)) continue;
    // Kept once: a later run after one that never restored keeps Wine's own.
    CopyFileW(target.c_str(), SavedPath(library).c_str(), TRUE);
    installed = CopyFileW(standIn.c_str(), target.c_str(), FALSE) && SameContents(standIn, target) && installed;
  }
  return installed;
}

void RestoreSystemLibraries() {
  for (const wchar_t* library : kStandIns) {
    const std::filesystem::path saved = SavedPath(library);
    MoveFileExW(saved.c_str(), (SystemFolder() / library).c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  for (const wchar_t* key : kOverridesKeys) {
    for (const wchar_t* library : kOverridden) RegDeleteKeyValueW(HKEY_CURRENT_USER, key, library);
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
    } else if (key == "failed-reply-reads") {
      values >> dump.failedReplyReads;
    } else if (key == "sets-open") {
      values >> dump.setsOpen;
    } else if (key == "preparsed-live") {
      values >> dump.preparsedLive;
    } else if (key == "refused-calls") {
      values >> dump.refusedCalls;
    } else if (key == "refused-queued") {
      values >> dump.refusedQueued;
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

std::optional<std::string> MeterControl::Ask(const std::string& command) const {
  const std::filesystem::path file = TempDumpFile();
  if (!Send(command + " " + win32::Utf8(file.wstring()))) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  in.close();
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  return text.str();
}

std::optional<MeterDump> MeterControl::Dump(std::uint32_t meterId) const {
  const std::optional<std::string> text = Ask("dump " + std::to_string(meterId));
  return text ? MeterDump::Parse(*text) : std::nullopt;
}

std::optional<WindowFonts> MeterControl::Fonts() const {
  const std::optional<std::string> text = Ask("window-fonts");
  return text ? WindowFonts::Parse(*text) : std::nullopt;
}

std::optional<WindowFonts> WindowFonts::Parse(const std::string& text) {
  WindowFonts fonts;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string what;
    words >> what;
    int id = 0;
    if (what == "control" && !(words >> id)) return std::nullopt;
    std::optional<FontSeen> font;
    std::string height;
    words >> height;
    if (height != "none") {
      FontSeen seen;
      seen.height = std::stoi(height);
      if (!(words >> seen.weight)) return std::nullopt;
      words.get();  // the blank before the face, which may hold blanks itself
      std::getline(words, seen.face);
      font = seen;
    }
    if (what == "control") {
      fonts.controls[id] = font;
    } else if (what == "hints") {
      fonts.hints = font;
    }
  }
  if (fonts.controls.empty()) return std::nullopt;
  return fonts;
}

}  // namespace lu14::e2e
