#include "server/ReplyQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/TempFolder.h"

namespace {

tReplyQueue::tPiece Text(size_t size) {
  return {std::string(size, 't')};
}

// The socket's thread is told once of new work, until it looks; a writer beyond the bound waits for room,
// and one piece larger than the bound still goes when nothing waits.
TEST(ReplyQueue, AnnouncesWorkOnceAndMakesWritersWaitForRoomBeyondItsBound) {
  std::atomic<int> announced{0};
  tReplyQueue queue(10, [&] { ++announced; });
  auto big = Text(25);
  EXPECT_EQ(queue.Put(big, 0), tReplyQueue::prQueued);
  EXPECT_TRUE(big.Text.empty());
  auto small = Text(1);
  EXPECT_EQ(queue.Put(small, 20), tReplyQueue::prFull);
  EXPECT_EQ(small.Text.size(), 1u);
  EXPECT_EQ(announced, 1);
  std::atomic<int> result{-1};
  std::thread writer([&] { result = queue.Put(small, 10000); });
  EXPECT_EQ(queue.Take()->Text.size(), 25u);
  writer.join();
  EXPECT_EQ(result, tReplyQueue::prQueued);
  EXPECT_EQ(announced, 2);
  EXPECT_FALSE(queue.Drained());
  queue.MarkComplete();
  auto late = Text(1);
  EXPECT_EQ(queue.Put(late, 0), tReplyQueue::prClosed);
  EXPECT_EQ(queue.Take()->Text, "t");
  EXPECT_TRUE(queue.Drained());
  EXPECT_FALSE(queue.Take());
}

// A writer waiting for room returns at once, and the files of pieces never taken are closed.
TEST(ReplyQueue, ClosingReleasesAWaitingWriterAndClosesTheFilesOfDroppedPieces) {
  kwstest::TempFolder folder;
  const std::string name = folder.WriteFile("f.txt", "file");
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  tReplyQueue queue(1, [] {});
  tReplyQueue::tPiece filePiece{"", file, 4};
  ASSERT_EQ(queue.Put(filePiece, 0), tReplyQueue::prQueued);
  auto first = Text(1);
  ASSERT_EQ(queue.Put(first, 0), tReplyQueue::prQueued);
  std::atomic<int> result{-1};
  auto blocked = Text(1);
  std::thread writer([&] { result = queue.Put(blocked, 60000); });
  queue.Close();
  writer.join();
  EXPECT_EQ(result, tReplyQueue::prClosed);
  EXPECT_FALSE(queue.Take());
  EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE) << "the handle is still open";
}

} // namespace
