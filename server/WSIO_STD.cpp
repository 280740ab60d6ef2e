#include "server/WSIO_STD.h"

#include <algorithm>

#include "platform/win32.h"
#include "server/Connection.h"
#include "server/HTTPTools.h"
#include "server/Mime.h"
#include "server/WSHandler.h"
#include "settings/CoreAPITools.h"

namespace {

const char* const kUnknownType = "binaty/data";
const char* const kNotFoundText = "FILE NOT FOUND :(";
const char* const kNotImplementedText = "METHOD NOT IMPLEMENTED :(";

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// Methods are case-sensitive: "get" is not GET.
bool IsServedMethod(const std::string& method) {
  return method == "GET" || method == "HEAD" || method == "POST";
}

std::optional<tUnixTime> ModifiedTimeOf(HANDLE file) {
  FILETIME written{};
  if (!GetFileTime(file, nullptr, nullptr, &written))
    return std::nullopt;
  return UnixTimeOfFileTime((uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime);
}

// The client holds the file already: its date is not older than the file's time. A date that does not parse,
// or one later than the server's time, is no date at all.
bool NotModified(const std::string& since, std::optional<tUnixTime> modified, tUnixTime now) {
  if (!modified || since.empty())
    return false;
  const std::optional<tUnixTime> date = ParseHttpDate(since);
  return date && *date <= now && *modified <= *date;
}

} // namespace

tWSIO_STD::tAnswer tWSIO_STD::AnswerFor(const tRequest& request, const tFileFacts& file, tUnixTime now) {
  tAnswer answer;
  answer.Part = {roPart, 0, file.Size};
  // Conditions and ranges are for fetching: a POST keeps the whole file.
  if (request.Method == "POST")
    return answer;
  answer.Body = request.Method != "HEAD";
  if (NotModified(request.Header("If-Modified-Since"), file.Modified, now)) {
    answer.Status = 304;
    answer.Body = false;
    return answer;
  }
  const std::optional<tByteRange> range = ParseRangeHeader(request.Header("Range"));
  if (!range)
    return answer;
  answer.Part = PartOf(*range, file.Size);
  if (answer.Part.Outcome == roPart) {
    answer.Status = 206;
    return answer;
  }
  answer.Status = 416;
  answer.Body = false;
  return answer;
}

std::string tWSIO_STD::FileNameFor(const std::string& path, const std::string& basePath,
                                   const std::string& defFile) {
  if (LeavesFolder(path))
    return "";
  std::string rest = WithoutSchemeAndHost(UpperCase(path));
  if (rest.empty())
    rest = "/";
  if (rest[0] == '/')
    rest.erase(0, 1);
  const std::string base = WithTrailingSeparator(basePath);
  // Without a base folder a remaining separator or drive would name a path from
  // the root.
  if (base.empty() && (!rest.empty() && (IsSeparator(rest[0]) || rest.find(':') != std::string::npos)))
    return "";
  std::string fileName = base + rest;
  if (!fileName.empty() && IsSeparator(fileName.back()))
    fileName += defFile;
  return fileName;
}

namespace {

// The path below the base folder, as FileNameFor maps it, without changing its letters; "" when refused.
std::string PathBelow(const std::string& url, const std::string& basePath) {
  std::string rest = url;
  if (UpperCase(url).starts_with("HTTP://")) {
    const size_t slash = url.find('/', 7);
    rest = slash == std::string::npos ? "/" : url.substr(slash);
  }
  if (!rest.empty() && rest[0] == '/')
    rest.erase(0, 1);
  std::string base = Trim(basePath);
  if (base.empty() && !rest.empty() && (IsSeparator(rest[0]) || rest.find(':') != std::string::npos))
    return "";
  const char separator =
      base.find('\\') != std::string::npos || base.find('/') == std::string::npos ? '\\' : '/';
  if (!base.empty() && !IsSeparator(base.back()) && base.back() != ':')
    base += separator;
  for (char& c : rest)
    if (IsSeparator(c))
      c = separator;
  return base + rest;
}

} // namespace

std::optional<tWSIO_STD::tMappedUrl> tWSIO_STD::MapUrl(const tListenerData& settings,
                                                       const std::string& url) {
  if (LeavesFolder(url))
    return std::nullopt;
  const int32_t chosen = tWSHandler::ChooseVDir(settings, url);
  if (chosen < 0)
    return std::nullopt;
  const tVDirData& vdir = settings.VDirs[static_cast<size_t>(chosen)];
  tMappedUrl mapped;
  mapped.Path = PathBelow(url, vdir.BasePath);
  if (mapped.Path.empty())
    return std::nullopt;
  mapped.VDirIndex = chosen;
  mapped.MatchedUrl = Trim(vdir.VirtualPath).size();
  mapped.MatchedPath = std::min(PathBelow(Trim(vdir.VirtualPath), vdir.BasePath).size(), mapped.Path.size());
  return mapped;
}

std::string tWSIO_STD::ExtensionOf(const std::string& fileName) {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || fileName.find_first_of("\\:", dot) != std::string::npos)
    return "";
  return fileName.substr(dot);
}

std::string tWSIO_STD::ContentTypeHeader(const std::string& extension) {
  std::string type = SharedMime().GetContentType(extension);
  if (type.empty())
    type = kUnknownType;
  return "Content-type: " + type + "\r\n";
}

// The lines every file reply has had come first, in their order; the date lines and the range follow.
std::string tWSIO_STD::FileHeader(const tAnswer& answer, const tFileFacts& file) const {
  std::string header = StatusHeaders(answer.Status);
  if (answer.Status == 200 || answer.Status == 206)
    header += ContentTypeHeader(ExtensionOf(file.Name)) +
              ContentLengthHeader(static_cast<int64_t>(answer.Part.Length));
  else if (answer.Status == 416)
    header += ContentLengthHeader(0);
  header += DateHeader(Now);
  // Never later than the reply's own date.
  if (file.Modified && answer.Status != 416)
    header += LastModifiedHeader(std::min(*file.Modified, Now));
  if (answer.Status == 206 || answer.Status == 416)
    header += "Content-Range: " + ContentRangeValue(answer.Part, file.Size) + "\r\n";
  return header + "\r\n";
}

void tWSIO_STD::SendFixed(int32_t code, const char* text) {
  const bool head = Handler.Request().Method == "HEAD";
  SendReply(StatusHeaders(code) + DateHeader(Now) + "\r\n" + (head ? "" : text));
}

void tWSIO_STD::Serve() {
  const tRequest& request = Handler.Request();
  Now = Clock();
  if (!IsServedMethod(request.Method))
    return SendFixed(501, kNotImplementedText);
  tFileFacts facts;
  facts.Name = FileNameFor(request.Path, VDir.BasePath, GetOption("DefFile"));
  if (facts.Name.empty())
    return SendFixed(404, kNotFoundText);
  // Folders and other non-files do not open.
  HANDLE file = CreateFileA(facts.Name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return SendFixed(404, kNotFoundText);
  facts.Modified = ModifiedTimeOf(file);
  facts.Size = FileSizeOf(file).value_or(0);
  if (facts.Size > kSmallFileBytes)
    return ServeLarge(file, facts);
  // An empty file is answered as a missing one; one that shrank since its size was taken sends what it had.
  const std::string body = ReadOpenFile(file, facts.Size);
  CloseHandle(file);
  if (body.empty())
    return SendFixed(404, kNotFoundText);
  facts.Size = body.size();
  const tAnswer answer = AnswerFor(request, facts, Now);
  std::string reply = FileHeader(answer, facts);
  if (answer.Body)
    reply.append(body, static_cast<size_t>(answer.Part.First), static_cast<size_t>(answer.Part.Length));
  SendReply(reply);
}

// The size is the one at opening: it is the length announced, whatever happens to the file afterwards.
void tWSIO_STD::ServeLarge(HANDLE file, const tFileFacts& facts) {
  const tAnswer answer = AnswerFor(Handler.Request(), facts, Now);
  SendReply(FileHeader(answer, facts));
  if (!answer.Body) {
    CloseHandle(file);
    return;
  }
  Handler.QueueFile(file, answer.Part.Length, answer.Part.First);
}

void tWSIO_STD::HandleData(const std::string&) {
  if (Answered)
    return;
  Answered = true;
  try {
    Serve();
  } catch (...) {
    Finish();
    throw;
  }
  Finish();
}
