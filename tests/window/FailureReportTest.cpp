#include "window/FailureReport.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "sim/SimRuntime.h"

namespace lu14 {
namespace {

std::exception_ptr Nested(const std::string& inner, const std::string& outer) {
  try {
    try {
      throw std::runtime_error(inner);
    } catch (...) {
      std::throw_with_nested(std::runtime_error(outer));
    }
  } catch (...) {
    return std::current_exception();
  }
}

TEST(FailureText, TakesTheInnermostFailureThatHasAText) {
  EXPECT_EQ(FailureText(std::make_exception_ptr(std::runtime_error("Ошибка"))), "Ошибка");
  EXPECT_EQ(FailureText(Nested("inner cause", "outer")), "inner cause");
  EXPECT_EQ(FailureText(Nested("", "outer text")), "outer text");
  EXPECT_EQ(FailureText(std::make_exception_ptr(42)), "");
  EXPECT_EQ(FailureText(nullptr), "");
}

TEST(FailureText, FullStopRule) {
  const std::pair<std::string, std::string> cases[] = {
      {"Device not open", "Device not open."},   // letter
      {"Code 7", "Code 7."},                     // digit
      {"Нет устройства", "Нет устройства."},     // Cyrillic letter
      {"Done.", "Done."},                        // full stop
      {"Stop!", "Stop!"},                        // exclamation mark (below '.')
      {"list,", "list,"},                        // comma
      {"a-", "a-"},                              // hyphen
      {"trailing ", "trailing "},                // blank
      {"slash/", "slash/."},                     // '/' is just above '.'
      {"", ""},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(WithFullStop(text), shown) << text;
}

TEST(ApplicationTitle, NameWithoutFolderCutAtFirstFullStopFirstCharacterKept) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"C:\\x\\UPDATER.EXE", "Updater"},
      {u"C:\\x\\lu14-updater.exe", "lu14-updater"},
      {u"Z:/tmp/a.b/My.Tool.exe", "My"},
      {u"C:\\Программы\\ПРОШИВКА.EXE", "Прошивка"},
      {u"C:\\x\\noextension", "noextension"},
      {u"C:\\x\\.hidden.exe", ""},
  };
  for (const auto& [path, title] : cases) EXPECT_EQ(ApplicationTitle(path), title);
}

TEST(ReportUnhandledFailure, ShowsOwnedErrorBoxWithTitleAndFullStop) {
  sim::SimRuntime runtime;
  ReportUnhandledFailure(runtime, "Lu14-updater", Nested("Unable to insert a line", "wrapper"));
  ASSERT_EQ(runtime.Boxes().size(), 1u);
  EXPECT_EQ(runtime.Boxes()[0].box, (MessageBoxRequest{"Unable to insert a line.", "Lu14-updater", true, true}));
}

}  // namespace
}  // namespace lu14
