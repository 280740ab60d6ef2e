// Command line, parameters, message boxes and icons.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/rtl/sysutils.h"
#include "platform/src/CommandLine.h"
#include "platform/src/Resources.h"
#include "platform/win32.h"

// This test program's own "MAINICON": 2x2 pixels.
extern "C" const uint32_t kwsplat_resource_MAINICON[] = {2u, 2u, 0xFF112233u, 0x80445566u, 0u, 0xFFFFFFFFu};

namespace {

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST(CommandLine, ArgumentsAreTheKernelsByteForByte) {
  std::string cmdline = ReadFileText("/proc/self/cmdline");
  std::vector<std::string> expected;
  for (size_t start = 0, end; start < cmdline.size(); start = end + 1) {
    end = cmdline.find('\0', start);
    expected.push_back(cmdline.substr(start, end - start));
  }
  EXPECT_EQ(std::vector<std::string>(__argv, __argv + __argc), expected);
  EXPECT_EQ(__argv[__argc], nullptr);
  EXPECT_EQ(std::string(GetCommandLineA()), kwsplat::JoinCommandLine(expected));
  EXPECT_EQ(ParamCount(), __argc - 1);
  EXPECT_EQ(ParamStr(0), std::filesystem::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(ParamStr(__argc), "");
  EXPECT_EQ(ParamStr(-1), "");
}

TEST(MessageBox, WritesCaptionAndTextToStandardErrorAndAnswersTheFirstButton) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "Service installed", "Kestrune Web Server", MB_OKCANCEL), IDOK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Kestrune Web Server: Service installed\n");
}

TEST(Icons, MainIconComesFromTheProgramsResourceTable) {
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), "MainIcon");
  int width = 0, height = 0;
  const uint32_t* argb = nullptr;
  ASSERT_TRUE(kwsplat::IconPixels(icon, width, height, argb));
  EXPECT_EQ(width, 2);
  EXPECT_EQ(height, 2);
  EXPECT_EQ(argb[0], 0xFF112233u);
  EXPECT_EQ(argb[3], 0xFFFFFFFFu);
  EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), "OTHERICON"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  HICON stock = LoadIconA(nullptr, IDI_APPLICATION);
  EXPECT_NE(stock, nullptr);
  EXPECT_FALSE(kwsplat::IconPixels(stock, width, height, argb));
  EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
}
