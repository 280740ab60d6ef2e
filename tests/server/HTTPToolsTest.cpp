#include "server/HTTPTools.h"

#include <gtest/gtest.h>

namespace {

TEST(HeaderComplete, NeedsALengthUnlessTheCallerAcceptsNone) {
  EXPECT_FALSE(HeaderComplete("GET / HTTP/1.0\r\n\r\n", false).Complete);
  EXPECT_TRUE(HeaderComplete("POST / HTTP/1.0\r\nContent-Length: 1\r\n\r\nx", false).Complete);
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
  EXPECT_EQ(IPToStr(0xC0A80114) + " " + IPToStr(0) + " " + IPToStr(0xFFFFFFFF) + " " + IPToStr(0x0A000005),
            "192.168.1.20 0.0.0.0 255.255.255.255 10.0.0.5");
}

} // namespace
