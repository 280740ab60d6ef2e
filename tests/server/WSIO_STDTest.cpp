#include "server/WSIO_STD.h"

#include <gtest/gtest.h>

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

} // namespace
