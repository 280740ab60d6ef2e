#include "socket/CustomLineWSocket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/SocketProbe.h"

using namespace kwstest;

namespace {

using Lines = std::vector<std::string>;

// The server end collects lines as "<RcvdCount>:<bytes>" in its event list.
class LineMode : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(Server = ConnectPair(Listener, Client), nullptr);
    Client.CollectReceived();
    Server->OnDataAvailable = [this](TCustomWSocket& socket, WORD) { Take(socket); };
    Server->SetLineMode(true);
  }
  void Take(TCustomWSocket& socket) {
    const int32_t ready = socket.RcvdCount();
    Server->Events.push_back(std::to_string(ready) + ":" + socket.ReceiveText());
  }
  Lines Got() const {
    Lines lines;
    for (const std::string& e : Server->Events)
      if (!e.starts_with("state "))
        lines.push_back(e);
    return lines;
  }
  bool SendAndWait(const std::string& bytes, size_t lines) {
    Client.SendText(bytes);
    return WaitUntil([&] { return Got().size() >= lines; });
  }

  tProbeListener Listener;
  tProbeSocket Client;
  tProbeSocket* Server = nullptr;
};

TEST_F(LineMode, LinesSplitAcrossReceivesOrSharingOneComeOneByOneAndTheRestComesAtClose) {
  Client.SendText("AB\r");
  ASSERT_TRUE(WaitUntil([&] { return Server->BufferedCount() == 3; }));
  ASSERT_TRUE(SendAndWait("\nCD", 1));
  EXPECT_TRUE(WaitUntil([&] { return Server->BufferedCount() == 2; }));
  ASSERT_TRUE(SendAndWait("\r\nE\r\nF\r\ntail", 4));
  ASSERT_TRUE(WaitUntil([&] { return Server->BufferedCount() == 4; }));
  Client.Shutdown(1); // an orderly end: a close would reset the connection
  ASSERT_TRUE(WaitUntil([&] { return Server->State() == wsClosed; }));
  EXPECT_EQ(Got(), (Lines{"4:AB\r\n", "4:CD\r\n", "3:E\r\n", "3:F\r\n", "4:tail", "closed 0"}));
}

TEST_F(LineMode, WithoutAHandlerLinesAreDropped) {
  Server->OnDataAvailable = nullptr;
  Client.SendText("x\r\ny");
  ASSERT_TRUE(WaitUntil([&] { return Server->BufferedCount() == 1; }));
  Server->OnDataAvailable = [this](TCustomWSocket& socket, WORD) { Take(socket); };
  ASSERT_TRUE(SendAndWait("z\r\n", 1));
  EXPECT_EQ(Got(), (Lines{"4:yz\r\n"}));
}

TEST_F(LineMode, EditingAppliesBackspaceAndTabAndEchoShowsThem) {
  struct Case {
    bool Edit;
    std::string Sent, Line, Echo;
  } cases[] = {
      {true, "ab\bc\r\n", "4:ac\r\n", "ab\b \bc\r\n"},
      {true, "abc\td\r\n", "11:abc     d\r\n", "abc     d\r\n"},
      {true, "\b\bq\r\n", "3:q\r\n", "q\r\n"},
      {false, "x\by\r\n", "5:x\by\r\n", "x\by\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sent);
    Server->Events.clear();
    Client.Received.clear();
    Server->LineEdit = c.Edit;
    Server->LineEcho = true;
    ASSERT_TRUE(SendAndWait(c.Sent, 1));
    EXPECT_EQ(Got(), Lines{c.Line});
    EXPECT_TRUE(WaitUntil([&] { return Client.Received == c.Echo; })) << Client.Received;
  }
}

TEST_F(LineMode, SwitchingOffMidLineKeepsTheRestForPlainReadsAndSwitchingOnFindsBufferedLines) {
  Server->OnDataAvailable = [this](TCustomWSocket& socket, WORD) {
    char part[2];
    const int n = socket.Receive(part, sizeof part);
    Server->Events.push_back(std::string(part, static_cast<size_t>(n)));
    Server->SetLineMode(!Server->LineMode());
  };
  ASSERT_TRUE(SendAndWait("abcd\r\nef\r\ngh", 6));
  // Off after "ab": "cd" is read plainly; on again, the buffer is searched and "\r\n" ends that line; off:
  // "ef" plainly; on: "\r\n"; off: the rest.
  EXPECT_EQ(Got(), (Lines{"ab", "cd", "\r\n", "ef", "\r\n", "gh"}));
}

TEST_F(LineMode, ALineBeyondTheLimitFiresOnLineTooLongAndIsHandedOverInPieces) {
  int tooLong = 0;
  Server->LineLimit = 16;
  Server->OnLineTooLong = [&](TCustomWSocket&) { ++tooLong; };
  ASSERT_TRUE(SendAndWait(std::string(40, 'x'), 2));
  ASSERT_TRUE(SendAndWait("\r\n", 3));
  EXPECT_EQ(Got(), (Lines{"16:" + std::string(16, 'x'), "16:" + std::string(16, 'x'), "10:xxxxxxxx\r\n"}));
  EXPECT_EQ(tooLong, 2);
}

} // namespace
