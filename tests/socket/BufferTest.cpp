#include "socket/Buffer.h"

#include <gtest/gtest.h>

#include "tests/support/TempFolder.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Unread(const TBuffer& block) {
  const TBuffer::TUnread unread = block.Peek();
  return unread.Data == nullptr ? std::string()
                                : std::string(unread.Data, static_cast<size_t>(unread.Length));
}

TEST(Buffer, WritesAppendUntilFullWithoutReusingTheConsumedFrontAndRemoveTakesAtMostTheUnread) {
  TBuffer block(16);
  EXPECT_EQ(block.Remove(5), 0);
  EXPECT_EQ(block.Write("abcdef", 6), 6);
  EXPECT_EQ(block.Remove(2), 2);
  EXPECT_EQ(block.Write("ghijklmnopqrstuv", 16), 10);
  EXPECT_EQ(Unread(block), "cdefghijklmnop");
  EXPECT_EQ(block.Write("x", 1), 0);
  EXPECT_EQ(block.Remove(-1), 0);
  EXPECT_EQ(block.Remove(100), 14);
  EXPECT_EQ(block.Peek().Data, nullptr);
  EXPECT_EQ(block.Write("abcdefghijklmnopq", 17), 16);
}

// Under the sanitizers, a larger block handed a spare standard area would be caught writing past it.
TEST(Buffer, SpareStorageServesOnlyStandardBlocksAndEachStartsEmpty) {
  const std::string standard(1514, 's'), large(3000, 'l');
  {
    TBuffer first(1514);
    first.Write(standard.data(), 1514);
    first.Remove(100); // destroyed part-read
  }
  TBuffer larger(3000);
  EXPECT_EQ(larger.Write(large.data(), 3000), 3000);
  EXPECT_EQ(Unread(larger), large);
  TBuffer next(1514);
  EXPECT_EQ(next.Peek().Length, 0);
  EXPECT_EQ(next.Write(standard.data(), 1514), 1514);
  EXPECT_EQ(Unread(next), standard);
}

// The sanitizer builds see any storage lost, used after free or shared unguarded between threads.
TEST(Buffer, BlocksMadeOnOneThreadMayDieOnAnother) {
  std::vector<std::unique_ptr<TBuffer>> made;
  std::thread([&] {
    for (int i = 0; i < 500; ++i)
      made.emplace_back(std::make_unique<TBuffer>(1514))->Write("abc", 3);
  }).join();
  std::thread dying([&] { made.resize(250); });
  for (int i = 0; i < 500; ++i)
    EXPECT_EQ(TBuffer(1514).Write("abc", 3), 3);
  dying.join();
  made.clear();
}

// Where the sockets library cannot send from the file itself.
TEST(Buffer, AFileBlockReadsItsSegmentInChunksAndNoticesAShortFile) {
  kwstest::TempFolder folder;
  std::string content(TBuffer::kFileChunkSize + 1000, '\0');
  for (size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>(i % 253);
  const std::string path = folder.WriteFile("f.bin", content);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  TBuffer block(file, 10, content.size()); // 10 bytes more than the file holds from there
  EXPECT_EQ(block.Write("x", 1), 0) << "a file block takes no bytes";
  std::string sent;
  while (block.ReadMore()) {
    EXPECT_LE(block.Peek().Length, TBuffer::kFileChunkSize);
    EXPECT_FALSE(block.ReadMore()) << "nothing more is read before the storage drains";
    sent += Unread(block);
    block.Remove(block.Peek().Length);
  }
  EXPECT_EQ(sent, content.substr(10));
  EXPECT_EQ(block.FileLeft(), 10u) << "the file ended 10 bytes short";
}

} // namespace
