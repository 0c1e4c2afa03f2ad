// lu14.exe's text under Wine: the language rule, UTF-8 on a pipe, Cyrillic and
// the progress bar on a real console, a person's answer typed at one, and
// files named in Cyrillic.
#include <gtest/gtest.h>

#include <windows.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/EndToEndSupport.h"
#include "tests/e2e/cli/CliChecks.h"
#include "tests/e2e/cli/ConsoleRun.h"
#include "tests/win32/ProgramCopy.h"

namespace lu14::e2e {
namespace {

using nlohmann::json;
using win32::Utf8;
using win32::Wide;

bool ValidUtf8(const std::string& text) {
  return text.empty() ||
         MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0) > 0;
}

struct LanguageCase {
  const char* name;
  EnvironmentChanges environment;
  bool russian;
};

std::vector<LanguageCase> LanguageCases() {
  const auto unset = std::nullopt;
  // With none of the variables set, the language of Windows' own display.
  const bool windowsRussian = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN;
  return {
      {"Lang", {{L"LC_ALL", unset}, {L"LC_MESSAGES", unset}, {L"LANG", L"ru_RU.UTF-8"}}, true},
      {"LcAllFirst", {{L"LC_ALL", L"C"}, {L"LC_MESSAGES", unset}, {L"LANG", L"ru_RU.UTF-8"}}, false},
      {"LcMessagesBeforeLang", {{L"LC_ALL", unset}, {L"LC_MESSAGES", L"ru_UA.UTF-8"}, {L"LANG", L"en_US"}}, true},
      {"NoneSet", {{L"LC_ALL", unset}, {L"LC_MESSAGES", unset}, {L"LANG", unset}}, windowsRussian},
  };
}

class LanguageRule : public testing::TestWithParam<LanguageCase> {};

TEST_P(LanguageRule, FollowsTheLocaleAndReachesAPipeAsUtf8) {
  const LanguageCase& language = GetParam();
  ConsoleRun run(Wide(std::string("language-") + language.name), {"plug 1"}, {"status"},
                 {.environment = language.environment});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitOk) << Describe(outcome);
  EXPECT_TRUE(ValidUtf8(outcome.out)) << Describe(outcome);
  const std::string firstLabel = language.russian ? "идентификатор   " : "identity   ";
  EXPECT_TRUE(outcome.out.starts_with(firstLabel)) << Describe(outcome);
  EXPECT_NE(outcome.out.find(language.russian ? "прошивка" : "firmware"), std::string::npos) << Describe(outcome);
}

INSTANTIATE_TEST_SUITE_P(LuExe, LanguageRule, testing::ValuesIn(LanguageCases()),
                         [](const testing::TestParamInfo<LanguageCase>& param) { return param.param.name; });

TEST(LuExe, CyrillicReachesAConsoleWhole) {
  ASSERT_TRUE(GiveThisProcessAConsole());
  const ScreenBuffer screen;
  ASSERT_NE(screen.Handle(), INVALID_HANDLE_VALUE) << GetLastError();
  ConsoleRun run(L"console", {"plug 1"}, {"status"},
                 {.environment = {{L"LC_ALL", std::nullopt}, {L"LC_MESSAGES", std::nullopt}, {L"LANG", L"ru_RU.UTF-8"}},
                  .consoleOutput = screen.Handle()});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  const std::wstring shown = screen.Text();
  ASSERT_EQ(outcome.exitCode, kExitOk) << Utf8(shown);
  EXPECT_NE(shown.find(L"идентификатор   "), std::wstring::npos) << Utf8(shown);
  EXPECT_NE(shown.find(L"батарея"), std::wstring::npos) << Utf8(shown);
  EXPECT_EQ(shown.find(L'\xFFFD'), std::wstring::npos) << Utf8(shown);
}

TEST(LuExe, TheProgressBarRedrawsItsLineOnAConsole) {
  ASSERT_TRUE(GiveThisProcessAConsole());
  const ScreenBuffer screen;
  ASSERT_NE(screen.Handle(), INVALID_HANDLE_VALUE) << GetLastError();
  const BackupWatch backups;  // the simulated meter's backup is removed again
  ConsoleRun run(L"progress", {}, {"--simulate", "update", "--yes"},
                 {.environment = {{L"LC_ALL", L"C"}}, .consoleOutput = screen.Handle()});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  const std::wstring shown = screen.Text();
  ASSERT_EQ(outcome.exitCode, kExitOk) << Utf8(shown);
  // One line per phase, drawn over and over, ending full; no escape sequence
  // left on the screen.
  const std::wstring bar = L"writing firmware [";
  const std::size_t drawn = shown.find(bar);
  ASSERT_NE(drawn, std::wstring::npos) << Utf8(shown);
  EXPECT_EQ(shown.find(bar, drawn + 1), std::wstring::npos) << Utf8(shown);
  EXPECT_EQ(shown.substr(drawn + bar.size(), 36), std::wstring(30, L'#') + L"] 100%") << Utf8(shown);
  EXPECT_EQ(shown.find(L'\x1b'), std::wstring::npos) << Utf8(shown);
  EXPECT_EQ(shown.find(L"[K"), std::wstring::npos) << Utf8(shown);
}

TEST(LuExe, TheBoardOfSeveralMetersRedrawsItsLinesOnAConsole) {
  ASSERT_TRUE(GiveThisProcessAConsole());
  const ScreenBuffer screen;
  ASSERT_NE(screen.Handle(), INVALID_HANDLE_VALUE) << GetLastError();
  const BackupWatch backups;  // the simulated meters' backups are removed again
  ConsoleRun run(L"board", {}, {"--simulate", "--meters", "2", "update", "--all", "--yes"},
                 {.environment = {{L"LC_ALL", L"C"}}, .consoleOutput = screen.Handle()});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  const std::wstring shown = screen.Text();
  ASSERT_EQ(outcome.exitCode, kExitOk) << Utf8(shown);
  // Each meter's line drawn over and over in place, ending "done", then a
  // result line each.
  for (const std::wstring identity :
       {L"B4C55313407E3129A005FC81E950FA73C86", L"B4D55313407E3129A005FC81E950FA73C86"}) {
    EXPECT_NE(shown.find(identity + L"  done  "), std::wstring::npos) << Utf8(shown);
    EXPECT_NE(shown.find(identity + L"  ok: "), std::wstring::npos) << Utf8(shown);
  }
  EXPECT_EQ(shown.find(L"writing firmware"), std::wstring::npos) << Utf8(shown);
  EXPECT_EQ(shown.find(L'\x1b'), std::wstring::npos) << Utf8(shown);
  EXPECT_NE(shown.find(L"2 of 2 meters succeeded"), std::wstring::npos) << Utf8(shown);
}

struct Answer {
  const char* name;
  std::wstring typed;
  DWORD exitCode;
  std::wstring shown;
};

class AnswerAtTheConsole : public testing::TestWithParam<Answer> {};

TEST_P(AnswerAtTheConsole, DecidesWhetherARestoreWrites) {
  ASSERT_TRUE(GiveThisProcessAConsole());
  // A backup of the simulated meter with one option byte changed: restoring
  // it asks before writing that byte.
  const std::filesystem::path backup = TempPath(L"answer.hex");
  std::filesystem::remove(backup);
  ConsoleRun saving(L"answer-backup", {}, {"--simulate", "backup", "--output", Utf8(backup.wstring())});
  ASSERT_EQ(saving.Finish().exitCode, kExitOk);
  std::string text;
  {
    std::ifstream in(backup, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    text = bytes.str();
  }
  const std::size_t menuSwap = (1022 / 16) * 34 + (1022 % 16) * 2;  // 32 digits and CR LF a line
  text[menuSwap + 1] = text[menuSwap + 1] == '0' ? '1' : '0';
  std::ofstream(backup, std::ios::binary) << text;

  const ConsoleInput input;
  ASSERT_NE(input.Handle(), INVALID_HANDLE_VALUE) << GetLastError();
  input.Type(GetParam().typed + L"\r");
  const ScreenBuffer screen;
  ConsoleRun run(Wide(std::string("answer-") + GetParam().name), {},
                 {"--simulate", "restore", "--force", Utf8(backup.wstring())},
                 {.environment = {{L"LC_ALL", std::nullopt}, {L"LC_MESSAGES", std::nullopt}, {L"LANG", L"ru_RU.UTF-8"}},
                  .consoleOutput = screen.Handle(),
                  .consoleInput = input.Handle()});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  std::filesystem::remove(backup);
  const std::wstring shown = screen.Text();
  EXPECT_EQ(outcome.exitCode, GetParam().exitCode) << Utf8(shown);
  EXPECT_NE(shown.find(L"в этот прибор"), std::wstring::npos) << Utf8(shown);  // asked
  EXPECT_NE(shown.find(GetParam().shown), std::wstring::npos) << Utf8(shown);
}

INSTANTIATE_TEST_SUITE_P(LuExe, AnswerAtTheConsole,
                         testing::Values(Answer{"Yes", L"да", kExitOk, L"записано и проверено байт: 1"},
                                         Answer{"No", L"нет", kExitFailed, L"восстановление не подтверждено"}),
                         [](const testing::TestParamInfo<Answer>& param) { return param.param.name; });

TEST(LuExe, CtrlCAtTheQuestionEndsTheRunWithNothingWritten) {
  ASSERT_TRUE(GiveThisProcessAConsole());
  const ConsoleInput input;
  ASSERT_NE(input.Handle(), INVALID_HANDLE_VALUE) << GetLastError();
  const ScreenBuffer screen;
  const ExitDump dump(L"question-stop");
  const BackupWatch backups;
  ConsoleRun run(L"question-stop", {"plug 1", "version 1 D1.42", dump.Command()}, {"update"},
                 {.environment = {{L"LC_ALL", L"C"}},
                  .newProcessGroup = true,
                  .consoleOutput = screen.Handle(),
                  .consoleInput = input.Handle()});
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(Eventually([&] { return screen.Text().find(L"to this meter? [y/N] ") != std::wstring::npos; }))
      << Utf8(screen.Text());
  ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, run.ProcessId())) << GetLastError();
  const ConsoleOutcome outcome = run.Finish();
  // Wine's console goes on serving the cancelled read after the process has
  // ended, and would give it the next test's answer: an Enter ends it.
  input.Type(L"\r");
  const std::wstring shown = screen.Text();
  EXPECT_EQ(outcome.exitCode, kExitInterrupted) << Utf8(shown);
  EXPECT_NE(shown.find(L"nothing was written: the update was not confirmed"), std::wstring::npos) << Utf8(shown);
  EXPECT_TRUE(backups.Written().empty());
  const std::optional<MeterDump> meter = dump.Read();
  ASSERT_TRUE(meter);
  EXPECT_EQ(meter->Received(kWriteEeprom), 0u);
  EXPECT_EQ(meter->Received(kWriteChunk), 0u);
}

TEST(LuExe, FilesNamedInCyrillicAreWrittenWhereNamed) {
  const std::filesystem::path record = TempPath(L"запись.jsonl");
  const std::filesystem::path backup = TempPath(L"настройки.hex");
  std::filesystem::remove(record);
  std::filesystem::remove(backup);
  ConsoleRun run(L"cyrillic-paths", {"plug 1"},
                 {"--record", Utf8(record.wstring()), "backup", "--output", Utf8(backup.wstring())});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitOk) << Describe(outcome);

  std::ifstream recorded(record, std::ios::binary);
  std::string header;
  ASSERT_TRUE(std::getline(recorded, header)) << Describe(outcome);
  EXPECT_EQ(json::parse(header)["platform"], "windows");
  recorded.close();

  std::ifstream saved(backup, std::ios::binary);
  std::size_t lines = 0;
  for (std::string line; std::getline(saved, line);) lines += line.size() == 33 ? 1 : 0;  // 32 digits and CR
  EXPECT_EQ(lines, 128u);
  saved.close();
  std::filesystem::remove(record);
  std::filesystem::remove(backup);
}

}  // namespace
}  // namespace lu14::e2e
