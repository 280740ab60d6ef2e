#include "socket/CustomSyncWSocket.h"

#include <gtest/gtest.h>

#include "socket/DelayedCall.h"
#include "tests/support/SocketProbe.h"
#include "tests/support/TestWindow.h"
#include "tests/support/ThisProcess.h"

using namespace kwstest;

namespace {

TEST(SyncWait, AQuitMessageEndsTheWaitWith12001AndTheWaitSleepsMeanwhile) {
  RunOnLayerThread([] {
    tProbeSocket socket;
    bool never = false;
    const DWORD thread = GetCurrentThreadId();
    TDelayedCall quit(300, [thread] { PostThreadMessageA(thread, WM_QUIT, 0, 0); });
    const double cpuBefore = ThreadCpuMs();
    EXPECT_EQ(socket.WaitForFlag(never), 12001);
    EXPECT_LT(ThreadCpuMs() - cpuBefore, 100.0); // a spinning wait would burn the whole 300 ms
    EXPECT_EQ(socket.WaitForFlag(never), 12001);
  });
}

} // namespace
