// The test side of the simulated meters: places the stand-in hid.dll and
// setupapi.dll (and the meters present at start) beside a program copy, sends
// control commands to the bus inside the running program, and reads its dumps.
// The commands and the dump are described in standin/StandInProtocol.h.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lu14::e2e {

// How long a command may wait for the program's thread to take it: that
// thread serves the bus only between its handlers.
inline constexpr std::chrono::seconds kCommandTimeout{120};

// Where the stand-ins are built.
std::filesystem::path StandInsFolder();
// Copies hid.dll and setupapi.dll into `folder` and writes its meters.txt:
// commands run at the program's first HID call (`plug` lines are meters
// present at start). Also prefers them to Wine's own (below).
void InstallStandIns(const std::filesystem::path& folder, const std::vector<std::string>& startCommands);

// Makes lu14-updater.exe load hid.dll and setupapi.dll from its own folder
// when they lie there, before Wine's built-in libraries (a setting of the
// Wine prefix, for that program name).
void PreferStandInsToWineBuiltins();

// One meter's state as the bus dumps it.
struct MeterDump {
  bool present = false;
  int flag = -1;
  std::string version;
  std::vector<std::uint8_t> eeprom;
  std::vector<std::uint8_t> flash;  // the streamed part
  std::vector<int> commits;         // accepted pages, in order
  std::size_t refusedCommits = 0;
  std::map<int, std::size_t> received;  // commands by code
  std::size_t transfers = 0;
  long setsOpen = 0;
  long preparsedLive = 0;
  long refusedCalls = 0;

  std::size_t Received(int code) const;

  static std::optional<MeterDump> Parse(const std::string& text);
  static std::optional<MeterDump> Read(const std::filesystem::path& file);
};

// The control window of the bus in one program process.
class MeterControl {
 public:
  explicit MeterControl(DWORD processId) : processId_(processId) {}

  // The control window, waiting for it to appear; null when it does not.
  HWND Window() const;
  // Runs a command in the program; true when the bus carried it out.
  bool Send(const std::string& command) const;
  // The meter's state now, through a temporary file.
  std::optional<MeterDump> Dump(std::uint32_t meterId) const;

 private:
  DWORD processId_;
};

}  // namespace lu14::e2e
