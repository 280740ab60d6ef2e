// Common HTTP clients read the running program's replies: curl, wget and Python's http.client.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/e2e/ServedSite.h"

namespace kwstest {
namespace {

bool HasTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command and returns its standard output and its exit code.
std::pair<std::string, int> RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return {"", -1};
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    output.append(buffer, n);
  const int status = pclose(pipe);
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

class ClientTools : public testing::Test {
protected:
  static void SetUpTestSuite() {
    Site = new ServedSite();
    std::string large(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < large.size(); ++i)
      large[i] = static_cast<char>(i * 31 % 251);
    Large = large;
    Site->Program.Folder().WriteFile("site/large.bin", large);
    Site->Start();
  }
  static void TearDownTestSuite() {
    delete Site;
    Site = nullptr;
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(Site->Port) + path;
  }
  static ServedSite* Site;
  static std::string Large;
};
ServedSite* ClientTools::Site = nullptr;
std::string ClientTools::Large;

TEST_F(ClientTools, CurlReadsFilesAndTheNotFoundReply) {
  if (!HasTool("curl"))
    GTEST_SKIP() << "curl is not installed";
  const std::string out = Site->Program.Folder().PathOf("curl.out");
  auto [code, status] = RunCommand("curl -sS --max-time 20 -o " + out +
                                   " -w '%{http_code} %{content_type}' " + Url("/large.bin"));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(code, "200 binaty/data");
  EXPECT_TRUE(ReadFile(out) == Large);
  auto [missing, missingStatus] =
      RunCommand("curl -sS --max-time 20 -w ' %{http_code}' " + Url("/missing.txt"));
  EXPECT_EQ(missingStatus, 0);
  EXPECT_EQ(missing, "FILE NOT FOUND :( 404");
  auto [page, pageStatus] = RunCommand("curl -sS --max-time 20 " + Url("/"));
  EXPECT_EQ(page, "<p>index</p>");
}

TEST_F(ClientTools, WgetDownloadsAFileWhole) {
  if (!HasTool("wget"))
    GTEST_SKIP() << "wget is not installed";
  const std::string out = Site->Program.Folder().PathOf("wget.out");
  auto [output, status] = RunCommand("wget -q -T 20 -t 1 -O " + out + " " + Url("/large.bin"));
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(ReadFile(out) == Large);
  auto [text, textStatus] = RunCommand("wget -q -T 20 -t 1 -O - " + Url("/hello.txt"));
  EXPECT_EQ(textStatus, 0);
  EXPECT_EQ(text, "hello world\n");
}

TEST_F(ClientTools, PythonHttpClientReadsStatusHeadersAndBody) {
  if (!HasTool("python3"))
    GTEST_SKIP() << "python3 is not installed";
  const std::string script =
      "import http.client,sys\n"
      "c=http.client.HTTPConnection('127.0.0.1'," +
      std::to_string(Site->Port) +
      ",timeout=20)\n"
      "c.request('GET','/large.bin')\n"
      "r=c.getresponse()\n"
      "b=r.read()\n"
      "print(r.status,r.reason,r.getheader('Content-type'),r.getheader('Content-Length'),len(b),"
      "hash(b)==hash(open(sys.argv[1],'rb').read()))\n";
  Site->Program.Folder().WriteFile("client.py", script);
  auto [output, status] = RunCommand("python3 " + Site->Program.Folder().PathOf("client.py") + " " +
                                     Site->Program.Folder().PathOf("site/large.bin"));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "200 OK binaty/data " + std::to_string(Large.size()) + " " +
                        std::to_string(Large.size()) + " True\n");
}

} // namespace
} // namespace kwstest
