// The test side of the simulated meters: puts the stand-in hid.dll and
// setupapi.dll into the Wine prefix's system folder and the meters present at
// start beside a program copy, sends control commands to the bus inside the
// running program, and reads its dumps. The commands and the dump are
// described in standin/StandInProtocol.h.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace lu14::e2e {

// How long a command may wait for the program's thread to take it: that
// thread serves the bus only between its handlers.
inline constexpr std::chrono::seconds kCommandTimeout{120};

// Where the stand-ins are built.
std::filesystem::path StandInsFolder();

// Readies `folder`, which holds a program copy, for a run against simulated
// meters: puts the stand-ins into the system folder (InstallStandInsInSystemFolder)
// and writes the folder's meters.txt, whose commands run at the program's first
// HID call (`plug` lines are meters present at start). Program copies started
// from this process afterwards may stream the carried placeholder image: they
// only ever meet simulated meters. false when the stand-ins could not be put in place.
bool InstallStandIns(const std::filesystem::path& folder, const std::vector<std::string>& startCommands);

// Copies the stand-ins over hid.dll and setupapi.dll in the system folder of
// the Wine prefix, where the program takes its HID libraries from, and makes
// lu14-updater.exe, lu14.exe and the benchmark's lu14-wine-floor.exe prefer
// them to Wine's built-in ones (a setting of the prefix, for those program
// names; every other program keeps Wine's own). Wine's files are kept aside
// the first time. Does nothing when they are in place.
bool InstallStandInsInSystemFolder();
// Puts Wine's own files back and drops the preference, so that later suites
// in the same prefix see the system as it was.
void RestoreSystemLibraries();

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
  std::size_t failedReplyReads = 0;  // reads that fail-reply-read failed
  long setsOpen = 0;
  long preparsedLive = 0;
  long refusedCalls = 0;
  long refusedQueued = 0;

  std::size_t Received(int code) const;

  static std::optional<MeterDump> Parse(const std::string& text);
  static std::optional<MeterDump> Read(const std::filesystem::path& file);
};

// A font as the program created it: LOGFONT's height (negative: the height of
// the characters in pixels), weight and face (UTF-8).
struct FontSeen {
  int height = 0;
  int weight = 0;
  std::string face;
  bool operator==(const FontSeen&) const = default;
};
inline void PrintTo(const FontSeen& font, std::ostream* os) {
  *os << "\"" << font.face << "\" height " << font.height << " weight " << font.weight;
}

// The fonts of the program's window: its controls by id, and its hints.
struct WindowFonts {
  std::map<int, std::optional<FontSeen>> controls;
  std::optional<FontSeen> hints;

  static std::optional<WindowFonts> Parse(const std::string& text);
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
  // The fonts of the program's window now, likewise.
  std::optional<WindowFonts> Fonts() const;

 private:
  // Sends "<command> <file>" and reads what the bus wrote to the file.
  std::optional<std::string> Ask(const std::string& command) const;

  DWORD processId_;
};

}  // namespace lu14::e2e
