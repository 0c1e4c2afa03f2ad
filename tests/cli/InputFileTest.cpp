// Reading a file the user names: whole up to a limit, refused beyond it (a
// plain file before a byte is read), ended by a stop.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/os/InputFile.h"
#include "tests/cli/LuProcess.h"

namespace lu14::cli {
namespace {

TEST(InputFile, AFileIsReadWholeUpToTheLimitAndRefusedBeyondIt) {
  const std::filesystem::path folder = FreshFolder("lu14-input-file");
  const std::filesystem::path small = folder / "small", huge = folder / "huge";
  std::ofstream(small, std::ios::binary) << std::string(4352, 'A');
  // 24 GB that take no room: read whole, they would take the memory instead.
  std::ofstream(huge, std::ios::binary).close();
  std::filesystem::resize_file(huge, std::uintmax_t{24} << 30);
  struct Case {
    const char* what;
    std::filesystem::path path;
    std::size_t limit;
    InputFault fault;
    bool read;  // whether any of its bytes were asked for
  };
  const Case cases[] = {
      {"exactly the limit", small, 4352, InputFault::None, true},
      {"a byte over the limit", small, 4351, InputFault::TooLarge, false},
      {"far over it", huge, 4352, InputFault::TooLarge, false},
      {"a device without end", "/dev/zero", 4352, InputFault::TooLarge, true},
      {"no such file", folder / "none", 4352, InputFault::Missing, false},
      {"a folder", folder, 4352, InputFault::Unreadable, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The stop is asked before every piece that is read.
    int asked = 0;
    const InputText text = ReadInputFile(c.path, c.limit, [&] {
      ++asked;
      return false;
    });
    EXPECT_EQ(text.fault, c.fault);
    EXPECT_EQ(asked > 0, c.read) << asked;
    EXPECT_EQ(text.bytes, c.fault == InputFault::None ? std::string(4352, 'A') : "");
  }
  EXPECT_EQ(ReadInputFile("/dev/zero", 4352, [] { return true; }).fault, InputFault::Interrupted);
}

}  // namespace
}  // namespace lu14::cli
