// A running copy of the program serving a small site of the test's own on a free loopback port.
#pragma once

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <string>

#include "tests/support/LoopbackPeer.h"
#include "tests/support/ProgramRunner.h"

namespace kwstest {

inline constexpr const char* kFixedHeaders =
    "Server: Kestrune Web Server 0.1.2.7\r\nAccept-ranges: bytes\r\n";
inline constexpr int32_t kTestConnectTimeoutMs = 2000;

// The complete reply for a file, as a request without a Connection header gets it.
inline std::string FileReply(const std::string& type, const std::string& body) {
  return std::string("HTTP/1.0 200 OK\r\n") + kFixedHeaders + "Connection: Close\r\nContent-type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}
// The reply to a request that cannot be read or held.
inline std::string RefusalReply(const std::string& statusLine) {
  return "HTTP/1.0 " + statusLine + "\r\n" + kFixedHeaders + "Connection: Close\r\nContent-Length: 0\r\n\r\n";
}
inline const std::string kNotFoundReply =
    std::string("HTTP/1.0 404 Not Found\r\n") + kFixedHeaders + "Connection: Close\r\n\r\nFILE NOT FOUND :(";
inline const std::string kHelloRequest = "GET /hello.txt HTTP/1.0\r\n\r\n";
inline const std::string kHelloReply = FileReply("text/plain", "hello world\n");

// One listener on the port serving the program's own folder.
inline std::string SettingsOnPort(int port) {
  return "[LISTENERS]\nCOUNT=1\n[L1.GENERAL]\nPORT=" + std::to_string(port) +
         "\n[L1.VD1.GENERAL]\nPATH=.\nVPATH=/\n";
}

inline void ExpectExit(ProgramRunner& program, int code = 0) {
  const std::optional<ExitStatus> status = program.WaitForExit(std::chrono::seconds(30));
  ASSERT_TRUE(status.has_value()) << "still running; stderr:\n" << program.Stderr();
  EXPECT_TRUE(status->Exited) << "killed by signal " << status->Signal << "; stderr:\n" << program.Stderr();
  EXPECT_EQ(status->Code, code) << program.Stderr();
}

// Below the program's folder, its current directory: site/ is the web root, secret.txt lies beside it.
class ServedSite {
public:
  ServedSite()
      : Port(FreeLoopbackPort()),
        Program("[LISTENERS]\nCOUNT=1\nLISTENER1=T\n[T.GENERAL]\nPORT=" + std::to_string(Port) +
                "\nCONNECTTIMEOUT=" + std::to_string(kTestConnectTimeoutMs) + "\nMAXBODYSIZE=4000000" +
                "\n[T.VDIRS]\nCOUNT=5\nVDIR1=Root\nVDIR2=Docs\nVDIR3=Deep\nVDIR4=Cgi\nVDIR5=Abs\n"
                "[T.Root.GENERAL]\nPATH=site\nVPATH=/\nOTHER=DefFile=index.htm\n"
                "[T.Docs.GENERAL]\nPATH=site/\nVPATH=/docs/\n"
                "[T.Deep.GENERAL]\nPATH=deep\nVPATH=/Docs/Deep/\n"
                "[T.Cgi.GENERAL]\nTYPE=CGI\nPATH=site\nVPATH=/cgi/\n"
                "[T.Abs.GENERAL]\nPATH=site\nVPATH=http://example.org/\nOTHER=DefFile=index.htm\n") {}
  // A sanitizer build of the program reports races and memory errors on its standard error.
  ~ServedSite() { EXPECT_EQ(Program.Stderr().find("Sanitizer"), std::string::npos) << Program.Stderr(); }

  // Writes the site, then starts the program and waits until it accepts connections.
  void Start() {
    const char* const pathsAndContents[] = {"site/hello.txt",       "hello world\n",
                                            "site/index.htm",       "<p>index</p>",
                                            "site/noext",           "raw bytes",
                                            "site/odd.qqq",         "odd",
                                            "site/empty.txt",       "",
                                            "site/docs/deep/d.txt", "wrong folder",
                                            "deep/DOCS/DEEP/d.txt", "deep d",
                                            "secret.txt",           "secret",
                                            "mime.types",           "text/plain txt\ntext/html htm html\n"};
    for (size_t i = 0; i < std::size(pathsAndContents); i += 2)
      Program.Folder().WriteFile(pathsAndContents[i], pathsAndContents[i + 1]);
    Program.Start({}, {{"KWSPLAT_HEADLESS", "1"},
                       {"DISPLAY", std::nullopt},
                       {"KWSPLAT_MIME_TYPES", Program.Folder().PathOf("mime.types")}});
    ASSERT_TRUE(WaitForLoopbackPort(Port, std::chrono::seconds(30))) << Program.Stderr();
  }

  std::string Exchange(const std::string& request) {
    return HttpExchange(static_cast<uint16_t>(Port), request);
  }
  // A connection that has sent the bytes, or nullptr.
  std::unique_ptr<tLoopbackPeer> Send(const std::string& bytes, int receiveBuffer = 0) {
    auto client = std::make_unique<tLoopbackPeer>();
    client->SetReceiveBuffer(receiveBuffer);
    return client->Connect(static_cast<uint16_t>(Port)) && client->Send(bytes) ? std::move(client) : nullptr;
  }
  int DescriptorCount() const {
    return static_cast<int>(std::distance(
        std::filesystem::directory_iterator("/proc/" + std::to_string(Program.Pid()) + "/fd"), {}));
  }
  // Soft and hard alike.
  bool LimitDescriptors(rlim_t count) {
    const rlimit limit{count, count};
    return prlimit(Program.Pid(), RLIMIT_NOFILE, &limit, nullptr) == 0;
  }

  const int Port;
  ProgramRunner Program;
};

} // namespace kwstest
