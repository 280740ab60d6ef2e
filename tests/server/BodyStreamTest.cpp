#include "server/BodyStream.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class BodyStream : public ::testing::Test {
protected:
  std::string Read(size_t size, DWORD timeoutMs = 0) {
    std::string buffer(size, '\0');
    const tBodyRead read = Stream.Read(buffer.data(), size, timeoutMs);
    return read.TimedOut ? "(timed out)" : buffer.substr(0, read.Count);
  }

  std::vector<bool> Reading; // what the stream asked of the socket, in order
  tBodyStream Stream{4, [this](bool reading) { Reading.push_back(reading); }};
};

// Only the declared body is kept; a read waits for bytes, and after the last one it reads as the end.
TEST_F(BodyStream, KeepsOnlyTheDeclaredBodyAndReadsItsEndAsZeroBytes) {
  Stream.Begin(5);
  EXPECT_EQ(Read(8), "(timed out)");
  EXPECT_EQ(Stream.Append("abc", 3), 3u);
  EXPECT_EQ(Read(2), "ab");
  EXPECT_EQ(Read(8), "c");
  std::thread late([&] { Stream.Append("defgh", 5); });
  EXPECT_EQ(Read(8, 10000), "de");
  late.join();
  EXPECT_EQ(Read(8, 10000), "");
  EXPECT_EQ(Stream.Append("x", 1), 0u);
}

// The socket is left unread while the stream is full and read again once a reader makes room; ending the
// stream drops what it holds and reads past the rest.
TEST_F(BodyStream, PausesTheSocketWhileFullAndResumesItWhenReadOrEnded) {
  Stream.Begin(100);
  Stream.Append("abcd", 4);
  EXPECT_TRUE(Stream.PauseIfFull());
  EXPECT_TRUE(Stream.PauseIfFull());
  EXPECT_EQ(Reading, std::vector<bool>{false});
  EXPECT_EQ(Stream.TakeAll(), "abcd");
  EXPECT_EQ(Reading, (std::vector<bool>{false, true}));
  Stream.Append("efgh", 4);
  EXPECT_TRUE(Stream.PauseIfFull());
  Stream.End(true);
  EXPECT_EQ(Reading, (std::vector<bool>{false, true, false, true}));
  EXPECT_EQ(Read(8, 10000), "");
  EXPECT_FALSE(Stream.PauseIfFull());
}

// A client gone after sending part of the body: what arrived is read, then the end, without waiting.
TEST_F(BodyStream, EndedWithoutDroppingHandsOutWhatItHoldsThenTheEnd) {
  Stream.Begin(100);
  Stream.Append("ab", 2);
  Stream.End(false);
  EXPECT_EQ(Read(8, 60000), "ab");
  EXPECT_EQ(Read(8, 60000), "");
}

} // namespace
