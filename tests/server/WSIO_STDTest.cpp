#include "server/WSIO_STD.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "tests/support/ReplyDates.h"
#include "tests/support/ScriptedConnection.h"
#include "tests/support/TempFolder.h"

namespace {

TEST(WSIO_STD, MapsTheUpperCasedPathBelowTheBaseFolder) {
  struct Case {
    std::string path, base, defFile, fileName;
  } cases[] = {
      {"/a.htm", "C:\\Web", "", "C:\\Web\\A.HTM"},
      {"/A.HTM", "C:\\Web\\", "", "C:\\Web\\A.HTM"},
      {"/docs/a.htm", "/srv/www/", "", "/srv/www/DOCS/A.HTM"},
      {"/", "/srv/www", "index.htm", "/srv/www\\index.htm"},
      {"", "/srv/www/", "index.htm", "/srv/www/index.htm"},
      {"/sub/", "/srv/www/", "index.htm", "/srv/www/SUB/index.htm"},
      {"/sub", "/srv/www/", "index.htm", "/srv/www/SUB"},
      {"/", "/srv/www/", "", "/srv/www/"},
      {"/a%20b.txt", "/srv/", "", "/srv/A%20B.TXT"},
      {"/trailing\\", "/srv/", "d.htm", "/srv/TRAILING\\d.htm"},
      {"http://host/a.htm", "/srv/", "", "/srv/A.HTM"},
      {"HTTP://host/", "/srv/", "i.htm", "/srv/i.htm"},
      {"http://host", "/srv/", "i.htm", "/srv/i.htm"},
      {"/x/...hidden/..../f", "/srv/", "", "/srv/X/...HIDDEN/..../F"},
      {"/a.htm", "  ", "", "A.HTM"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tWSIO_STD::FileNameFor(c.path, c.base, c.defFile), c.fileName) << c.path;
}

// Through the listener's directories, as the static producer maps a path, but with its letters as they are
// and the base folder's separators.
TEST(WSIO_STD, MapsAUrlThroughTheListenersDirectoriesKeepingItsLetters) {
  const auto settings = std::make_unique<tListenerData>();
  settings->VDirs[settings->VDirCount++] = {"Root", "C:\\Web", "/", vkStatic, "", ""};
  settings->VDirs[settings->VDirCount++] = {"Docs", "/srv/site", "/Docs/", vkStatic, "", ""};
  settings->VDirs[settings->VDirCount++] = {"Bare", "", "/bare/", vkStatic, "", ""};
  struct Case {
    std::string url, path;
    int32_t vdir;
    size_t matchedUrl, matchedPath;
  } cases[] = {
      {"/a/B.htm", "C:\\Web\\a\\B.htm", 0, 1, 7},
      {"/docs/Sub/x.txt", "/srv/site/docs/Sub/x.txt", 1, 6, 15},
      {"http://host/Docs/", "", -1, 0, 0}, // directories are chosen by the target as it stands
      {"/bare/f", "bare\\f", 2, 6, 5},
      {"/docs/../../etc", "", -1, 0, 0},
      {"nowhere", "", -1, 0, 0},
  };
  for (const Case& c : cases) {
    const auto mapped = tWSIO_STD::MapUrl(*settings, c.url);
    EXPECT_EQ(mapped ? mapped->Path : "", c.path) << c.url;
    EXPECT_EQ(mapped ? mapped->VDirIndex : -1, c.vdir) << c.url;
    EXPECT_EQ(mapped ? mapped->MatchedUrl : 0, c.matchedUrl) << c.url;
    EXPECT_EQ(mapped ? mapped->MatchedPath : 0, c.matchedPath) << c.url;
  }
}

TEST(WSIO_STD, RefusesPathsThatClimbOutHoldNulOrStartAtTheRootWithoutBaseFolder) {
  for (const char* path :
       {"/..", "/../etc/passwd", "/a/../../b", "/a\\..\\b", "/..\\x", "\\..", "http://host/../x", "/a/.."})
    EXPECT_EQ(tWSIO_STD::FileNameFor(path, "/srv/", "index.htm"), "") << path;
  EXPECT_EQ(tWSIO_STD::FileNameFor(std::string("/a\0b.htm", 8), "/srv/", "index.htm"), "");
  EXPECT_EQ(tWSIO_STD::FileNameFor("//etc/passwd", "", "index.htm"), "");
  EXPECT_EQ(tWSIO_STD::FileNameFor("/C:/x", "", "index.htm"), "");
}

TEST(WSIO_STD, ExtensionIsTheTextFromTheLastDotUnlessAFolderFollows) {
  struct Case {
    std::string fileName, extension;
  } cases[] = {{"/srv/A.HTM", ".HTM"},   {"/srv/README", ""},
               {"C:\\V1.0\\README", ""}, {"/srv/V1.0/README", ".0/README"},
               {"/srv/A.TAR.GZ", ".GZ"}, {"C:x.y:z", ""}};
  for (const Case& c : cases)
    EXPECT_EQ(tWSIO_STD::ExtensionOf(c.fileName), c.extension) << c.fileName;
}

// The producer alone, over a connection without a socket: what it queues, in how many pieces. Its clock
// stands at kNow; the site's files are from kSiteTime.
constexpr tUnixTime kNow = 1700000000; // Tue, 14 Nov 2023 22:13:20 GMT
const std::string kNowLine = "Date: Tue, 14 Nov 2023 22:13:20 GMT\r\n";

class WSIO_STDServing : public ::testing::Test {
protected:
  std::string Serve(const std::string& path, const std::string& method = "GET",
                    const std::string& headers = "") {
    Connection = std::make_unique<kwstest::tScriptedConnection>(path, method + " " + path + " HTTP/1.0\r\n" +
                                                                          headers + "\r\n");
    Connection->Req.Method = method;
    tVDirData vdir{"VD", Site.Path(), "/", vkStatic, "", ""};
    auto producer = tWSIOBase::Create<tWSIO_STD>(*Connection, vdir);
    producer->Clock = [] { return kNow; };
    producer->HandleData(Connection->Req.Received);
    producer->HandleData("late bytes change nothing");
    EXPECT_TRUE(Connection->Complete) << path;
    return Connection->Out;
  }
  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = Site.WriteFile(name, content);
    kwstest::SetSiteTime(path);
    return path;
  }
  // The type itself comes from the system's table.
  static std::string Header(const std::string& extension, size_t length, const std::string& status = "200 OK",
                            const std::string& more = "") {
    return "HTTP/1.0 " + status + "\r\n" + kFixed + tWSIO_STD::ContentTypeHeader(extension) +
           "Content-Length: " + std::to_string(length) + "\r\n" + kNowLine + kwstest::kLastModifiedLine +
           more + "\r\n";
  }
  static inline const std::string kFixed =
      "Server: Kestrune Web Server 0.1.2.7\r\nAccept-ranges: bytes\r\nConnection: Close\r\n";

  kwstest::TempFolder Site;
  std::unique_ptr<kwstest::tScriptedConnection> Connection;
};

// A small file goes out with its header in one piece; a large one as a file segment of the size at opening.
TEST_F(WSIO_STDServing, SendsASmallFileWithItsHeaderInOnePieceAndALargeOneAsAFileSegment) {
  Write("Sub/Hello.txt", "hello");
  EXPECT_EQ(Serve("/sub/HELLO.TXT"), Header(".TXT", 5) + "hello");
  EXPECT_EQ(Connection->Pieces, 1);
  const std::string large(tWSIO_STD::kSmallFileBytes + 1, 'x');
  Write("large.unknown", large);
  EXPECT_EQ(Serve("/large.unknown"), Header(".UNKNOWN", large.size()) + large);
  EXPECT_EQ(Connection->Files, 1);
}

// Every shape of reply, byte for byte: the lines replies have always had come first, the new ones after.
TEST_F(WSIO_STDServing, EachKindOfReplyHasItsLinesInTheirOrder) {
  Write("a.txt", "0123456789");
  const std::string notFound = "HTTP/1.0 404 Not Found\r\n" + kFixed + kNowLine + "\r\n";
  struct Case {
    std::string method, path, headers, reply;
  } cases[] = {
      {"GET", "/a.txt", "", Header(".TXT", 10) + "0123456789"},
      {"HEAD", "/a.txt", "", Header(".TXT", 10)},
      {"POST", "/a.txt", "Range: bytes=0-0\r\n", Header(".TXT", 10) + "0123456789"},
      {"GET", "/a.txt", "Range: bytes=2-4\r\n",
       Header(".TXT", 3, "206 Partial Content", "Content-Range: bytes 2-4/10\r\n") + "234"},
      {"HEAD", "/a.txt", "Range: bytes=-3\r\n",
       Header(".TXT", 3, "206 Partial Content", "Content-Range: bytes 7-9/10\r\n")},
      {"GET", "/a.txt", "Range: bytes=10-\r\n",
       "HTTP/1.0 416 Requested range not satisfiable\r\n" + kFixed + "Content-Length: 0\r\n" + kNowLine +
           "Content-Range: bytes */10\r\n\r\n"},
      {"GET", "/a.txt", "If-Modified-Since: " + kwstest::kSiteTimeText + "\r\n",
       "HTTP/1.0 304 Not Modified\r\n" + kFixed + kNowLine + kwstest::kLastModifiedLine + "\r\n"},
      {"GET", "/missing.txt", "", notFound + "FILE NOT FOUND :("},
      {"HEAD", "/missing.txt", "", notFound},
      {"DELETE", "/a.txt", "",
       "HTTP/1.0 501 Not Implemented\r\n" + kFixed + kNowLine + "\r\nMETHOD NOT IMPLEMENTED :("},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Serve(c.path, c.method, c.headers), c.reply) << c.method << " " << c.headers;
}

// The server's clock decides: a file dated later says "now", and a date later than now is no date.
TEST_F(WSIO_STDServing, NothingIsDatedAfterTheServersNow) {
  std::filesystem::last_write_time(
      Write("future.txt", "x"),
      std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(kNow + 3600))));
  const std::string reply =
      Serve("/future.txt", "GET", "If-Modified-Since: Tue, 14 Nov 2023 23:13:20 GMT\r\n");
  EXPECT_TRUE(reply.starts_with("HTTP/1.0 200 OK\r\n")) << reply;
  EXPECT_NE(reply.find("\r\nLast-Modified: Tue, 14 Nov 2023 22:13:20 GMT\r\n"), std::string::npos) << reply;
  Write("past.txt", "x");
  EXPECT_TRUE(Serve("/past.txt", "GET", "If-Modified-Since: Tue, 14 Nov 2023 22:13:21 GMT\r\n")
                  .starts_with("HTTP/1.0 200 OK\r\n"));
  EXPECT_TRUE(Serve("/past.txt", "GET", "If-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n")
                  .starts_with("HTTP/1.0 304 Not Modified\r\n"));
}

// A part of a large file is streamed from its offset; HEAD opens no stream at all.
TEST_F(WSIO_STDServing, APartOfALargeFileIsStreamedFromItsOffset) {
  std::string large(3 * tWSIO_STD::kSmallFileBytes, 'x');
  for (size_t i = 0; i < large.size(); ++i)
    large[i] = static_cast<char>('a' + i % 26);
  Write("large.bin", large);
  const uint64_t first = tWSIO_STD::kSmallFileBytes + 5;
  const std::string range = "Range: bytes=" + std::to_string(first) + "-\r\n";
  const uint64_t length = large.size() - first;
  EXPECT_EQ(Serve("/large.bin", "GET", range),
            Header(".BIN", length, "206 Partial Content",
                   "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(large.size() - 1) +
                       "/" + std::to_string(large.size()) + "\r\n") +
                large.substr(first));
  EXPECT_EQ(Connection->FileParts, (std::vector<std::pair<uint64_t, uint64_t>>{{first, length}}));
  Serve("/large.bin", "HEAD", range);
  EXPECT_EQ(Connection->Files, 0);
}

} // namespace
