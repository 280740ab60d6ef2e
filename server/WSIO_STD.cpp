#include "server/WSIO_STD.h"

#include "platform/win32.h"
#include "server/HTTPTools.h"
#include "server/Mime.h"
#include "server/WSHandler.h"
#include "settings/CoreAPITools.h"

namespace {

const char* const kUnknownType = "binaty/data";
const char* const kNotFoundText = "FILE NOT FOUND :(";

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// True when a segment between separators is "..": the request would climb above
// the base folder.
bool ClimbsOut(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end]))
      ++end;
    if (path.compare(start, end - start, "..") == 0)
      return true;
    start = end + 1;
  }
  return false;
}

bool IsExistingFile(const std::string& fileName) {
  const DWORD attributes = GetFileAttributesA(fileName.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

std::string tWSIO_STD::FileNameFor(const std::string& path, const std::string& basePath,
                                   const std::string& defFile) {
  if (path.find('\0') != std::string::npos || ClimbsOut(path))
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

void tWSIO_STD::SendFileReply(const std::string& fileName, const std::string& body) {
  if (body.empty()) {
    SendReply(StatusHeaders(404) + "\r\n" + kNotFoundText);
    return;
  }
  // Header and body go out back to back as two pieces: a large file is not copied once more to join them.
  SendReply(StatusHeaders(200) + ContentTypeHeader(ExtensionOf(fileName)) +
            ContentLengthHeader(static_cast<int32_t>(body.size())) + "\r\n");
  SendReply(body);
}

void tWSIO_STD::HandleData(const std::string&) {
  if (Answered)
    return;
  Answered = true;
  try {
    const std::string fileName = FileNameFor(Handler.Path, VDir.BasePath, GetOption("DefFile"));
    std::string body;
    if (!fileName.empty() && IsExistingFile(fileName))
      body = ReadWholeFile(fileName);
    SendFileReply(fileName, body);
  } catch (...) {
    Finish();
    throw;
  }
  Finish();
}
