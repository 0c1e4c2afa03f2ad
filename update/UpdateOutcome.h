// The values a firmware update and its settings backup are described by: the
// phases and progress, the faults found, the rules a front end sets, and the
// outcomes they end in.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace lu14 {

enum class UpdatePhase : int {
  SavingSettings,  // the meter's EEPROM goes to the settings backup
  Writing,         // the image streams in chunks, a page commit every 256 bytes
  Finishing,       // the version text, the checksum check and the completion mark
};

struct UpdateProgress {
  UpdatePhase phase;
  int done;   // SavingSettings: backup lines written; Writing: pages committed
  int total;  // lines or pages in all
};

// Why an update, or a part of it, did not succeed, in the order found.
enum class UpdateFault : int {
  BackupReadFailed,        // an EEPROM read failed during the backup: nothing sent
  BackupWriteFailed,       // the backup file could not be finished: nothing sent
  BackupUnavailable,       // no backup could be made and the rules require one: nothing sent
  PlaceholderFirmware,     // the program carries a placeholder image: nothing sent
  StartMarkRefused,        // the meter did not confirm 0x88 at EEPROM 1023: nothing sent
  ChunkNotConfirmed,       // a chunk's sum or a page commit was not confirmed: stream stopped
  LinkFailed,              // the link raised an error mid-stream: stream stopped
  VersionTextNotWritten,   // the version text or EEPROM 958 was not confirmed
  ChecksumMismatch,        // the meter's checksum was not read or differs from the image's
  CompleteMarkNotWritten,  // the meter did not confirm the flag 1
  MeterRemoved,            // the meter the update is bound to was pulled out
  Interrupted,             // the front end stopped it: before the start wrote anything, or between two chunks
};

enum class UpdateResult {
  Completed,     // every chunk, commit and finishing write confirmed, checksum equal, flag 1
  Cancelled,     // ended before any chunk was sent; the meter's firmware is untouched
  Stopped,       // the stream stopped part-way; the meter is marked incomplete (0x88)
  Unverified,    // streamed whole, but a finishing step failed; the flag stays 0x88
  Disconnected,  // the meter left during the update
};

enum class BackupResult {
  Written,  // the whole file is in place
  Skipped,  // no folder or file could be made for it: no backup (see UpdateRules)
  Failed,   // begun but not finished: nothing is left, the update does not go on
};

struct BackupOutcome {
  BackupResult result = BackupResult::Skipped;
  std::filesystem::path folder;  // where it was to go; empty when there was no such place
  std::filesystem::path file;    // Written: where it is
  UpdateFault fault = UpdateFault::BackupWriteFailed;  // Failed: which part failed
  // Skipped, or Failed writing: what went wrong with which path, in the
  // platform's words (Shell::LastFileError); empty when it gave none.
  std::string reason{};
};

// Where a backup may go when the user's Documents folder is unknown.
enum class BackupFolderRule {
  DocumentsOrRoot,  // the root's "lu14" then
  DocumentsOnly,    // nowhere: the backup is skipped
};

// What a front end asks of an update before it may touch the meter.
struct UpdateRules {
  // No update without a settings backup: a backup that cannot be made
  // cancels the update (BackupUnavailable).
  bool backupRequired = false;
  BackupFolderRule backupFolder = BackupFolderRule::DocumentsOrRoot;
  // A backup begun but not written (a full disk, a locked file) leaves no
  // file, and the update goes on without one; otherwise it cancels the
  // update. A settings read that fails cancels it either way: a meter that
  // does not answer its reads is no meter to write firmware to.
  bool goOnWhenBackupNotWritten = false;
  // The program carries a placeholder image instead of the meter's firmware;
  // it goes out only where this allows it (a simulated meter, a test).
  bool placeholderAllowed = false;
};

struct UpdateOutcome {
  UpdateResult result = UpdateResult::Cancelled;
  std::vector<UpdateFault> faults;
  std::size_t bytesConfirmed = 0;  // image bytes the meter confirmed
  BackupOutcome backup;
};

}  // namespace lu14
