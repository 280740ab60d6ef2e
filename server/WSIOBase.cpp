#include "server/WSIOBase.h"

#include "server/Connection.h"
#include "server/HTTPTools.h"
#include "settings/CoreAPITools.h"

namespace {

const char* const kRefusedPathText = "FILE NOT FOUND :(";

// A file, not a folder.
bool FileExists(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

const std::array<tErrorCode, 40> ErrorCodes = {{
    {100, "Continue"},
    {101, "Switching Protocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {307, "Temporary Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Time-out"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Large"},
    {415, "Unsupported Media Type"},
    {416, "Requested range not satisfiable"},
    {417, "Expectation Failed"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Time-out"},
    {505, "HTTP Version not supported"},
}};

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n')
      ++pos;
  }
  return lines;
}

std::string OptionValue(const std::vector<std::string>& options, const std::string& name) {
  for (const std::string& line : options) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos && SameText(line.substr(0, equals), name))
      return line.substr(equals + 1);
  }
  return "";
}

std::string ReasonPhrase(int32_t code) {
  for (const tErrorCode& row : ErrorCodes)
    if (row.Code == code)
      return row.Reason;
  return "Unknown status";
}

std::string StatusHeaderLines(int32_t code, bool sendConnectionClose) {
  return StatusHeaderLines(code, ReasonPhrase(code), sendConnectionClose);
}

std::string StatusHeaderLines(int32_t code, const std::string& reason, bool sendConnectionClose) {
  std::string headers = "HTTP/1.0 " + std::to_string(code) + " " + reason + "\r\n";
  headers += std::string("Server: ") + kServerName + "\r\n";
  headers += "Accept-ranges: bytes\r\n";
  if (sendConnectionClose)
    headers += "Connection: Close\r\n";
  return headers;
}

tWSIOBase::tWSIOBase(tConnection& handler, const tVDirData& vdir)
    : Handler(handler), VDir(vdir), Options(SplitLines(vdir.OtherText)) {}

// The lease normally went in ConnectionEnding; a producer that never reached it (a test, a failed start)
// lets go of its library here.
tWSIOBase::~tWSIOBase() = default;

void tWSIOBase::ConnectionEnding() {
  if (Library != nullptr)
    Library->Detach(*this);
  Library = nullptr;
  LibraryLease.Reset();
}

void tWSIOBase::ConnectionLost() {
  Connected = false;
}

void tWSIOBase::HandleData(const std::string&) {}

bool tWSIOBase::SendReply(const std::string& text) {
  return Handler.QueueReply(text);
}

std::string tWSIOBase::StatusHeaders(int32_t code) const {
  return StatusHeaderLines(code, Handler.Request().SendConnectionClose);
}

std::string tWSIOBase::ContentLengthHeader(int64_t length) {
  return "Content-Length: " + std::to_string(length) + "\r\n";
}

std::string tWSIOBase::DateHeader(tUnixTime time) {
  return "Date: " + FormatHttpDate(time) + "\r\n";
}

std::string tWSIOBase::LastModifiedHeader(tUnixTime time) {
  return "Last-Modified: " + FormatHttpDate(time) + "\r\n";
}

std::string tWSIOBase::GetOption(const std::string& name) const {
  return OptionValue(Options, name);
}

// The library hears of it first: once the reply is marked complete, the worker may end the connection and
// let go of the library while this thread would still be on its way there.
void tWSIOBase::Finish() {
  Finished();
  Handler.MarkResponseComplete();
}

// Only the first Finish looks at the library: a second one may come while the worker lets go of it.
void tWSIOBase::Finished() {
  if (!Released.exchange(true) && Library != nullptr)
    Library->Release(*this);
}

tWSIOBase::tPluginTarget tWSIOBase::FindPlugin(const std::string& folderOption,
                                               const std::string& extensionOption) const {
  const std::string path = Trim(Handler.Request().Path);
  if (LeavesFolder(path))
    return {};
  const std::string virtualPath = Trim(VDir.VirtualPath);
  const size_t restStart = UpperCase(path).starts_with(UpperCase(virtualPath)) ? virtualPath.size() : 0;
  const std::string rest = path.substr(restStart);
  std::string folder = WithTrailingSeparator(GetOption(folderOption));
  if (!IsDirectory(folder))
    folder = WithTrailingSeparator(FolderOf(ProgramPath())) + folder;
  const std::string extension = "." + GetOption(extensionOption);
  // Segment by segment, so that a folder on the way is passed and the first file found wins.
  for (size_t end = rest.find_first_of("/\\");; end = rest.find_first_of("/\\", end + 1)) {
    const size_t length = end == std::string::npos ? rest.size() : end;
    const std::string name = folder + rest.substr(0, length);
    const std::string file = FileExists(name) ? name : name + extension;
    if (FileExists(file))
      return {file, true, path.substr(0, restStart + length), path.substr(restStart + length)};
    if (end == std::string::npos)
      break;
  }
  return {folder + rest + extension, false, path, ""};
}

tLoadedLibrary* tWSIOBase::LoadPlugin(const std::string& folderOption, const std::string& extensionOption,
                                      tLibraryClass libraryClass, const std::string& text) {
  Target = FindPlugin(folderOption, extensionOption);
  const std::string& fileName = Target.FileName;
  if (fileName.empty()) {
    SendReply(StatusHeaders(404) + "\r\n" + kRefusedPathText);
    Finish();
    return nullptr;
  }
  if (!Target.Found) {
    SendReply(StatusHeaders(404) + "\r\nPLUGIN " + fileName + " WAS NOT FOUND :(");
    Finish();
    return nullptr;
  }
  const auto& cache = Handler.Request().Libraries;
  if (cache)
    LibraryLease = cache->Acquire(fileName, libraryClass, *this);
  // A file that another kind of directory loaded first is not of this interface.
  tLoadedLibrary* library = LibraryLease.Class() == libraryClass ? LibraryLease.Library() : nullptr;
  if (library == nullptr || !library->IsValid()) {
    LibraryLease.Reset();
    SendReply(StatusHeaders(404) + "\r\nPLUGIN " + fileName + " IS INVALID :(");
    Finish();
    return nullptr;
  }
  Library = library;
  library->Run(*this, text);
  return library;
}
