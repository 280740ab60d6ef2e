#include "server/WSIO_STD.h"

#include <gtest/gtest.h>

#include <memory>

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

// The producer alone, over a connection without a socket: what it queues, in how many pieces.
class WSIO_STDServing : public ::testing::Test {
protected:
  std::string Serve(const std::string& path) {
    Connection = std::make_unique<kwstest::tScriptedConnection>(path);
    tVDirData vdir{"VD", Site.Path(), "/", vkStatic, "", ""};
    auto producer = tWSIOBase::Create<tWSIO_STD>(*Connection, vdir);
    producer->HandleData(Connection->Req.Received);
    producer->HandleData("late bytes change nothing");
    EXPECT_TRUE(Connection->Complete) << path;
    return Connection->Out;
  }
  // The type itself comes from the system's table.
  static std::string Header(const std::string& extension, size_t length) {
    return "HTTP/1.0 200 OK\r\nServer: Kestrune Web Server 0.1.2.7\r\nAccept-ranges: bytes\r\nConnection: "
           "Close\r\n" +
           tWSIO_STD::ContentTypeHeader(extension) + "Content-Length: " + std::to_string(length) + "\r\n\r\n";
  }

  kwstest::TempFolder Site;
  std::unique_ptr<kwstest::tScriptedConnection> Connection;
};

// A small file goes out with its header in one piece; a large one as a file segment of the size at opening.
TEST_F(WSIO_STDServing, SendsASmallFileWithItsHeaderInOnePieceAndALargeOneAsAFileSegment) {
  Site.WriteFile("Sub/Hello.txt", "hello");
  EXPECT_EQ(Serve("/sub/HELLO.TXT"), Header(".TXT", 5) + "hello");
  EXPECT_EQ(Connection->Pieces, 1);
  const std::string large(tWSIO_STD::kSmallFileBytes + 1, 'x');
  Site.WriteFile("large.unknown", large);
  EXPECT_EQ(Serve("/large.unknown"), Header(".UNKNOWN", large.size()) + large);
  EXPECT_EQ(Connection->Files, 1);
}

} // namespace
