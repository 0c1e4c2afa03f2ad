#include "sim/SimFileSystem.h"

#include <gtest/gtest.h>

namespace lu14::sim {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(SimFileSystem, DirectoriesAreMadeOneLevelAtATime) {
  SimFileSystem files(Path("C:/Users/Пользователь/Documents"));
  const Path documents = *files.DocumentsFolder();
  EXPECT_TRUE(files.DirectoryExists(documents));
  EXPECT_EQ(files.MakeDirectory(documents / "lu14"), 0u);
  EXPECT_EQ(files.MakeDirectory(documents / "lu14"), kErrorAlreadyExists);
  EXPECT_NE(files.MakeDirectory(documents / "a" / "b"), 0u);
  EXPECT_FALSE(SimFileSystem(std::nullopt).DocumentsFolder());
}

TEST(SimFileSystem, FaultsOfAUsersDisk) {
  SimFileSystem files;
  const Path folder = *files.DocumentsFolder();
  files.SetFreeSpace(4);
  auto file = files.CreateOutputFile(folder / "a.hex");
  ASSERT_TRUE(file);
  EXPECT_FALSE(file->Write(Bytes("123456")));  // disk full: only what fits lands
  EXPECT_EQ(files.FileContents(folder / "a.hex"), Bytes("1234"));

  files.LockFile(folder / "locked.hex");
  EXPECT_FALSE(files.CreateOutputFile(folder / "locked.hex"));
  EXPECT_NE(files.MoveFileNoReplace(folder / "a.hex", folder / "locked.hex"), MoveOutcome::Moved);
  EXPECT_FALSE(files.CreateOutputFile(folder / "missing" / "x.hex"));

  files.FailFlush(true);
  files.FailClose(true);
  EXPECT_FALSE(file->FlushToDisk());
  EXPECT_FALSE(file->Close());
}

TEST(SimFileSystem, MoveNeverReplacesAFileAndRemoveDeletes) {
  SimFileSystem files;
  const Path folder = *files.DocumentsFolder();
  files.CreateOutputFile(folder / "old")->Write(Bytes("old"));
  files.CreateOutputFile(folder / "new.tmp")->Write(Bytes("new"));
  EXPECT_EQ(files.MoveFileNoReplace(folder / "new.tmp", folder / "old"), MoveOutcome::TargetExists);
  EXPECT_EQ(files.FileContents(folder / "old"), Bytes("old"));
  EXPECT_EQ(files.MoveFileNoReplace(folder / "new.tmp", folder / "new"), MoveOutcome::Moved);
  EXPECT_EQ(files.FileContents(folder / "new"), Bytes("new"));
  EXPECT_TRUE(files.RemoveFile(folder / "new"));
  EXPECT_EQ(files.FilesIn(folder).size(), 1u);
  EXPECT_TRUE(files.RemoveFile(folder / "old"));
  EXPECT_FALSE(files.RemoveFile(folder / "old"));
}

}  // namespace
}  // namespace lu14::sim
