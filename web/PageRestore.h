// A settings backup put back from the page, under the rules of lu14 restore:
// the file the user picked is checked before the meter is touched, compared
// with the meter byte by byte and its differences shown (the firmware's own
// bytes skipped); the bytes are written only when the user asks, after the
// meter has been read again and still differs as shown.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "cli/output/Messages.h"
#include "session/MeterAgent.h"
#include "update/SettingsRestore.h"

namespace lu14::web {

class PageRestore {
 public:
  PageRestore(cli::Language language, MeterAgent& meter) : language_(language), meter_(meter) {}

  // The user picked `file` (in the module's file system) while the meter
  // showed `status`: the differences go on the page, or why there are none.
  void FileChosen(const std::filesystem::path& file, const MeterStatus& status);
  // The user asked to write the differences shown; `anyway`: the backup's
  // name does not name this meter and the user ticked that it goes in all the same.
  // True when bytes were written (the page reads the meter again).
  bool Write(bool anyway, const MeterStatus& status);
  // Nothing pending any more (the meter left): the differences shown go.
  void Forget();

 private:
  struct Pending {
    std::filesystem::path file;
    EepromImage backup;
    std::u32string identity;
    RestorePlan plan;
    // The backup's name does not name this meter: the refusal lu14 would give without --force.
    std::optional<std::string> doubt;
  };
  std::string Say(cli::Msg message, std::initializer_list<std::string_view> arguments = {}) const {
    return cli::Text(language_, message, arguments);
  }
  // The backup's bytes, or nothing once the reason is on the page.
  std::optional<EepromImage> ReadFile(const std::filesystem::path& file);
  // The meter's EEPROM compared with the backup; nothing once the reason is on the page.
  std::optional<RestorePlan> Compare(const EepromImage& backup);
  void ShowPlan(const Pending& pending);
  // Why the restore ended without writing, or how the writes went.
  void Ended(bool success, const std::string& text);

  cli::Language language_;
  MeterAgent& meter_;
  std::optional<Pending> pending_;
};

}  // namespace lu14::web
