#include "cli/output/RecordingTexts.h"

#include "ports/Utf.h"

namespace lu14::cli {
namespace {

using record::RecordingFault;
using record::RecordingFaultReason;

// Why the file is refused, without the file and line around it.
std::string ReasonText(Language language, const RecordingFault& fault) {
  switch (fault.reason) {
    case RecordingFaultReason::Empty: return Text(language, Msg::RecordingEmpty);
    case RecordingFaultReason::NotJson: return Text(language, Msg::RecordingNotJson);
    case RecordingFaultReason::CutShort: return Text(language, Msg::RecordingCutShort);
    case RecordingFaultReason::NotObject: return Text(language, Msg::RecordingNotObject);
    case RecordingFaultReason::NoHeader: return Text(language, Msg::RecordingNoHeader);
    case RecordingFaultReason::OtherFormat:
      return Text(language, Msg::RecordingOtherFormat,
                  {std::to_string(fault.format), std::to_string(record::kRecordingFormat)});
    case RecordingFaultReason::FieldMissing: return Text(language, Msg::RecordingFieldMissing, {fault.field});
    case RecordingFaultReason::FieldWrongType: return Text(language, Msg::RecordingFieldWrongType, {fault.field});
    case RecordingFaultReason::OutOfOrder:
      return Text(language, Msg::RecordingOutOfOrder, {std::to_string(fault.transfer)});
    case RecordingFaultReason::UnknownLine: return Text(language, Msg::RecordingUnknownLine);
    case RecordingFaultReason::LineTooLong:
      return Text(language, Msg::RecordingLineTooLong, {std::to_string(record::kLongestRecordingLine)});
  }
  // Every reason has its case above (-Wswitch names one that has none).
  return Text(language, Msg::RecordingUnknownLine);
}

}  // namespace

std::string RecordingFaultText(Language language, const std::string& file, const RecordingFault& fault) {
  const std::string reason = ReasonText(language, fault);
  if (fault.line == 0) return Text(language, Msg::ReplayBadFile, {file, reason});
  return Text(language, Msg::ReplayBadFileAtLine, {file, std::to_string(fault.line), reason});
}

std::string DivergenceText(Language language, const record::ReplayDivergence& divergence,
                           const record::Recording& recording, const std::string& toolVersion) {
  const auto transferText = [&](const record::RecordedTransfer& transfer) {
    return Text(language, Msg::ReplayTransfer,
                {transfer.set ? "set" : "get", record::HexBytes(transfer.bytes.data(), transfer.bytes.size()),
                 Utf16ToUtf8(transfer.path)});
  };
  std::string text =
      divergence.recorded
          ? Text(language, Msg::ReplayDiverged,
                 {std::to_string(divergence.transfer), transferText(*divergence.recorded), transferText(divergence.asked)})
          : Text(language, Msg::ReplayPastEnd,
                 {std::to_string(divergence.transfer), std::to_string(recording.transfers.size()),
                  transferText(divergence.asked)});
  if (recording.header.version != toolVersion) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) of "\n" + text in the mingw build.
    text.append("\n").append(Text(language, Msg::ReplayOtherVersion, {recording.header.version, toolVersion}));
  }
  return text;
}

std::string CommandLineText(const std::vector<std::string>& arguments) {
  std::string text = "lu14";
  for (const std::string& argument : arguments) text += " " + argument;
  return text;
}

}  // namespace lu14::cli
