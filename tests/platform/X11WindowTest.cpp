// A captioned top-level window on a real (private, virtual) X display: title, place, size, close button,
// and a display that goes away.
#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/platform/ChildScenario.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/X11Probe.h"

using namespace layertest;
using namespace std::chrono_literals;

namespace {

// Latin-1 bytes: the é is one byte here and two in _NET_WM_NAME.
constexpr const char* kTitle = "Probe window \xE9";
constexpr const char* kTitleUtf8 = "Probe window \xC3\xA9";

std::unique_ptr<kwstest::X11Probe> StartDisplay() {
  if (!std::filesystem::exists("/usr/bin/Xvfb"))
    return nullptr;
  return kwstest::X11Probe::StartPrivateServer();
}

kwstest::EnvironmentChanges DisplayEnvironment(const kwstest::X11Probe& probe) {
  return {{"DISPLAY", probe.DisplayName()}, {"KWSPLAT_HEADLESS", std::nullopt}};
}

} // namespace

// ---- children: each runs in a process of its own --------------------------------------------------

TEST(X11WindowChild, CloseButtonClosesThenDestroys) {
  if (!InChild())
    GTEST_SKIP() << "runs as a child of X11Window tests";
  HWND window = CreateLoggingMainWindow(kTitle, 10, 10, 220, 100);
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_SHOW);
  ASSERT_TRUE(RunLoopUntilQuit(20000));
  const std::vector<UINT> expected = {WM_CLOSE, WM_DESTROY, WM_NCDESTROY};
  EXPECT_EQ(gMainWindowLog.Messages, expected);
  EXPECT_FALSE(IsWindow(window));
}

TEST(X11WindowChild, LostDisplayClosesTheWindowAndLeavesTheLayerHeadless) {
  if (!InChild())
    GTEST_SKIP() << "runs as a child of X11Window tests";
  HWND window = CreateLoggingMainWindow(kTitle, 10, 10, 220, 100);
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_SHOW);
  ASSERT_TRUE(RunLoopUntilQuit(20000));
  const std::vector<UINT> expected = {WM_CLOSE, WM_DESTROY, WM_NCDESTROY};
  EXPECT_EQ(gMainWindowLog.Messages, expected);
  // Later windows still work, without a display.
  HWND later = CreateLoggingMainWindow("later", 0, 0, 50, 50);
  EXPECT_NE(later, nullptr);
  DestroyWindow(later);
}

// ---- the tests proper ----------------------------------------------------------------------------

TEST(X11Window, HasTitlePlaceSizeAndClassAndItsCloseButtonClosesIt) {
  auto probe = StartDisplay();
  if (!probe)
    GTEST_SKIP() << "no Xvfb";
  kwstest::ProgramRunner child(std::nullopt, SelfPath());
  StartChild(child, "X11WindowChild.CloseButtonClosesThenDestroys", DisplayEnvironment(*probe));

  unsigned long window = probe->FindWindow(kTitleUtf8, 15s);
  ASSERT_NE(window, 0u) << child.Stderr();
  EXPECT_EQ(probe->WmName(window), kTitle);
  auto geometry = probe->Geometry(window);
  ASSERT_TRUE(geometry.has_value());
  EXPECT_EQ(geometry->X, 10);
  EXPECT_EQ(geometry->Y, 10);
  EXPECT_EQ(geometry->Width, 220);
  EXPECT_EQ(geometry->Height, 100);
  EXPECT_TRUE(probe->HasUserPositionAndSize(window));
  EXPECT_TRUE(probe->AcceptsDeleteWindow(window));
  EXPECT_EQ(probe->WmClass(window).second, "LayerTestMainWindow");
  EXPECT_FALSE(probe->WmClass(window).first.empty());
  EXPECT_FALSE(probe->IconSize(window).has_value()); // the class has no icon

  ASSERT_TRUE(probe->SendDeleteWindow(window));
  ExpectChildPassed(child, 20s);
}

TEST(X11Window, ALostDisplayCountsAsClosingTheWindow) {
  auto probe = StartDisplay();
  if (!probe)
    GTEST_SKIP() << "no Xvfb";
  kwstest::ProgramRunner child(std::nullopt, SelfPath());
  StartChild(child, "X11WindowChild.LostDisplayClosesTheWindowAndLeavesTheLayerHeadless",
             DisplayEnvironment(*probe));
  ASSERT_NE(probe->FindWindow(kTitleUtf8, 15s), 0u) << child.Stderr();
  probe->StopServer();
  ExpectChildPassed(child, 20s);
}
