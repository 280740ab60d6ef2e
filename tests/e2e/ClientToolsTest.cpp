// Common HTTP clients download a large file whole from the running program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/e2e/ServedSite.h"

namespace kwstest {
namespace {

TEST(ClientTools, CurlWgetAndPythonReceiveTheWholeFileWithStatusAndType) {
  ServedSite site;
  std::string large(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < large.size(); ++i)
    large[i] = static_cast<char>(i * 31 % 251);
  site.Program.Folder().WriteFile("site/large.bin", large);
  site.Start();
  const std::string url = "http://127.0.0.1:" + std::to_string(site.Port) + "/large.bin";
  const std::string out = site.Program.Folder().PathOf("download.out");
  struct Case {
    std::string tool, command, output;
  } cases[] = {
      {"curl", "curl -sS --max-time 20 -o " + out + " -w '%{http_code} %{content_type}' " + url,
       "200 binaty/data"},
      {"wget", "wget -q -T 20 -t 1 -O " + out + " " + url, ""},
      {"python3",
       "python3 -c \"import http.client as h,sys;c=h.HTTPConnection('127.0.0.1',int(sys.argv[1]),timeout=20);"
       "c.request('GET','/large.bin');r=c.getresponse();open(sys.argv[2],'wb').write(r.read());"
       "print(r.status,r.reason,r.getheader('Content-type'),r.getheader('Content-Length'))\" " +
           std::to_string(site.Port) + " " + out,
       "200 OK binaty/data " + std::to_string(large.size()) + "\n"},
  };
  int ran = 0;
  for (const Case& c : cases) {
    if (std::system(("command -v " + c.tool + " >/dev/null 2>&1").c_str()) != 0)
      continue;
    ++ran;
    std::remove(out.c_str());
    const auto [output, status] = RunCommand(c.command);
    EXPECT_EQ(status, 0) << c.tool;
    EXPECT_EQ(output, c.output) << c.tool;
    EXPECT_TRUE(site.Program.Folder().ReadText("download.out") == large) << c.tool << " received other bytes";
  }
  if (ran == 0)
    GTEST_SKIP() << "none of the client tools is installed";
}

} // namespace
} // namespace kwstest
