#include "server/HTTPTools.h"

#include <gtest/gtest.h>

namespace {

// Method|URL|Path|Query|Version.
TEST(ParseRequestLine, SplitsMethodTargetAndVersion) {
  struct Case {
    std::string received, expected;
  } cases[] = {
      {"GET /docs/index.html?x=1&y=2 HTTP/1.0\r\n\r\n",
       "GET|/docs/index.html?x=1&y=2|/docs/index.html|x=1&y=2|HTTP/1.0"},
      {"GET /a\r\n\r\n", "GET|/a|/a||/a"},
      {"GET\r\n\r\n", "GET||||"},
      {"  GET    /spaced   HTTP/1.0  \r\n\r\n", "GET|/spaced|/spaced||HTTP/1.0"},
      {"POST /q?a?b HTTP/1.1\r\nHost: x\r\n\r\n", "POST|/q?a?b|/q|a?b|HTTP/1.1"},
      {"GET http://host/a.htm HTTP/1.0\r\n\r\n", "GET|http://host/a.htm|http://host/a.htm||HTTP/1.0"},
  };
  for (const Case& c : cases) {
    const tRequestLine l = ParseRequestLine(c.received);
    EXPECT_EQ(l.Method + "|" + l.URL + "|" + l.Path + "|" + l.Query + "|" + l.Version, c.expected)
        << c.received;
  }
}

// Only a field's whole name counts, in any letter case, and only in the header block: never the request line,
// a line without ":", or anything after the first empty line (a lone CR or LF ends a line too).
TEST(HeaderField, MatchesTheWholeNameOfAFieldOfTheHeaderBlockOnly) {
  const std::string request = "GET /Host:x HTTP/1.0\r\nConnection-Foo: bar\r\nhost: example\r\n"
                              "connection:  Keep-Alive \r\nX-Empty:\r\nNoColon\r\nX-Two : a:b\r\n"
                              "X-Folded: one\r\n \t two\r\nAccept: */*\n\rLate: lf\r\n\r\nBody: in body";
  const std::string withNul("GET / HTTP/1.0\r\nA: 1\r\n\0Host: x\r\n\r\n", 34);
  struct Case {
    std::string request, name;
    std::optional<std::string> value;
  } cases[] = {{request, "Connection", "Keep-Alive"},
               {request, "CONNECTION-FOO", "bar"},
               {request, "  HOST ", "example"},
               {request, "Conn", std::nullopt},
               {request, "X-Two", "a:b"},
               {request, "X-Empty", ""},
               {request, "NoColon", std::nullopt},
               {request, "X-Folded", "one two"},
               {request, "Accept", "*/*"},
               {request, "Late", std::nullopt},
               {request, "Body", std::nullopt},
               {request, "GET /Host", std::nullopt},
               {withNul, "A", "1"},
               {withNul, "Host", std::nullopt}};
  for (const Case& c : cases) {
    EXPECT_EQ(HeaderField(c.request, c.name), c.value) << c.name;
    EXPECT_EQ(HeaderValue(c.request, c.name), c.value.value_or("")) << c.name;
  }
  EXPECT_EQ(RawHeaderLines(request).substr(0, 22), "Connection-Foo: bar\r\nh");
  EXPECT_TRUE(RawHeaderLines(request).ends_with("Accept: */*\n"));
  EXPECT_EQ(RawHeaderLines("GET / HTTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(HeaderFields(request).size(), 7u);
}

// A Content-Length field is read by the same rule; its value is digits only, and a huge one stays huge.
TEST(DeclaredLength, ReadsTheContentLengthFieldOfTheHeaderBlock) {
  struct Case {
    std::string header;
    bool present;
    int64_t value;
  } cases[] = {{"POST / HTTP/1.0\r\nContent-Length: 4294967295", true, 4294967295},
               {"POST / HTTP/1.0\r\ncontent-length :12 ", true, 12},
               {"POST / HTTP/1.0\r\nContent-Length: 99999999999999999999999", true, INT64_MAX},
               {"POST / HTTP/1.0\r\nContent-Length: 1 2", true, -1},
               {"POST / HTTP/1.0\r\nContent-Length: -1", true, -1},
               {"POST / HTTP/1.0\r\nX-Content-Length: 5", false, -1},
               {"POST /Content-Length:5 HTTP/1.0\r\nA: b", false, -1}};
  for (const Case& c : cases) {
    const tDeclaredLength declared = DeclaredLength(c.header);
    EXPECT_EQ(declared.Present, c.present) << c.header;
    EXPECT_EQ(declared.Value, c.value) << c.header;
  }
}

TEST(IPToStr, WritesDottedDecimalWithoutLeadingZeros) {
  EXPECT_EQ(IPToStr(0xC0A80114) + " " + IPToStr(0) + " " + IPToStr(0xFFFFFFFF) + " " + IPToStr(0x0A000005),
            "192.168.1.20 0.0.0.0 255.255.255.255 10.0.0.5");
}

} // namespace
