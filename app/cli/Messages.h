// Every text lu14 shows a person, in English and Russian, in one catalogue.
// A run speaks one language, chosen once from the locale; JSON keys, option
// names and command names are the same in both.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace lu14::cli {

enum class Language { English, Russian };

// The locale's language as POSIX orders the variables: the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty decides; Russian when it
// starts with "ru", English otherwise. `otherwise` when none is set. Null
// stands for an unset variable.
Language LanguageOf(const char* lcAll, const char* lcMessages, const char* lang,
                    Language otherwise = Language::English);
// LanguageOf the process environment, otherwise the system's (SystemLanguage.h).
Language LanguageFromEnvironment();

enum class Msg {
  // help
  MainHelp,
  StatusHelp,
  ListHelp,
  UpdateHelp,
  OptionHelp,
  ChecksumHelp,
  BackupHelp,
  RestoreHelp,
  FaultsHeading,
  OtherwiseEnglish,          // the end of the help's language rule, per platform
  OtherwiseWindowsLanguage,
  // the command line
  UsageLine,
  SeeHelp,
  NoCommand,
  UnknownCommand,
  UnknownOption,
  UnexpectedArgument,
  NeedsValue,
  BadNumber,
  UnknownFault,
  SimulationOnly,
  UnknownOptionName,
  OptionReadOnly,
  BadOnOff,
  OptionNeedsNameAndValue,
  CommandLineUnreadable,
  RestoreNeedsFile,
  // prefixes
  ErrorPrefix,
  WarningPrefix,
  // finding a meter
  WaitingForMeter,
  WaitingForDevice,
  TryPlugIn,
  MeterNotAccessible,
  NoMeterFound,
  DeviceNotFound,
  AttachedMeters,
  SeveralMetersRefused,
  SeveralMetersReadingFirst,
  NoStatusAnswer,
  Interrupted,
  // status and list
  LabelIdentity,
  LabelFirmware,
  LabelBattery,
  LabelOption,
  Complete,
  IncompleteRunUpdate,
  BatteryLowCharge,
  Volts,
  On,
  Off,
  Unknown,
  ListComplete,
  ListIncomplete,
  ListUnreadable,
  // before an update
  RefusedPrefix,
  RefusedPlaceholder,
  RefusedBatteryLow,
  AlreadyCurrent,
  AboutToWrite,
  AskToWrite,
  Declined,
  // the update
  PhaseSavingSettings,
  PhaseWriting,
  PhaseVerifying,
  TimeLeft,
  SettingsSaved,
  FirmwareWritten,
  NoBackupSaved,
  UpdateFailedPrefix,
  FailDisconnected,
  FailBackupRead,
  FailBackupWrite,
  FailBackupUnavailableNoFolder,
  FailBackupUnavailableIn,
  FailStartNotConfirmed,
  FailInterrupted,
  FailInterruptedBeforeWriting,
  FailLinkFailed,
  FailChunkNotConfirmed,
  FailVersionText,
  FailChecksumMismatch,
  FailCompleteMark,
  FailStillIncomplete,
  FailDisconnectedBeforeStart,
  FailTimeout,
  StopWarning,
  // options and checksum
  OptionNotTaken,
  OptionWriteNotConfirmed,
  ChecksumMatches,
  ChecksumDiffers,
  ChecksumNoAnswer,
  // backup and restore
  OutputExists,
  BackupNoDocuments,
  BackupFolderUnwritable,
  BackupReadFailed,
  BackupWriteFailed,
  BackupCutShort,
  FileUnreadable,
  FileTooLarge,
  FileNotABackup,
  FileBadCharacter,
  FileShortLine,
  FileLongLine,
  FileMissingLines,
  FileExtraData,
  OtherMetersBackup,
  NameHoldsNoIdentity,
  ForceRestores,
  RestoringAnyway,
  FirmwareSinceBackup,
  EepromUnreadable,
  NothingToRestore,
  DifferencesHeading,
  GroupOptions,
  GroupBatteryCoefficient,
  GroupOther,
  GroupSkipped,
  PartVersionText,
  PartAfterUpdate,
  PartFirmwareFlag,
  DifferenceLine,
  DryRunNothingWritten,
  AskToRestore,
  RestoreDeclined,
  Restored,
  RestoreFailed,
  RestoreInterrupted,
  ByteWriteNotConfirmed,
  ByteReadBackFailed,
  ByteReadBackDiffers,
  RestoreAgain,
  // the link (shown with -v)
  LinkEventLine,
  LinkResent,
  LinkReadsFailed,
  LinkGaveUp,
  LinkStillBusy,
  LinkEchoMismatch,
  LinkWrongReportLength,
  WriteNotConfirmed,
  // the simulated faults
  FaultNoMeter,
  FaultLowBattery,
  FaultIncompleteFirmware,
  FaultUpToDate,
  FaultSumMismatch,
  FaultUnplugDuringUpdate,
  FaultWrongChecksum,
  FaultWriteRefused,
  // record and replay
  ReplayWithSimulate,
  RecordExists,
  RecordCannotWrite,
  RecordingIncomplete,
  ReplayCannotRead,
  ReplayBadFileAtLine,
  ReplayBadFile,
  RecordingEmpty,
  RecordingNotJson,
  RecordingCutShort,
  RecordingNotObject,
  RecordingNoHeader,
  RecordingOtherFormat,
  RecordingFieldMissing,
  RecordingFieldWrongType,
  RecordingOutOfOrder,
  RecordingUnknownLine,
  RecordingLineTooLong,
  ReplayDiverged,
  ReplayPastEnd,
  ReplayTransfer,
  ReplayOtherVersion,
  // several meters: the simulated fault's target, update --all
  FaultMeterNeedsFault,
  AllOnlyWithUpdate,
  AllWithDevice,
  AllWithRecording,
  AllAboutToWrite,
  AllAskToWrite,
  AllReading,
  AllEndedOk,
  AllEndedFailed,
  AllWritten,
  AllAlreadyCurrent,
  AllFailed,
  AllSavedTo,
  AllSummary,
  Count
};

// The text of a message in a language with {0}, {1} ... replaced by the arguments.
std::string Text(Language language, Msg message, std::initializer_list<std::string_view> arguments = {});

// Both texts of a message, unformatted (for checks of the catalogue itself).
std::string_view RawText(Language language, Msg message);

}  // namespace lu14::cli
