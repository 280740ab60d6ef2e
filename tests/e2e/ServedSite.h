// A running copy of the program serving a small site of the test's own on a free loopback port.
#pragma once

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/LoopbackPeer.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/ReplyDates.h"

namespace kwstest {

inline constexpr const char* kFixedHeaders =
    "Server: Kestrune Web Server 0.1.2.7\r\nAccept-ranges: bytes\r\n";
inline constexpr int32_t kTestConnectTimeoutMs = 2000;

// A reply's header as a request without a Connection header gets it: the status line, the lines every reply
// has had, then the lines given and the blank line. The Date line comes pinned (Exchange pins it).
inline std::string ReplyHead(const std::string& status, const std::string& lines) {
  return "HTTP/1.0 " + status + "\r\n" + kFixedHeaders + "Connection: Close\r\n" + lines + "\r\n";
}
inline std::string TypeAndLength(const std::string& type, uint64_t length) {
  return "Content-type: " + type + "\r\nContent-Length: " + std::to_string(length) + "\r\n";
}
// A file of the site, whole; the length when only the start of the body is given.
inline std::string FileReply(const std::string& type, const std::string& body,
                             std::optional<uint64_t> length = std::nullopt) {
  return ReplyHead("200 OK",
                   TypeAndLength(type, length.value_or(body.size())) + kDateLine + kLastModifiedLine) +
         body;
}
// Bytes first to last of a file of the site; the body may be only their start.
inline std::string PartReply(const std::string& type, uint64_t first, uint64_t last, uint64_t size,
                             const std::string& body) {
  return ReplyHead("206 Partial Content", TypeAndLength(type, last - first + 1) + kDateLine +
                                              kLastModifiedLine + "Content-Range: bytes " +
                                              std::to_string(first) + "-" + std::to_string(last) + "/" +
                                              std::to_string(size) + "\r\n") +
         body;
}
inline std::string UnsatisfiableReply(uint64_t size) {
  return ReplyHead("416 Requested range not satisfiable", "Content-Length: 0\r\n" + kDateLine +
                                                              "Content-Range: bytes */" +
                                                              std::to_string(size) + "\r\n");
}
inline const std::string kNotModifiedReply = ReplyHead("304 Not Modified", kDateLine + kLastModifiedLine);
inline const std::string kNotImplementedReply =
    ReplyHead("501 Not Implemented", kDateLine) + "METHOD NOT IMPLEMENTED :(";
inline const std::string kNotFoundReply = ReplyHead("404 Not Found", kDateLine) + "FILE NOT FOUND :(";
// The reply to a request that cannot be read or held.
inline std::string RefusalReply(const std::string& statusLine) {
  return ReplyHead(statusLine, "Content-Length: 0\r\n" + kDateLine);
}
// The replies made without a producer.
inline std::string HandlerReply(const std::string& text) {
  return "HTTP/1.0 200 OK\r\n" + kDateLine + "\r\n" + text;
}
inline const std::string kNoHandlerReply = HandlerReply("KWS Error: NO HANDLER FOUND :(");
inline const std::string kNotDoneReply = HandlerReply("KWS Error: NOT DONE YET :(");
// What HEAD gets for the same request.
inline std::string HeaderOf(const std::string& reply) {
  return reply.substr(0, reply.find("\r\n\r\n") + 4);
}
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
    SetSiteTime(Program.Folder().Path());
    Program.Start({}, {{"KWSPLAT_HEADLESS", "1"},
                       {"DISPLAY", std::nullopt},
                       {"KWSPLAT_MIME_TYPES", Program.Folder().PathOf("mime.types")}});
    ASSERT_TRUE(WaitForLoopbackPort(Port, std::chrono::seconds(30))) << Program.Stderr();
  }

  // The whole reply, its Date pinned.
  std::string Exchange(const std::string& request) {
    return WithDatePinned(HttpExchange(static_cast<uint16_t>(Port), request));
  }
  // Writes a file of the site with the site's time, also after the start.
  std::string WriteFile(const std::string& relative, const std::string& content) const {
    const std::string path = Program.Folder().WriteFile(relative, content);
    SetSiteTime(path);
    return path;
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
