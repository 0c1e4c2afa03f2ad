// The settings backup file: where it goes, what it holds, and what happens
// when the disk or the meter lets it down.
#include <gtest/gtest.h>

#include "ports/Utf.h"
#include "tests/update/UpdateRun.h"
#include "update/SettingsBackup.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;
using sim::Path;

const Path kFolder = "C:/Users/user/Documents/lu14";

// The expected text of a backup of this EEPROM: 128 lines of 32 hex digits.
std::vector<std::uint8_t> ExpectedBackup(std::span<const std::uint8_t> eeprom) {
  std::string text;
  char digits[3];
  for (std::size_t line = 0; line < 128; ++line) {
    for (std::size_t k = 0; k < 16; ++k) {
      std::snprintf(digits, sizeof digits, "%02X", eeprom[line * 16 + k]);
      text += digits;
    }
    text += "\r\n";
  }
  return {text.begin(), text.end()};
}

struct BackupFixture : ::testing::Test, UpdateRun {
  explicit BackupFixture(LocalTime start = {2026, 12, 10, 9, 30, 0}) : UpdateRun(start) {}
  void SetUp() override { Poll(); }
  std::string Identity() { return CodePointsToUtf8(form.State().DeviceIdentity); }
  std::vector<Path> Backups() { return files.FilesIn(kFolder); }
};

TEST_F(BackupFixture, TheFileIsAByteExactHexDumpNamedByIdentityTimeAndDate) {
  meter->SetEeprom(0, 0x00);
  meter->SetEeprom(1, 0xAB);
  meter->SetEeprom(16, 0x05);
  const std::vector<std::uint8_t> eeprom(meter->EepromBytes().begin(), meter->EepromBytes().end());
  PressB1();
  const Path file = kFolder / (Identity() + "_0930_101226.hex");
  ASSERT_EQ(Backups(), std::vector<Path>{file});
  const auto contents = files.FileContents(file);
  ASSERT_TRUE(contents);
  EXPECT_EQ(contents->size(), 4352u);
  EXPECT_EQ(std::string(contents->begin(), contents->begin() + 4), "00AB");
  EXPECT_EQ(std::string(contents->begin() + 34, contents->begin() + 36), "05");
  EXPECT_EQ(*contents, ExpectedBackup(eeprom));
  EXPECT_EQ(form.Pr1.Position(), 127);
  RunUpdateToItsEnd();
  ASSERT_TRUE(form.LastUpdate());
  EXPECT_EQ(form.LastUpdate()->backup.file, file);
}

struct MidnightBackup : BackupFixture {
  MidnightBackup() : BackupFixture({2026, 12, 31, 23, 59, 58}) {}
};

TEST_F(MidnightBackup, TheTimeIsReadBeforeTheDate) {
  runtime.SetClockReadDuration(1s);
  PressB1();
  EXPECT_EQ(Backups(), std::vector<Path>{kFolder / (Identity() + "_2359_010127.hex")});
}

TEST_F(BackupFixture, ABackupIsNeverReplacedLaterOnesOfTheSameMinuteAreNumbered) {
  files.DocumentsFolder();
  ASSERT_EQ(files.MakeDirectory(kFolder), 0u);  // an existing folder is used as it is
  const std::vector<std::uint8_t> before(meter->EepromBytes().begin(), meter->EepromBytes().end());
  // The common case: an update that fails after the meter was marked 0x88,
  // and a retry within the same minute.
  meter->Faults().Add({.which = sim::Commands::IndexOf(cmdReadChecksum, 0), .checksum = 0x123456});
  PressB1();
  RunUpdateToItsEnd();
  ASSERT_FALSE(Logged(kLogUpdateDone));
  ASSERT_EQ(meter->FirmwareFlag(), kFirmwareUpdating);
  RunThroughTick(kTimer1Id);
  const std::vector<std::uint8_t> marked(meter->EepromBytes().begin(), meter->EepromBytes().end());
  PressB1();
  RunUpdateToItsEnd();
  EXPECT_TRUE(Logged(kLogUpdateDone));
  RunThroughTick(kTimer1Id);
  PressB1();
  RunUpdateToItsEnd();

  const std::string name = Identity() + "_0930_101226";
  EXPECT_EQ(Backups(), (std::vector<Path>{kFolder / (name + ".hex"), kFolder / (name + "_2.hex"),
                                          kFolder / (name + "_3.hex")}));
  // The first still holds the settings from before any update, the second
  // the meter marked 0x88.
  EXPECT_EQ(files.FileContents(kFolder / (name + ".hex")), ExpectedBackup(before));
  EXPECT_EQ(files.FileContents(kFolder / (name + "_2.hex")), ExpectedBackup(marked));
  EXPECT_EQ(marked[kEepromFirmwareValidFlag], kFirmwareUpdating);
  EXPECT_EQ(form.Pr1.Max(), 235);  // kept from the first update
}

TEST_F(BackupFixture, AFolderOrFileThatCannotBeCreatedIsSkippedSilently) {
  for (const bool folderFails : {true, false}) {
    SCOPED_TRACE(folderFails ? "folder" : "file");
    files.FailMakeDirectory(folderFails);
    if (!folderFails) files.LockFile(kFolder / (Identity() + "_0930_101226.hex.4242.part"));
    form.LB.Clear();
    form.Pr1.SetPosition(0);
    meter->ClearTrace();
    PressB1();
    EXPECT_TRUE(Backups().empty());
    EXPECT_EQ(form.Pr1.Position(), 0);
    EXPECT_EQ(form.LB.Lines(), std::vector<std::string>{"Пинцет ЛУ-14 подключен"});
    EXPECT_TRUE(runtime.Boxes().empty());
    RunUpdateToItsEnd();  // the update goes on without a backup
    EXPECT_TRUE(Logged(kLogUpdateDone));
    EXPECT_EQ(CommandCount(cmdReadEeprom), 0u);
    RunThroughTick(kTimer1Id);
  }
}

// lu14 keeps a simulated meter's backups apart: in a folder of their own
// inside the backup folder, made a level at a time, and only there.
TEST_F(BackupFixture, BackupsKeptApartGoToAFolderOfTheirOwnInsideTheBackupFolder) {
  form.Meter.KeepBackupsApartIn("simulated");
  const Path apart = kFolder / "simulated";
  EXPECT_EQ(form.Meter.Backup.BackupFolder(), apart);
  PressB1();
  EXPECT_EQ(files.FilesIn(apart), std::vector<Path>{apart / (Identity() + "_0930_101226.hex")});
  EXPECT_TRUE(Backups().empty());
  RunUpdateToItsEnd();
  ASSERT_TRUE(form.LastUpdate());
  EXPECT_EQ(form.LastUpdate()->backup.file, apart / (Identity() + "_0930_101226.hex"));
}

TEST(BackupFailure, ABackupThatCannotBeFinishedLeavesNoFileAndWritesNothingToTheMeter) {
  struct Case {
    const char* what;
    std::function<void(UpdateRun&, const Path& file)> inject;
  };
  const Case cases[] = {
      {"disk full half way", [](UpdateRun& r, const Path&) { r.files.SetFreeSpace(2000); }},
      {"flush fails", [](UpdateRun& r, const Path&) { r.files.FailFlush(true); }},
      {"close fails", [](UpdateRun& r, const Path&) { r.files.FailClose(true); }},
      {"the file cannot be moved to its name", [](UpdateRun& r, const Path&) { r.files.FailMoves(true); }},
      {"a read fails every time it is asked",
       [](UpdateRun& r, const Path&) {
         r.meter->Faults().Add({.which = sim::Commands{cmdReadEeprom, 1000, kConfirmedReadAttempts, true},
                                .busyReads = sim::CommandFault::kForever});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateRun run;
    run.Poll();
    c.inject(run, kFolder / (CodePointsToUtf8(run.form.State().DeviceIdentity) + "_0930_101226.hex"));
    run.meter->ClearTrace();
    run.PressB1();
    run.runtime.RunFor(5s);
    EXPECT_TRUE(run.files.FilesIn(kFolder).empty());
    EXPECT_EQ(run.runtime.Boxes().size(), 1u);
    EXPECT_EQ(run.CommandCount(cmdWriteEeprom), 0u);
    EXPECT_EQ(run.CommandCount(cmdWriteChunk), 0u);
    EXPECT_EQ(run.meter->FirmwareFlag(), kFirmwareComplete);
    EXPECT_TRUE(run.form.Timer1.Enabled());
    EXPECT_TRUE(run.form.B1.Enabled());  // the poll gives the button back for another try
  }
}

TEST_F(BackupFixture, AnIdentityWithCharactersNoFileNameHoldsStaysInTheFolder) {
  meter->SetInfo(cmdInfo29, 0x0093, 27);  // the letter 65 + 27 = "\"
  meter->SetEeprom(kEepromVersionText, std::array<std::uint8_t, 5>{'/', ':', '*', 0x00, '?'});
  RunThroughTick(kTimer1Id);
  PressB1();
  const auto backups = Backups();
  ASSERT_EQ(backups.size(), 1u);
  const std::string name = backups[0].filename().string();
  EXPECT_EQ(name.substr(0, 1), "_");
  EXPECT_EQ(name.find_first_of(std::string("\\/:*?\"<>|\0", 10)), std::string::npos) << name;
  EXPECT_TRUE(name.ends_with("_____" "_0930_101226.hex")) << name;
}

TEST(BackupNames, FileNameSafeReplacesOnlyWhatAFileNameCannotHold) {
  EXPECT_EQ(FileNameSafe(U"B0A1D1.50"), U"B0A1D1.50");
  EXPECT_EQ(FileNameSafe(U"\\/:*?\"<>|"), U"_________");
  EXPECT_EQ(FileNameSafe(std::u32string{U'A', 0x00, 0x1F, 0x7F, 0x9F, 0xFF, 0x140}),
            (std::u32string{U'A', U'_', U'_', U'_', U'_', 0xFF, 0x140}));
}

TEST(BackupFolder, ACyrillicDocumentsPathAndAnUnknownOne) {
  sim::SimFileSystem cyrillic(Path("C:/Users/Пользователь/Документы"));
  sim::SimRuntime::Setup setup;
  setup.files = &cyrillic;
  sim::SimRuntime runtime(setup);
  sim::SimHidBus bus(runtime);
  TMForm form(runtime, bus, "Lu14-updater");
  EXPECT_EQ(SettingsBackup(form.Meter.Memory, runtime).BackupFolder(), Path("C:/Users/Пользователь/Документы/lu14"));

  sim::SimFileSystem none(std::nullopt);
  setup.files = &none;
  sim::SimRuntime noDocuments(setup);
  TMForm other(noDocuments, bus, "Lu14-updater");
  EXPECT_EQ(SettingsBackup(other.Meter.Memory, noDocuments).BackupFolder(), Path("/lu14"));
}

}  // namespace
}  // namespace lu14::testing
