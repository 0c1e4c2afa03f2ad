// What lu14-updater.exe carries besides code: version record, manifest, icon.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win32/ProgramCopy.h"

namespace lu14::win32 {
namespace {

// The program's resources, loaded as data only.
struct ProgramResources {
  ProgramResources() : module(LoadLibraryExW(UpdaterProgram().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~ProgramResources() {
    if (module) FreeLibrary(module);
  }
  std::string Bytes(const wchar_t* type, int id) const {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!resource) return {};
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    return std::string(data, SizeofResource(module, resource));
  }
  HMODULE module;
};

TEST(ProgramFile, CarriesItsVersionRecord) {
  const std::wstring path = UpdaterProgram().wstring();
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 1));   // 1.1
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(221, 0)); // .0.221
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));  // 1.0
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);             // .0.0
}

TEST(ProgramFile, ManifestAsksForCommonControlsAndNoElevation) {
  ProgramResources resources;
  ASSERT_NE(resources.module, nullptr);
  const std::string manifest = resources.Bytes(MAKEINTRESOURCEW(24), 1);
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
}

TEST(ProgramFile, IconIs32By32In16Colours) {
  ProgramResources resources;
  const std::string group = resources.Bytes(MAKEINTRESOURCEW(14), 1);  // RT_GROUP_ICON
  ASSERT_GE(group.size(), 6u + 14u);
  EXPECT_EQ(static_cast<unsigned char>(group[4]), 1);   // one image
  EXPECT_EQ(static_cast<unsigned char>(group[6]), 32);  // width
  EXPECT_EQ(static_cast<unsigned char>(group[7]), 32);  // height
  EXPECT_EQ(static_cast<unsigned char>(group[8]), 16);  // colours
}

}  // namespace
}  // namespace lu14::win32
