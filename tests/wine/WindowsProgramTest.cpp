// The Windows build of the program under Wine, watched from Linux over loopback: the replies the Linux build
// gives, the plug-in DLLs, and the service under Wine's service manager. KWS_WINDOWS_BUILD names the folder
// of that build and KWS_WINE the Wine loader that runs it (default "wine"); Wine's settings (prefix, debug
// channels) come from the environment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/e2e/ServedSite.h"
#include "tests/support/Wait.h"

namespace kwstest {
namespace {

constexpr const char* kServiceName = "kwsService1";
constexpr uint64_t kHugeSize = (uint64_t{2} << 30) + 4097;
constexpr uint64_t kMarkAt = (uint64_t{2} << 30) - 8;

// The loader of the build's own width: the "wine" command would pick the 32-bit one where it is installed.
std::string WineLoader() {
  const char* loader = std::getenv("KWS_WINE");
  return loader != nullptr ? loader : "wine";
}

std::filesystem::path WindowsBuild() {
  const char* folder = std::getenv("KWS_WINDOWS_BUILD");
  return folder != nullptr ? folder : "";
}

// Wine's drive Z: is the Linux root.
std::string WindowsPath(const std::string& path) {
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

// Its output goes through a file: the helper processes a first call starts would hold a pipe open for good.
std::pair<std::string, int> Wine(const std::string& command, const std::string& folder = ".") {
  const TempFolder output;
  const std::string code = RunCommand("cd '" + folder + "' && timeout 120 wine " + command +
                                      " </dev/null >'" + output.PathOf("out") + "' 2>&1; echo $?")
                               .first;
  return {output.ReadText("out"), code.empty() ? -1 : std::stoi(code)};
}

// One listener serving site/ of the program's folder, and the sample plug-ins.
std::string Settings(int port, const TempFolder& folder) {
  const std::string plugins = WindowsPath((WindowsBuild() / "examples" / "plugins").string());
  std::string text = "[LISTENERS]\nCOUNT=1\nLISTENER1=W\n[W.GENERAL]\nPORT=" + std::to_string(port) +
                     "\nCONNECTTIMEOUT=" + std::to_string(kTestConnectTimeoutMs) +
                     "\n[W.VDIRS]\nCOUNT=5\nVDIR1=Root\nVDIR2=Cgi\nVDIR3=ISAPI\nVDIR4=KWSP\nVDIR5=AKWSP\n"
                     "[W.Root.GENERAL]\nPATH=" +
                     WindowsPath(folder.PathOf("site")) + "\nVPATH=/\nOTHER=DefFile=index.htm\n" +
                     "[W.Cgi.GENERAL]\nTYPE=CGI\nPATH=" + WindowsPath(folder.Path()) + "\nVPATH=/cgi/\n";
  for (const std::string kind : {"ISAPI", "KWSP", "AKWSP"}) {
    std::string vpath = kind;
    std::transform(vpath.begin(), vpath.end(), vpath.begin(), ::tolower);
    text += "[W." + kind + ".GENERAL]\nTYPE=" + kind + "\nVPATH=/" + vpath + "/\nOTHER=" + kind +
            "Path=" + plugins + "#0D#0ADefExt=dll\n";
  }
  return text;
}

// Every byte value, so that no translation of line ends or text can pass unseen.
std::string EveryByte() {
  std::string bytes;
  for (int round = 0; round < 16; ++round)
    for (int value = 0; value < 256; ++value)
      bytes += static_cast<char>(value);
  return bytes;
}

class WindowsProgram : public testing::Test {
protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(std::filesystem::exists(WindowsBuild() / "host" / "KestruneWS.exe"))
        << "KWS_WINDOWS_BUILD must name the Windows build";
    // The content types come from the registry's database there.
    for (const auto& [type, extension] : {std::pair{"text/plain", ".txt"}, {"text/html", ".htm"}})
      ASSERT_EQ(Wine("reg add \"HKCR\\Mime\\Database\\Content Type\\" + std::string(type) +
                     "\" /v Extension /d " + extension + " /f")
                    .second,
                0);
  }

  WindowsProgram() : Port(FreeLoopbackPort()), Program(std::nullopt, Exe()) {
    Program.SetLauncher({"timeout", "300", WineLoader()});
    Program.Folder().WriteFile("KestruneWebServer.Ini", Settings(Port, Program.Folder()));
    const char* const pathsAndContents[] = {"site/hello.txt", "hello world\n",        "site/index.htm",
                                            "<p>index</p>",   "site/Docs/ReadMe.Txt", "mixed case\n"};
    for (size_t i = 0; i < std::size(pathsAndContents); i += 2)
      Program.Folder().WriteFile(pathsAndContents[i], pathsAndContents[i + 1]);
    Program.Folder().WriteFile("site/bytes.qqq", EveryByte());
    // Sparse, past 2 GiB, with marks across the 2 GiB mark and at the end.
    const std::string huge = Program.Folder().WriteFile("site/huge.qqq", "");
    std::filesystem::resize_file(huge, kHugeSize);
    std::fstream marks(huge, std::ios::in | std::ios::out | std::ios::binary);
    marks.seekp(std::streamoff{kMarkAt}).write("ABCDEFGHIJKLMNOP", 16);
    marks.seekp(std::streamoff{kHugeSize - 4}).write("END!", 4);
    marks.close();
    SetSiteTime(Program.Folder().PathOf("site"));
  }

  static std::string Exe() { return (WindowsBuild() / "host" / "KestruneWS.exe").string(); }
  std::string Exchange(const std::string& request) {
    return WithDatePinned(HttpExchange(static_cast<uint16_t>(Port), request));
  }
  // The reply's status line and its body, which a plug-in shapes as it likes in between.
  void ExpectAnswer(const std::string& request, const std::string& body) {
    const std::string reply = Exchange(request);
    EXPECT_TRUE(reply.starts_with("HTTP/1.0 200 OK\r\n")) << request << reply;
    EXPECT_NE(reply.find(body), std::string::npos) << request << reply;
  }

  const int Port;
  ProgramRunner Program;
};

TEST_F(WindowsProgram, WindowedItServesFilesErrorsAndEveryPluginKindAsOnLinux) {
  Program.Start({"-WIN95"});
  ASSERT_TRUE(WaitForLoopbackPort(Port, std::chrono::seconds(60))) << Program.Stderr();

  EXPECT_EQ(Exchange(kHelloRequest), kHelloReply);
  EXPECT_EQ(Exchange("GET /bytes.qqq HTTP/1.0\r\n\r\n"), FileReply("binaty/data", EveryByte()));
  EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), FileReply("text/html", "<p>index</p>"));
  EXPECT_EQ(Exchange("GET /DOCS/readme.TXT HTTP/1.0\r\n\r\n"), FileReply("text/plain", "mixed case\n"));
  EXPECT_EQ(Exchange("GET /missing.txt HTTP/1.0\r\n\r\n"), kNotFoundReply);
  EXPECT_EQ(Exchange("GET /../KestruneWebServer.Ini HTTP/1.0\r\n\r\n"), kNotFoundReply);
  EXPECT_EQ(Exchange("GET no-slash HTTP/1.0\r\n\r\n"), kNoHandlerReply);
  EXPECT_EQ(Exchange("GET /cgi/run HTTP/1.0\r\n\r\n"), kNotDoneReply);
  // HEAD, ranges at 64-bit offsets, conditions and other methods as on Linux.
  EXPECT_EQ(Exchange("HEAD /hello.txt HTTP/1.0\r\n\r\n"), HeaderOf(kHelloReply));
  EXPECT_EQ(Exchange("HEAD /missing.txt HTTP/1.0\r\n\r\n"), HeaderOf(kNotFoundReply));
  EXPECT_EQ(Exchange("GET /hello.txt HTTP/1.0\r\nRange: bytes=-6\r\n\r\n"),
            PartReply("text/plain", 6, 11, 12, "world\n"));
  EXPECT_EQ(Exchange("GET /hello.txt HTTP/1.0\r\nRange: bytes=12-\r\n\r\n"), UnsatisfiableReply(12));
  EXPECT_EQ(Exchange("GET /hello.txt HTTP/1.0\r\nIf-Modified-Since: " + kSiteTimeText + "\r\n\r\n"),
            kNotModifiedReply);
  EXPECT_EQ(Exchange("DELETE /hello.txt HTTP/1.0\r\n\r\n"), kNotImplementedReply);
  EXPECT_EQ(Exchange("HEAD /huge.qqq HTTP/1.0\r\n\r\n"), HeaderOf(FileReply("binaty/data", "", kHugeSize)));
  EXPECT_EQ(Exchange("GET /huge.qqq HTTP/1.0\r\nRange: bytes=2147483640-2147483655\r\n\r\n"),
            PartReply("binaty/data", kMarkAt, kMarkAt + 15, kHugeSize, "ABCDEFGHIJKLMNOP"));
  EXPECT_EQ(Exchange("GET /huge.qqq HTTP/1.0\r\nRange: bytes=-5\r\n\r\n"),
            PartReply("binaty/data", kHugeSize - 5, kHugeSize - 1, kHugeSize, std::string("\0END!", 5)));

  ExpectAnswer("GET /isapi/isapi_hello?x=1 HTTP/1.0\r\n\r\n", "QUERY_STRING=x=1\n");
  ExpectAnswer("POST /isapi/isapi_hello HTTP/1.0\r\nContent-Length: 6\r\n\r\nposted", "body=posted\n");
  ExpectAnswer("POST /isapi/isapi_upload HTTP/1.0\r\nContent-Length: 3000000\r\n\r\n" +
                   std::string(3000000, 'u'),
               "Received 3000000 of 3000000 body bytes");
  EXPECT_TRUE(
      Exchange("GET /isapi/isapi_hello?redirect HTTP/1.0\r\n\r\n").starts_with("HTTP/1.0 302 Found\r\n"));
  ExpectAnswer("GET /isapi/isapi_pending HTTP/1.0\r\n\r\n",
               "Answered later, from the extension's own thread.");
  ExpectAnswer("POST /kwsp/kwsp_collect HTTP/1.0\r\nContent-Length: 10\r\n\r\n0123456789",
               "Collected 10 body bytes in pieces.");
  ExpectAnswer("GET /akwsp/akwsp_hello?q HTTP/1.0\r\n\r\n", "query \"q\"");
}

TEST_F(WindowsProgram, AsAServiceItIsInstalledStartedServesStopsAndIsRemoved) {
  const std::string folder = Program.Folder().Path();
  ASSERT_EQ(Wine("KestruneWS.exe -INSTALL -SILENT", folder).second, 0);
  const auto [started, startCode] = Wine(std::string("net start ") + kServiceName);
  EXPECT_EQ(startCode, 0) << started;
  EXPECT_TRUE(WaitForLoopbackPort(Port, std::chrono::seconds(60)));
  EXPECT_EQ(Exchange(kHelloRequest), kHelloReply);

  const auto [stopped, stopCode] = Wine(std::string("net stop ") + kServiceName);
  EXPECT_EQ(stopCode, 0) << stopped;
  EXPECT_TRUE(WaitUntil([&] { return !WaitForLoopbackPort(Port, std::chrono::milliseconds(200)); },
                        std::chrono::seconds(30), tPump::None));
  EXPECT_EQ(Wine("KestruneWS.exe -UNINSTALL -SILENT", folder).second, 0);
  EXPECT_NE(Wine(std::string("sc query ") + kServiceName).second, 0) << "still installed";
}

} // namespace
} // namespace kwstest
