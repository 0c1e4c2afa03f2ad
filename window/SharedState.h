// What the window knows of the meter for the whole run of the program, in one
// clearly owned place: the form owns it and fills it from what the session
// reports; the session's parts get what they need of it as arguments.
#pragma once

#include <cstdint>
#include <string>

namespace lu14 {

struct SharedState {
  // 0 until a meter has been matched, then 14.
  std::uint8_t ModelCode = 0;
  // Holds the start-up caption from FormCreate until a meter is matched, then "14".
  std::string ModelSuffix;
  // The meter's identity as the status poll read it: a letter, 34 hex digits
  // and the 5-character version text. Raw meter bytes appear here as the
  // characters U+0000..U+00FF (the version text) and up to U+0140 (the letter).
  std::u32string DeviceIdentity;
  int FirmwareVersionNumber = 0;
  // The option boxes write to the meter only while this is set.
  bool OptionsSyncEnabled = false;
};

}  // namespace lu14
