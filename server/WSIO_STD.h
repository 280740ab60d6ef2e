// Serves files below a virtual directory's base folder.
#pragma once

#include <optional>
#include <string>

#include "server/ByteRanges.h"
#include "server/HTTPDates.h"
#include "server/WSIOBase.h"

struct tRequest;

class tWSIO_STD : public tWSIOBase {
public:
  using tWSIOBase::tWSIOBase;

  // Answers the request's Path with the file, or with the 404 reply; methods other than GET, HEAD and POST
  // get 501. HEAD gets the header GET would get, without the body; GET honours If-Modified-Since (304) and
  // one byte range (206, or 416 when it lies beyond the end). The text is not looked at, and only the first
  // call answers: bytes arriving after the request must not send the reply a second time. A small file goes
  // out with its header in one piece; a larger one is sent from the open file as the connection drains, so
  // memory does not grow with its size.
  void HandleData(const std::string& text) override;
  // Files up to this size are read at once.
  static constexpr uint64_t kSmallFileBytes = 64 * 1024;

  // "Content-type: " and the type of the extension ("binaty/data" when unknown), with its line break.
  static std::string ContentTypeHeader(const std::string& extension);
  // The file a request path names below basePath, upper-cased as requests are; "" when the path is refused:
  // a ".." segment or a NUL byte would reach outside the folder.
  static std::string FileNameFor(const std::string& path, const std::string& basePath,
                                 const std::string& defFile);
  // The text from the last "." of the name on, unless a "\" or ":" follows it; "" without one.
  static std::string ExtensionOf(const std::string& fileName);

  // What a URL names through the listener's directories: the directory whose VirtualPath is its longest
  // prefix, and the path the static producer would map it to below that directory's base folder, with the
  // URL's letter case and the base folder's kind of separator kept; nullopt when no directory matches or the
  // path would leave the base.
  struct tMappedUrl {
    std::string Path;
    int32_t VDirIndex = -1;
    size_t MatchedUrl = 0;  // the length of the directory's VirtualPath
    size_t MatchedPath = 0; // the length of Path's part that VirtualPath maps to
  };
  static std::optional<tMappedUrl> MapUrl(const tListenerData& settings, const std::string& url);

private:
  // An open file as the reply sees it.
  struct tFileFacts {
    std::string Name;
    uint64_t Size = 0;
    std::optional<tUnixTime> Modified; // absent when the system cannot tell
  };
  // What a request for an existing, non-empty file gets, decided before a byte of it is sent.
  struct tAnswer {
    int32_t Status = 200; // 200, 206, 304 or 416
    tFilePart Part;       // the bytes sent with 200 (all of them) and 206
    bool Body = true;     // false for HEAD, 304 and 416
  };
  static tAnswer AnswerFor(const tRequest& request, const tFileFacts& file, tUnixTime now);

  void Serve();
  void ServeLarge(HANDLE file, const tFileFacts& facts);
  std::string FileHeader(const tAnswer& answer, const tFileFacts& file) const;
  // A fixed reply: its status, the date and the text, which HEAD does not get.
  void SendFixed(int32_t code, const char* text);

  // Both touched only by the thread that runs HandleData, one call at a time.
  bool Answered = false;
  tUnixTime Now = 0; // the reply's date
};
