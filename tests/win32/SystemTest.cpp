// The Windows system pieces: the command line as Windows delivers it and
// temporary files.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/win32/System.h"

namespace {

TEST(Win32CommandLine, TheArgumentTextFollowsTheProgramName) {
  using win32::ArgumentText;
  EXPECT_EQ(ArgumentText("vsl.exe script.vsl"), "script.vsl");
  EXPECT_EQ(ArgumentText("\"C:\\Program Files\\vsl.exe\"  \"a b.vsl\" "), "\"a b.vsl\" ");
  EXPECT_EQ(ArgumentText("\"C:\\Program Files\\vsl.exe\"x y"), "y");
  EXPECT_EQ(ArgumentText("vsl.exe\t  a  b"), "a  b");
  EXPECT_EQ(ArgumentText("vsl.exe"), "");
  EXPECT_EQ(ArgumentText("\"unclosed name"), "");
  EXPECT_EQ(ArgumentText(""), "");
}

class Win32SystemTest : public ::testing::Test {
 protected:
  win32::Win32FileSystem fs_;
  win32::Win32System system_{fs_, 0, nullptr};
  wintest::ScratchDir dir_;
};

TEST_F(Win32SystemTest, TemporaryFilesAreNewAndEmpty) {
  const std::wstring a = system_.MakeTempFile(dir_.WPath(), L"DSK");
  const std::wstring b = system_.MakeTempFile(dir_.WPath() + L"\\", L"DSK");
  EXPECT_NE(a, b);
  for (const auto& path : {a, b}) {
    EXPECT_EQ(path.rfind(dir_.WPath() + L"\\DSK", 0), 0u) << win32::ToAnsiLossy(path);
    const std::wstring ending = path.substr(path.size() - 4);
    EXPECT_TRUE(ending == L".TMP" || ending == L".tmp") << win32::ToAnsiLossy(path);
    EXPECT_EQ(wintest::ReadFileBytes(win32::ToAnsiLossy(path)), "");
    EXPECT_TRUE(wintest::Exists(win32::ToAnsiLossy(path)));
  }
  EXPECT_THROW(system_.MakeTempFile(dir_.WPath("missing"), L"DSK"), VslError);
}

}  // namespace
