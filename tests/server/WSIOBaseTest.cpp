#include "server/WSIOBase.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(WSIOBase, StatusCodesAreDistinctAndGiveTheirReasonsOrUnknownStatus) {
  std::set<int32_t> codes;
  for (const tErrorCode& row : ErrorCodes)
    codes.insert(row.Code);
  EXPECT_EQ(codes.size(), ErrorCodes.size());
  struct Case {
    int32_t code;
    std::string reason;
  } cases[] = {{200, "OK"},
               {404, "Not Found"},
               {413, "Request Entity Too Large"},
               {431, "Unknown status"}, // the refusal's own reason stays with the refusal
               {299, "Unknown status"},
               {0, "Unknown status"}};
  for (const Case& c : cases)
    EXPECT_EQ(ReasonPhrase(c.code), c.reason) << c.code;
}

TEST(WSIOBase, StatusHeadersCarryTheFixedLinesAndConnectionOnlyWhenAsked) {
  EXPECT_EQ(StatusHeaderLines(200, true), "HTTP/1.0 200 OK\r\nServer: Kestrune Web Server 0.1.2.7\r\n"
                                          "Accept-ranges: bytes\r\nConnection: Close\r\n");
  EXPECT_EQ(StatusHeaderLines(299, false),
            "HTTP/1.0 299 Unknown status\r\nServer: Kestrune Web Server 0.1.2.7\r\nAccept-ranges: bytes\r\n");
  EXPECT_EQ(tWSIOBase::ContentLengthHeader(2306867200), "Content-Length: 2306867200\r\n");
}

TEST(WSIOBase, OptionsAreNameValueLinesLookedUpIgnoringCase) {
  const std::vector<std::string> options =
      SplitLines("KWSPPath=plugins\r\nDefExt=dll\nDefFile=a=b.htm\rNoValue");
  ASSERT_EQ(options.size(), 4u);
  struct Case {
    std::string name, value;
  } cases[] = {{"kwsppath", "plugins"}, {"DEFEXT", "dll"}, {"DefFile", "a=b.htm"},
               {"Missing", ""},         {"NoValue", ""},   {"", ""}};
  for (const Case& c : cases)
    EXPECT_EQ(OptionValue(options, c.name), c.value) << c.name;
}

} // namespace
