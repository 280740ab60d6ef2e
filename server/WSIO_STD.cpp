#include "server/WSIO_STD.h"

#include <algorithm>

#include "platform/win32.h"
#include "server/HTTPTools.h"
#include "server/Mime.h"
#include "server/Connection.h"
#include "server/WSHandler.h"
#include "settings/CoreAPITools.h"

namespace {

const char* const kUnknownType = "binaty/data";
const char* const kNotFoundText = "FILE NOT FOUND :(";

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

} // namespace

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

void tWSIO_STD::SendNotFound() {
  SendReply(StatusHeaders(404) + "\r\n" + kNotFoundText);
}

// The size is the one at opening: it is the length announced, whatever happens to the file afterwards.
void tWSIO_STD::Serve() {
  const std::string fileName = FileNameFor(Handler.Request().Path, VDir.BasePath, GetOption("DefFile"));
  if (fileName.empty())
    return SendNotFound();
  // Folders and other non-files do not open.
  HANDLE file = CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return SendNotFound();
  const uint64_t size = FileSizeOf(file).value_or(0);
  if (size > kSmallFileBytes) {
    SendReply(StatusHeaders(200) + ContentTypeHeader(ExtensionOf(fileName)) +
              ContentLengthHeader(static_cast<int64_t>(size)) + "\r\n");
    Handler.QueueFile(file, size);
    return;
  }
  // An empty file is answered as a missing one; one that shrank since its size was taken sends what it had.
  const std::string body = ReadOpenFile(file, size);
  CloseHandle(file);
  if (body.empty())
    return SendNotFound();
  SendReply(StatusHeaders(200) + ContentTypeHeader(ExtensionOf(fileName)) +
            ContentLengthHeader(static_cast<int64_t>(body.size())) + "\r\n" + body);
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
