#include "server/HTTPTools.h"

#include <gtest/gtest.h>

namespace {

TEST(HeaderComplete, DecidesFromTheBlankLineAndTheDeclaredLength) {
  struct Case {
    std::string text;
    bool complete;
    int32_t length;
  };
  const Case cases[] = {
      {"GET / HTTP/1.0\r\n\r\n", true, -1},
      {"GET / HTTP/1.0\r\nHost: a\r\n", false, -1},
      {"GET / HTTP/1.0\r\n", false, -1},
      {"POST / HTTP/1.0\r\nContent-Length: 5\r\n\r\nab", false, 5},
      {"POST / HTTP/1.0\r\nContent-Length: 5\r\n\r\nabcde", true, 5},
      {"POST / HTTP/1.0\r\nContent-Length: 5\r\n\r\nabcdef", true, 5},
      {"POST / HTTP/1.0\r\nContent-Length: 0\r\n\r\n", true, 0},
      {"POST / HTTP/1.0\r\ncontent-length:3\r\n\r\nxyz", true, 3},
      // The digits need not stand on the header's own line.
      {"POST / HTTP/1.0\r\nContent-Length: none\r\nHost: 12\r\n\r\n123456789012", true, 12},
      // Any header ending in the name counts.
      {"GET / HTTP/1.0\r\nX-Content-Length: 2\r\n\r\n", false, 2},
      // A name without a usable number keeps the request incomplete for good.
      {"POST / HTTP/1.0\r\nContent-Length: abc\r\n\r\nbody", false, -1},
      {"POST / HTTP/1.0\r\nContent-Length: 99999999999\r\n\r\nbody", false, -1},
      // The name only in the body: no declared length, and no completion without one either.
      {"GET / HTTP/1.0\r\n\r\nContent-Length: 1", false, -1},
      // At the very first character the name does not count as a header.
      {"Content-Length: 1\r\n\r\nx", false, -1},
  };
  for (const Case& c : cases) {
    const tHeaderCheck check = HeaderComplete(c.text, true);
    EXPECT_EQ(check.Complete, c.complete) << c.text;
    EXPECT_EQ(check.ContentLength, c.length) << c.text;
  }
  EXPECT_FALSE(HeaderComplete("GET / HTTP/1.0\r\n\r\n", false).Complete)
      << "no length, though one was required";
}

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

TEST(HeaderValue, TakesTheFirstLineBeginningWithTheNameAndStopsAtNul) {
  const std::string request = "GET / HTTP/1.0\r\nHost: example\r\nconnection:  Keep-Alive \r\n"
                              "X-Empty\r\nX-Two: a:b\r\nAccept: */*\n\rLate: lf\r\nConnection-Foo: bar\r\n"
                              "\r\nBody: in body";
  const std::string withNul("GET / HTTP/1.0\r\n\0Host: x\r\n\r\n", 28);
  struct Case {
    std::string request, name, value;
  } cases[] = {{request, "Connection", "Keep-Alive"},
               {request, "  host ", "example"},
               {request, "X-Two", "a:b"},
               {request, "X-Empty", ""},
               {request, "Missing", ""},
               {request, "Late", "lf"},
               {request, "Body", "in body"},
               {withNul, "Host", ""},
               {"GET / HTTP/1.0\r\nConnection-Foo: bar\r\nConnection: close\r\n\r\n", "Connection", "bar"}};
  for (const Case& c : cases)
    EXPECT_EQ(HeaderValue(c.request, c.name), c.value) << c.name;
}

TEST(IPToStr, WritesDottedDecimalWithoutLeadingZeros) {
  EXPECT_EQ(IPToStr(0xC0A80114), "192.168.1.20");
  EXPECT_EQ(IPToStr(0), "0.0.0.0");
  EXPECT_EQ(IPToStr(0xFFFFFFFF), "255.255.255.255");
  EXPECT_EQ(IPToStr(0x0A000005), "10.0.0.5");
}

} // namespace
