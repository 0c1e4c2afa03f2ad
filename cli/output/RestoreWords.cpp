#include "cli/output/RestoreWords.h"

#include <algorithm>
#include <cstdio>

namespace lu14::cli {
namespace {

std::string Hex2(std::uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
  return text;
}

// A byte of a file as an error message shows it: printable ASCII quoted, any
// other as \xNN.
std::string ShownByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte > 0x20 && byte < 0x7F) return std::string("\"") + c + "\"";
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", static_cast<unsigned>(byte));
  return text;
}

}  // namespace

std::string NotABackup(Language language, const std::string& shownFile, const BackupTextError& error) {
  std::string why;
  switch (error.fault) {
    case BackupTextFault::BadCharacter: why = Text(language, Msg::FileBadCharacter, {ShownByte(error.found)}); break;
    case BackupTextFault::ShortLine: why = Text(language, Msg::FileShortLine); break;
    case BackupTextFault::LongLine: why = Text(language, Msg::FileLongLine, {ShownByte(error.found)}); break;
    case BackupTextFault::MissingLines: why = Text(language, Msg::FileMissingLines); break;
    case BackupTextFault::ExtraData: why = Text(language, Msg::FileExtraData); break;
  }
  return Text(language, Msg::FileNotABackup,
              {shownFile, std::to_string(error.line), std::to_string(error.column), why});
}

std::vector<std::string> PlanLines(Language language, const RestorePlan& plan, const std::string& fileName,
                                   const std::function<std::string(MeterOption)>& optionName) {
  std::vector<std::string> lines;
  if (plan.toWrite.empty() && plan.skipped.empty()) return lines;
  const auto line = [&](const ByteDifference& difference) {
    std::string what;
    switch (PartOf(difference.address)) {
      case EepromPart::Option: what = optionName(*OptionAt(difference.address)); break;
      case EepromPart::VersionText: what = Text(language, Msg::PartVersionText); break;
      case EepromPart::AfterUpdate: what = Text(language, Msg::PartAfterUpdate); break;
      case EepromPart::FirmwareFlag: what = Text(language, Msg::PartFirmwareFlag); break;
      case EepromPart::BatteryCoefficient:
      case EepromPart::Other: break;
    }
    char address[8];
    std::snprintf(address, sizeof address, "%4u", static_cast<unsigned>(difference.address));
    lines.push_back(Text(language, Msg::DifferenceLine,
                         {address, Hex2(difference.meter), Hex2(difference.file), what.empty() ? "" : "  " + what}));
  };
  const auto group = [&](Msg heading, const std::vector<ByteDifference>& bytes, auto belongs) {
    bool headed = false;
    for (const ByteDifference& difference : bytes) {
      if (!belongs(PartOf(difference.address))) continue;
      if (!headed) lines.push_back(Text(language, heading) + ':');
      headed = true;
      line(difference);
    }
  };
  lines.push_back(Text(language, Msg::DifferencesHeading,
                       {std::to_string(plan.toWrite.size()), fileName, std::to_string(plan.skipped.size())}));
  group(Msg::GroupOptions, plan.toWrite, [](EepromPart part) { return part == EepromPart::Option; });
  group(Msg::GroupBatteryCoefficient, plan.toWrite,
        [](EepromPart part) { return part == EepromPart::BatteryCoefficient; });
  group(Msg::GroupOther, plan.toWrite, [](EepromPart part) { return part == EepromPart::Other; });
  group(Msg::GroupSkipped, plan.skipped, [](EepromPart) { return true; });
  return lines;
}

std::string RestoreFailure(Language language, const RestoreOutcome& outcome) {
  if (outcome.Succeeded()) return {};
  const std::size_t notTried = outcome.Count(ByteResult::NotAttempted);
  const std::string total = std::to_string(outcome.bytes.size());
  const std::string confirmed = std::to_string(outcome.Count(ByteResult::Confirmed));
  const std::string unsent = std::to_string(notTried);
  if (outcome.interrupted) {
    const auto firstUntried = std::find_if(outcome.bytes.begin(), outcome.bytes.end(), [](const ByteWritten& byte) {
      return byte.result == ByteResult::NotAttempted;
    });
    return Text(language, Msg::RestoreInterrupted,
                {confirmed, total, unsent, std::to_string(firstUntried->difference.address)});
  }
  const auto failed = std::find_if(outcome.bytes.begin(), outcome.bytes.end(), [](const ByteWritten& byte) {
    return byte.result != ByteResult::Confirmed && byte.result != ByteResult::NotAttempted;
  });
  std::string why;
  switch (failed->result) {
    case ByteResult::WriteNotConfirmed:
      why = failed->readBack ? Text(language, Msg::ByteWriteNotConfirmedReadsBack, {Hex2(*failed->readBack)})
                             : Text(language, Msg::ByteWriteNotConfirmed);
      break;
    case ByteResult::ReadBackFailed: why = Text(language, Msg::ByteReadBackFailed); break;
    case ByteResult::ReadBackDiffers:
      why = Text(language, Msg::ByteReadBackDiffers, {Hex2(failed->readBack.value_or(0))});
      break;
    case ByteResult::Confirmed:
    case ByteResult::NotAttempted: break;
  }
  return Text(language, Msg::RestoreFailed,
              {std::to_string(failed->difference.address), why, confirmed, total, unsent});
}

}  // namespace lu14::cli
