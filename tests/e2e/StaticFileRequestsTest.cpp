// Method × header × file size over the running program: HEAD, byte ranges, If-Modified-Since and the methods
// a static directory does not serve, on files of 0, 1, 100,000 bytes and one past 2 GiB; and a download tool
// taking up a cut download.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/e2e/ServedSite.h"

namespace kwstest {
namespace {

// Sparse: only the marks below are written.
constexpr uint64_t kHugeSize = (uint64_t{2} << 30) + 4097;
constexpr uint64_t kMarkAt = (uint64_t{2} << 30) - 8; // across the 2 GiB mark
const std::string kMark = "ABCDEFGHIJKLMNOP";
const std::string kTail = "END!"; // the huge file's last bytes
// Of a longer body only the start is read.
constexpr uint64_t kBodyRead = 256 * 1024;

constexpr size_t kResumeSize = 8 * 1024 * 1024;
constexpr size_t kCut = 3 * 1024 * 1024 + 17;

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

// A file of the site and the bytes the test knows it holds.
struct tSiteFile {
  std::string Name;
  uint64_t Size = 0;
  std::string Content; // all of it, except for the huge file

  // Bytes from first on, at most kBodyRead of them.
  std::string Bytes(uint64_t first, uint64_t length) const {
    length = std::min(length, kBodyRead);
    if (Size != kHugeSize)
      return Content.substr(first, length);
    std::string bytes(length, '\0');
    for (const auto& [at, text] : {std::pair{kMarkAt, kMark}, {kHugeSize - kTail.size(), kTail}})
      for (uint64_t i = 0; i < text.size(); ++i)
        if (at + i >= first && at + i < first + length)
          bytes[at + i - first] = text[i];
    return bytes;
  }
};

const std::string kType = "binaty/data";

std::string Whole(const tSiteFile& file) {
  return FileReply(kType, file.Bytes(0, file.Size), file.Size);
}
std::string Part(const tSiteFile& file, uint64_t first, uint64_t last) {
  return PartReply(kType, first, last, file.Size, file.Bytes(first, last - first + 1));
}
std::string Unsatisfiable(const tSiteFile& file) {
  return UnsatisfiableReply(file.Size);
}
std::string NotModified(const tSiteFile&) {
  return kNotModifiedReply;
}
std::string NotImplemented(const tSiteFile&) {
  return kNotImplementedReply;
}

// "{size}" and "{last}" stand for the file's size and its last byte's position.
std::string ForFile(std::string text, const tSiteFile& file) {
  for (const auto& [name, value] :
       {std::pair<std::string, uint64_t>{"{size}", file.Size}, {"{last}", file.Size - 1}})
    for (size_t at; (at = text.find(name)) != std::string::npos;)
      text.replace(at, name.size(), std::to_string(value));
  return text;
}

class StaticFileRequests : public testing::Test {
protected:
  static void SetUpTestSuite() {
    Site = new ServedSite();
    Files = {{"size0.bin", 0, ""},
             {"size1.bin", 1, "x"},
             {"size100k.bin", 100000, Pattern(100000)},
             {"huge.bin", kHugeSize, ""}};
    for (const tSiteFile& file : Files)
      Site->Program.Folder().WriteFile("site/" + file.Name, file.Content);
    const std::string huge = Site->Program.Folder().PathOf("site/huge.bin");
    std::filesystem::resize_file(huge, kHugeSize);
    std::fstream marks(huge, std::ios::in | std::ios::out | std::ios::binary);
    marks.seekp(static_cast<std::streamoff>(kMarkAt)).write(kMark.data(), std::streamsize(kMark.size()));
    marks.seekp(static_cast<std::streamoff>(kHugeSize - kTail.size())).write(kTail.data(), 4);
    marks.close();
    Site->Program.Folder().WriteFile("site/resume.bin", Resume);
    Site->Start();
  }
  static void TearDownTestSuite() { delete Site; }

  // The reply, read up to the length expected when that is long (the rest is left unread), its Date pinned.
  static std::string Exchange(const std::string& request, size_t expectedLength) {
    if (expectedLength < kBodyRead)
      return Site->Exchange(request);
    auto client = Site->Send(request);
    return client ? WithDatePinned(client->Read(expectedLength)) : "(not connected)";
  }

  static inline ServedSite* Site = nullptr;
  static inline std::vector<tSiteFile> Files;
  static inline const std::string Resume = Pattern(kResumeSize);
};

TEST_F(StaticFileRequests, EachMethodAndHeaderGetsItsReplyForEveryFileSize) {
  using tExpected = std::function<std::string(const tSiteFile&)>;
  const auto range = [](uint64_t first, uint64_t last) {
    return [=](const tSiteFile& f) { return Part(f, first, std::min(last, f.Size - 1)); };
  };
  const std::string sameTime = "If-Modified-Since: " + kSiteTimeText + "\r\n";
  const std::string secondBefore = "If-Modified-Since: Sun, 06 Nov 1994 08:49:36 GMT\r\n";
  struct Case {
    std::string method, headers;
    tExpected expected;
    bool beforeAnyFile = false; // decided by the method alone, also for a file that is not served
    std::string body = "";
  } cases[] = {
      {"GET", "", Whole},
      {"HEAD", "", Whole},
      {"POST", "Content-Length: 3\r\n", Whole, false, "abc"},
      // One range in each form; a last byte past the end stops at the end.
      {"GET", "Range: bytes=0-0\r\n", range(0, 0)},
      {"GET", "Range: bytes=0-9\r\n", range(0, 9)},
      {"GET", "Range: bytes=1-\r\n",
       [](const tSiteFile& f) { return f.Size > 1 ? Part(f, 1, f.Size - 1) : Unsatisfiable(f); }},
      {"GET", "Range: bytes=-5\r\n",
       [](const tSiteFile& f) { return Part(f, f.Size - std::min<uint64_t>(5, f.Size), f.Size - 1); }},
      {"GET", "Range: bytes={last}-99999999999999\r\n",
       [](const tSiteFile& f) { return Part(f, f.Size - 1, f.Size - 1); }},
      {"GET", "Range: bytes=2147483640-2147483655\r\n",
       [](const tSiteFile& f) {
         return f.Size > kMarkAt ? Part(f, kMarkAt, kMarkAt + 15) : Unsatisfiable(f);
       }},
      {"HEAD", "Range: bytes=0-0\r\n", range(0, 0)},
      {"GET", "rAnGe: Bytes = 0-0 \r\n", range(0, 0)},
      // Nothing of the file.
      {"GET", "Range: bytes={size}-\r\n", Unsatisfiable},
      {"GET", "Range: bytes=-0\r\n", Unsatisfiable},
      {"HEAD", "Range: bytes={size}-{size}\r\n", Unsatisfiable},
      // Ignored: several ranges, not a range, another unit, a method that does not fetch.
      {"GET", "Range: bytes=0-0,2-3\r\n", Whole},
      {"GET", "Range: bytes=9-0\r\n", Whole},
      {"GET", "Range: bytes=x-\r\n", Whole},
      {"GET", "Range: lines=0-1\r\n", Whole},
      {"POST", "Content-Length: 0\r\nRange: bytes=0-0\r\n", Whole},
      // The three date forms, a later date, an older one, one later than the server's clock, none at all.
      {"GET", sameTime, NotModified},
      {"GET", "If-Modified-Since: Sunday, 06-Nov-94 08:49:37 GMT\r\n", NotModified},
      {"GET", "If-Modified-Since: Sun Nov  6 08:49:37 1994\r\n", NotModified},
      {"GET", "If-Modified-Since: Sat, 01 Jan 2000 00:00:00 GMT; length=5\r\n", NotModified},
      {"HEAD", sameTime, NotModified},
      {"GET", secondBefore, Whole},
      {"GET", "If-Modified-Since: Fri, 31 Dec 9999 23:59:59 GMT\r\n", Whole},
      {"GET", "If-Modified-Since: last week\r\n", Whole},
      {"POST", "Content-Length: 0\r\n" + sameTime, Whole},
      // A condition comes before the range.
      {"GET", sameTime + "Range: bytes=0-0\r\n", NotModified},
      {"GET", secondBefore + "Range: bytes=0-0\r\n", range(0, 0)},
      // Methods a static directory does not serve, matched exactly.
      {"DELETE", "", NotImplemented, true},
      {"PUT", "Content-Length: 3\r\n", NotImplemented, true, "abc"},
      {"OPTIONS", "", NotImplemented, true},
      {"get", "", NotImplemented, true},
      {"BREW", "", NotImplemented, true},
  };
  for (const tSiteFile& file : Files)
    for (const Case& c : cases) {
      const std::string headers = ForFile(c.headers, file);
      std::string expected = file.Size == 0 && !c.beforeAnyFile ? kNotFoundReply : c.expected(file);
      if (c.method == "HEAD")
        expected = HeaderOf(expected);
      const std::string request = c.method + " /" + file.Name + " HTTP/1.0\r\n" + headers + "\r\n" + c.body;
      EXPECT_EQ(Exchange(request, expected.size()), expected)
          << file.Name << ": " << c.method << " " << headers;
    }
}

// The error replies without a producer answer HEAD without their text too.
TEST_F(StaticFileRequests, HEADGetsTheHeaderOfEveryFixedReplyWithoutItsText) {
  struct Case {
    std::string path, reply;
  } cases[] = {{"/missing.txt", kNotFoundReply}, {"no-slash", kNoHandlerReply}, {"/cgi/run", kNotDoneReply}};
  for (const Case& c : cases)
    EXPECT_EQ(Exchange("HEAD " + c.path + " HTTP/1.0\r\n\r\n", 0), HeaderOf(c.reply)) << c.path;
}

// A download cut short and taken up again where it stopped: the file ends up whole, and no byte comes twice.
TEST_F(StaticFileRequests, ADownloadToolResumesACutDownloadToTheSameBytes) {
  if (RunCommand("curl --version >/dev/null 2>&1").second != 0)
    GTEST_SKIP() << "curl is not installed (scripts/setup.sh installs it)";
  const TempFolder download;
  const std::string url = "http://127.0.0.1:" + std::to_string(Site->Port) + "/resume.bin";
  const std::string file = download.PathOf("resume.bin");
  // head keeps the first bytes and leaves; curl, unable to write on, ends the download there.
  RunCommand("curl -s " + url + " | head -c " + std::to_string(kCut) + " >'" + file + "'");
  ASSERT_EQ(std::filesystem::file_size(file), kCut);
  const auto [written, code] =
      RunCommand("curl -s -C - -o '" + file + "' -w '%{http_code} %{size_download}' " + url);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(written, "206 " + std::to_string(kResumeSize - kCut));
  EXPECT_TRUE(download.ReadText("resume.bin") == Resume) << "the resumed file differs";
}

} // namespace
} // namespace kwstest
