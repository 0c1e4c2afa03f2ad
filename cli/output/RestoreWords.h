// What a restore says, in a run's language: why a file is not a backup, the
// differences between the meter and a backup, and how the writes ended.
// lu14 restore and the web page word them alike.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/output/Messages.h"
#include "device/MeterOption.h"
#include "update/BackupFile.h"
#include "update/SettingsRestore.h"

namespace lu14::cli {

// Why `shownFile` is not a settings backup: the line, column and fault.
std::string NotABackup(Language language, const std::string& shownFile, const BackupTextError& error);

// The differences as lines: a heading, then the bytes to write grouped as
// options, battery coefficient and other bytes, then those skipped. An
// option byte's line ends with the option's name as `optionName` gives it.
std::vector<std::string> PlanLines(Language language, const RestorePlan& plan, const std::string& fileName,
                                   const std::function<std::string(MeterOption)>& optionName);

// How writes that did not all succeed ended: the byte that failed and why
// (or where the stop came), with the account of written, failed and not
// tried; empty when every byte was written and read back.
std::string RestoreFailure(Language language, const RestoreOutcome& outcome);

}  // namespace lu14::cli
