#include "update/BackupFile.h"

#include "ports/Utf.h"
#include "update/SettingsBackup.h"
#include "update/UpdateParameters.h"

namespace lu14 {
namespace {

constexpr std::size_t kDigitsPerLine = kBytesPerBackupLine * 2;
constexpr std::size_t kVersionTextLength = 5;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Where the UTF-8 text's last `count` code points begin; npos when it has fewer.
std::size_t LastCodePoints(std::string_view text, std::size_t count) {
  std::size_t at = text.size();
  for (std::size_t seen = 0; seen < count; ++seen) {
    if (at == 0) return std::string_view::npos;
    do --at;
    while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80);
  }
  return at;
}

}  // namespace

BackupText ReadBackupText(std::string_view text) {
  EepromImage image{};
  std::size_t at = 0;
  for (std::size_t line = 0; line < kBackupLines; ++line) {
    const auto fail = [&](BackupTextFault fault, std::size_t column, char found = 0) {
      return BackupText{std::nullopt, {fault, line + 1, column, found}};
    };
    if (at == text.size()) return fail(BackupTextFault::MissingLines, 1);
    for (std::size_t k = 0; k < kDigitsPerLine; ++k, ++at) {
      const bool lineEnds = at == text.size() || text[at] == '\n' ||
                            (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n');
      if (lineEnds) return fail(BackupTextFault::ShortLine, k + 1);
      const int value = HexValue(text[at]);
      if (value < 0) return fail(BackupTextFault::BadCharacter, k + 1, text[at]);
      std::uint8_t& byte = image[line * kBytesPerBackupLine + k / 2];
      byte = static_cast<std::uint8_t>(k % 2 == 0 ? value << 4 : byte | value);
    }
    // The line end: CR LF or LF; the last line may end with the text.
    if (at + 1 < text.size() && text[at] == '\r' && text[at + 1] == '\n') {
      at += 2;
    } else if (at < text.size() && text[at] == '\n') {
      at += 1;
    } else if (at < text.size()) {
      return fail(BackupTextFault::LongLine, kDigitsPerLine + 1, text[at]);
    }
  }
  if (at != text.size()) return {std::nullopt, {BackupTextFault::ExtraData, kBackupLines + 1, 1, text[at]}};
  return {image, {}};
}

std::optional<BackupName> BackupNameOf(const std::filesystem::path& file) {
  const std::u8string utf8 = file.filename().u8string();
  std::string_view name(reinterpret_cast<const char*>(utf8.data()), utf8.size());
  if (!name.ends_with(kBackupExtension)) return std::nullopt;
  name.remove_suffix(kBackupExtension.size());
  // A browser saving a second download of the same name adds " (N)" or "(N)".
  if (name.ends_with(')')) {
    const std::size_t open = name.rfind('(');
    if (open != std::string_view::npos && AllDigits(name.substr(open + 1, name.size() - open - 2))) {
      name = name.substr(0, open);
      if (name.ends_with(' ')) name.remove_suffix(1);
    }
  }
  // From the end: an optional _N (a later backup of the same minute), _DDMMYY, _HHMM.
  const auto lastPart = [&] {
    const std::size_t cut = name.rfind('_');
    return cut == std::string_view::npos ? std::string_view() : name.substr(cut + 1);
  };
  const auto dropLastPart = [&] { name = name.substr(0, name.rfind('_')); };
  if (const std::string_view copy = lastPart(); AllDigits(copy) && copy.size() != 6 && copy.size() != 4) dropLastPart();
  if (const std::string_view date = lastPart(); date.size() != 6 || !AllDigits(date)) return std::nullopt;
  dropLastPart();
  if (const std::string_view time = lastPart(); time.size() != 4 || !AllDigits(time)) return std::nullopt;
  dropLastPart();
  const std::size_t version = LastCodePoints(name, kVersionTextLength);
  if (version == std::string_view::npos || version == 0) return std::nullopt;
  std::string_view identity = name.substr(0, version);
  if (const std::size_t start = LastCodePoints(identity, kIdentityLength); start != std::string_view::npos) {
    identity.remove_prefix(start);
  }
  return BackupName{std::string(identity), std::string(name.substr(version))};
}

bool NamesMeter(const BackupName& name, const std::u32string& identity) {
  return !identity.empty() && name.identity == CodePointsToUtf8(FileNameSafe(identity));
}

}  // namespace lu14
