#include "server/RequestReader.h"

#include <gtest/gtest.h>

namespace {

// Feeds the request cut at the given places and returns every verdict.
std::vector<tRequestVerdict> FeedInPieces(tRequestReader& reader, const std::string& request,
                                          const std::vector<size_t>& cuts) {
  std::vector<tRequestVerdict> verdicts;
  for (size_t cut : cuts)
    verdicts.push_back(reader.Examine(request.substr(0, cut)));
  verdicts.push_back(reader.Examine(request));
  return verdicts;
}

struct VerdictCase {
  std::string request;
  tRequestVerdict verdict;
  int32_t status; // with rvRefuse
};

const std::string kLargeBody(kFirstBodyPart, 'b');

const VerdictCase kCases[] = {
    {"GET / HTTP/1.0\r\n\r\n", rvDispatch, 0},
    {"POST / HTTP/1.0\r\nContent-Length: 5\r\n\r\nabcde", rvDispatch, 0},
    {"POST / HTTP/1.0\r\ncontent-length :3\r\n\r\nxyzEXTRA", rvDispatch, 0},
    {"POST / HTTP/1.0\r\nContent-Length: 0\r\n\r\n", rvDispatch, 0},
    // The name counts only as a header field of its own: in a path, a query, another header or the body it
    // declares nothing, and the digits after it are nobody's length.
    {"GET /content-length.html HTTP/1.0\r\n\r\n", rvDispatch, 0},
    {"GET /a?content-length=7 HTTP/1.0\r\nReferer: http://x/content-length/9\r\n\r\n", rvDispatch, 0},
    {"GET / HTTP/1.0\r\nX-Content-Length: 2\r\n\r\n", rvDispatch, 0},
    {"GET / HTTP/1.0\r\nContent-Lengthy: 2\r\n\r\n", rvDispatch, 0},
    {"GET / HTTP/1.0\r\n\r\nContent-Length: 1", rvDispatch, 0},
    // A Content-Length field without a usable number is refused, never left hanging.
    {"POST / HTTP/1.0\r\nContent-Length: none\r\nHost: 12\r\n\r\n123456789012", rvRefuse, 400},
    {"POST / HTTP/1.0\r\nContent-Length:\r\n\r\n", rvRefuse, 400},
    {"POST / HTTP/1.0\r\nContent-Length: 5x\r\n\r\nabcde", rvRefuse, 400},
    {"POST / HTTP/1.0\r\nContent-Length: -1\r\n\r\n", rvRefuse, 400},
    // Beyond the listener's bound (1 GiB here), and beyond what 32 bits can say.
    {"POST / HTTP/1.0\r\nContent-Length: 1073741825\r\n\r\n", rvRefuse, 413},
    {"POST / HTTP/1.0\r\nContent-Length: 99999999999\r\n\r\n", rvRefuse, 413},
    // A body larger than what is held whole goes once its first part is in.
    {"PUT / HTTP/1.0\r\nContent-Length: 1073741824\r\n\r\n" + kLargeBody, rvDispatch, 0},
    // Chunks are not decoded here, whatever the method and whatever else the header says.
    {"POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\n0\r\n\r\n", rvRefuse, 501},
    {"GET / HTTP/1.0\r\ntransfer-encoding: identity\r\nContent-Length: 1\r\n\r\nx", rvRefuse, 501},
    {"GET /" + std::string(kMaxHeaderBytes, 'a') + " HTTP/1.0\r\n\r\n", rvRefuse, 431},
};

TEST(RequestReader, GivesTheSameVerdictWhereverTheBytesAreSplit) {
  for (const VerdictCase& c : kCases) {
    for (size_t cut = 0; cut <= c.request.size(); cut += c.request.size() > 4096 ? 997 : 1) {
      tRequestReader reader;
      EXPECT_EQ(FeedInPieces(reader, c.request, {cut}).back(), c.verdict)
          << c.request.substr(0, 80) << " | " << cut;
      EXPECT_EQ(reader.RefusalStatus, c.status) << c.request.substr(0, 80);
    }
  }
}

TEST(RequestReader, WaitsByteByByteForTheBlankLineAndTheDeclaredBody) {
  const std::string request = "POST /f?q=1 HTTP/1.0\r\nContent-Length: 4\r\n\r\nbody";
  std::vector<size_t> cuts;
  for (size_t cut = 1; cut < request.size(); ++cut)
    cuts.push_back(cut);
  tRequestReader reader;
  const auto verdicts = FeedInPieces(reader, request, cuts);
  for (size_t i = 0; i + 1 < verdicts.size(); ++i)
    EXPECT_EQ(verdicts[i], rvNeedMore) << "after " << i + 1 << " bytes";
  EXPECT_EQ(verdicts.back(), rvDispatch);
  EXPECT_EQ(reader.Line.Method + " " + reader.Line.Path + " " + reader.Line.Query, "POST /f q=1");
}

// Up to 1 MiB the body is awaited whole; beyond, its first part. What the request declares is reported.
TEST(RequestReader, AwaitsASmallBodyWholeAndALargeOneUpToItsFirstPart) {
  struct Case {
    uint32_t declared;
    size_t awaited;
  } cases[] = {{0, 0}, {kWholeBodyBytes, kWholeBodyBytes}, {kWholeBodyBytes + 1, kFirstBodyPart}};
  for (const Case& c : cases) {
    const std::string header =
        "POST / HTTP/1.0\r\nContent-Length: " + std::to_string(c.declared) + "\r\n\r\n";
    const std::string request = header + std::string(c.awaited, 'b');
    tRequestReader reader;
    if (c.awaited > 0) {
      EXPECT_EQ(reader.Examine(request.substr(0, request.size() - 1)), rvNeedMore) << c.declared;
    }
    ASSERT_EQ(reader.Examine(request), rvDispatch) << c.declared;
    EXPECT_EQ(reader.HeaderLength, header.size());
    EXPECT_EQ(reader.BodyLength, c.declared);
  }
  tRequestReader bounded(10);
  EXPECT_EQ(bounded.Examine("POST / HTTP/1.0\r\nContent-Length: 10\r\n\r\n0123456789"), rvDispatch);
  tRequestReader beyond(10);
  EXPECT_EQ(beyond.Examine("POST / HTTP/1.0\r\nContent-Length: 11\r\n\r\n"), rvRefuse);
  EXPECT_EQ(beyond.RefusalStatus, 413);
}

TEST(RequestReader, RefusesAHeaderThatOutgrowsItsBoundBeforeItsBlankLineAndStaysRefused) {
  tRequestReader reader;
  std::string received = "GET / HTTP/1.0\r\n";
  while (received.size() <= kMaxHeaderBytes && reader.Examine(received) == rvNeedMore)
    received += "X-Filler: " + std::string(100, 'f') + "\r\n";
  EXPECT_EQ(reader.Examine(received), rvRefuse);
  EXPECT_EQ(reader.Examine(received + "\r\n"), rvRefuse);
  EXPECT_EQ(reader.RefusalStatus, 431);
  tRequestReader refused;
  ASSERT_EQ(refused.Examine("POST / HTTP/1.0\r\nContent-Length: x\r\n\r\n"), rvRefuse);
  EXPECT_EQ(refused.Examine("POST / HTTP/1.0\r\nContent-Length: x\r\n\r\nGET / HTTP/1.0\r\n\r\n"), rvRefuse);
  EXPECT_EQ(refused.RefusalStatus, 400);
}

} // namespace
