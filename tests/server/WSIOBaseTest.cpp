#include "server/WSIOBase.h"

#include <gtest/gtest.h>

namespace {

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
