// Files, file search and folders over native paths found in any letter case (Paths.h).
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/src/Errors.h"
#include "platform/src/KernelObjects.h"
#include "platform/src/Paths.h"
#include "platform/src/posix/FileSystem.h"
#include "platform/win32.h"

namespace kwsplat {

namespace {

// An open file; the descriptor closes with the last reference (CloseHandle drops the table's).
class FileObject : public KernelObject {
public:
  explicit FileObject(int fd) : Fd(fd) {}
  ~FileObject() override { posix::CloseDescriptor(Fd); }
  const int Fd;
};

// One FindFirstFileA search: the matching names, handed out in byte order.
class FindSearch : public KernelObject {
public:
  std::string Folder;
  std::mutex Lock; // guards Names, Next
  std::vector<std::string> Names;
  size_t Next = 0;
};

} // namespace

OpenFileRef FindOpenFile(const void* handle) {
  std::shared_ptr<FileObject> file = FindKernelObject<FileObject>(handle);
  if (!file)
    return {};
  return {file, file->Fd};
}

namespace {

constexpr DWORD kReadOnlyAccess = GENERIC_READ;
constexpr int64_t kFileTimeEpochOffset = 116444736000000000LL; // 100 ns units from 1601 to 1970

FILETIME ToFileTime(int64_t unixNs) {
  uint64_t ticks = static_cast<uint64_t>(unixNs / 100 + kFileTimeEpochOffset);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

DWORD AttributesOf(const posix::FileInfo& info) {
  switch (info.Kind) {
  case posix::FileKind::Directory:
    return FILE_ATTRIBUTE_DIRECTORY;
  case posix::FileKind::Regular:
    return FILE_ATTRIBUTE_ARCHIVE | (info.Writable ? 0 : FILE_ATTRIBUTE_READONLY);
  default:
    return FILE_ATTRIBUTE_DEVICE;
  }
}

void FillFindData(const std::string& name, const posix::FileInfo& info, WIN32_FIND_DATAA& data) {
  std::memset(&data, 0, sizeof(data));
  data.dwFileAttributes = AttributesOf(info);
  data.ftCreationTime = ToFileTime(info.ChangedNs);
  data.ftLastAccessTime = ToFileTime(info.AccessedNs);
  data.ftLastWriteTime = ToFileTime(info.ModifiedNs);
  data.nFileSizeHigh = static_cast<DWORD>(info.Size >> 32);
  data.nFileSizeLow = static_cast<DWORD>(info.Size);
  size_t length = std::min(name.size(), sizeof(data.cFileName) - 1);
  std::memcpy(data.cFileName, name.data(), length);
}

// Describes a path as written when it exists, else as found in any letter case.
DWORD StatResolved(const char* path, std::string& native, posix::FileInfo& info) {
  NativePath translated = TranslatePath(path);
  if (translated.Error != 0)
    return translated.Error;
  int error = posix::StatPath(translated.Path, info);
  if (error == 0) {
    native = translated.Path;
    return 0;
  }
  if (error != ENOENT && error != ENOTDIR)
    return Win32ErrorFromErrno(error);
  NativePath resolved = ResolveCase(translated.Path);
  if (resolved.Error != 0)
    return resolved.Error;
  error = posix::StatPath(resolved.Path, info);
  if (error == ENOTDIR)
    return ERROR_PATH_NOT_FOUND;
  if (error != 0)
    return Win32ErrorFromErrno(error);
  native = resolved.Path;
  return 0;
}

bool HasWildcards(const std::string& name) {
  return name.find_first_of("*?") != std::string::npos;
}

bool MatchFolded(const char* pattern, const char* name) {
  // Iterative '*' matching with one backtrack point, as a glob matcher.
  const char* starPattern = nullptr;
  const char* starName = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      starPattern = pattern++;
      starName = name;
    } else if (*pattern == '?' || (*pattern != '\0' && *pattern == *name)) {
      ++pattern;
      ++name;
    } else if (starPattern != nullptr) {
      pattern = starPattern + 1;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == '*')
    ++pattern;
  return *pattern == '\0';
}

// Windows' rules kept here: letters match in any case, and a final ".*" also matches names without a dot.
bool MatchesPattern(const std::string& foldedPattern, const std::string& name) {
  std::string folded = FoldCase(name);
  if (MatchFolded(foldedPattern.c_str(), folded.c_str()))
    return true;
  size_t size = foldedPattern.size();
  if (size >= 2 && foldedPattern.compare(size - 2, 2, ".*") == 0)
    return MatchFolded(foldedPattern.substr(0, size - 2).c_str(), folded.c_str());
  return false;
}

// Hands out the search's next name that still exists.
bool NextFound(FindSearch& search, WIN32_FIND_DATAA& data) {
  std::lock_guard<std::mutex> guard(search.Lock);
  while (search.Next < search.Names.size()) {
    const std::string& name = search.Names[search.Next++];
    posix::FileInfo info;
    std::string path = search.Folder == "/" ? "/" + name : search.Folder + "/" + name;
    if (posix::StatPath(path, info) == 0) {
      FillFindData(name, info, data);
      return true;
    }
  }
  return false;
}

HANDLE FindWithWildcards(const std::string& native, size_t slash, WIN32_FIND_DATAA* data) {
  std::string folder = slash == 0 ? "/" : native.substr(0, slash);
  std::string pattern = FoldCase(native.substr(slash + 1));
  NativePath resolved = ResolveCase(folder);
  if (resolved.Error != 0) {
    SetLastError(resolved.Error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : resolved.Error);
    return INVALID_HANDLE_VALUE;
  }
  std::shared_ptr<const DirectoryListing> listing;
  DWORD error = ListFolder(resolved.Path, listing);
  if (error != 0) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  auto search = std::make_shared<FindSearch>();
  search->Folder = resolved.Path;
  // Windows lists "." and ".." in every folder but the root.
  if (search->Folder != "/") {
    for (const char* dots : {".", ".."})
      if (MatchesPattern(pattern, dots))
        search->Names.push_back(dots);
  }
  for (const std::string& name : listing->Names)
    if (MatchesPattern(pattern, name))
      search->Names.push_back(name);
  if (!NextFound(*search, *data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return ToHandle(KernelHandles().Add(std::move(search)));
}

HANDLE FindEntry(const char* path, WIN32_FIND_DATAA* data) {
  std::string native;
  posix::FileInfo info;
  DWORD error = StatResolved(path, native, info);
  if (error != 0) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  size_t slash = native.rfind('/');
  FillFindData(native == "/" ? native : native.substr(slash + 1), info, *data);
  auto search = std::make_shared<FindSearch>(); // already exhausted
  return ToHandle(KernelHandles().Add(std::move(search)));
}

// Opens a path as written when it exists, else as found in any letter case.
DWORD OpenResolved(const char* path, int& fd, posix::FileInfo& info) {
  NativePath translated = TranslatePath(path);
  if (translated.Error != 0)
    return translated.Error;
  int error = posix::OpenForReading(translated.Path, fd, info);
  if (error == 0)
    return 0;
  if (error != ENOENT && error != ENOTDIR)
    return Win32ErrorFromErrno(error);
  NativePath resolved = ResolveCase(translated.Path);
  if (resolved.Error != 0)
    return resolved.Error;
  error = posix::OpenForReading(resolved.Path, fd, info);
  if (error == ENOTDIR)
    return ERROR_PATH_NOT_FOUND;
  return error == 0 ? 0 : Win32ErrorFromErrno(error);
}

template <class T> T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

} // namespace

} // namespace kwsplat

using namespace kwsplat;

using namespace kwsplat;

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                                     DWORD dwCreationDisposition, DWORD, HANDLE) {
  // The program writes no files: reading an existing one is all there is.
  if ((dwDesiredAccess & ~kReadOnlyAccess) != 0 || dwCreationDisposition != OPEN_EXISTING)
    return Fail(ERROR_NOT_SUPPORTED, INVALID_HANDLE_VALUE);
  int fd = -1;
  posix::FileInfo info;
  DWORD error = OpenResolved(lpFileName, fd, info);
  if (error != 0)
    return Fail(error, INVALID_HANDLE_VALUE);
  if (info.Kind != posix::FileKind::Regular) {
    posix::CloseDescriptor(fd);
    return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  }
  return ToHandle(KernelHandles().Add(std::make_shared<FileObject>(fd)));
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPVOID lpOverlapped) {
  if (lpNumberOfBytesRead != nullptr)
    *lpNumberOfBytesRead = 0;
  std::shared_ptr<FileObject> file = FindKernelObject<FileObject>(hFile);
  if (!file)
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (lpOverlapped != nullptr || lpNumberOfBytesRead == nullptr)
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (lpBuffer == nullptr && nNumberOfBytesToRead != 0)
    return Fail(ERROR_NOACCESS, FALSE);
  size_t done = 0;
  int error = posix::ReadDescriptor(file->Fd, lpBuffer, nNumberOfBytesToRead, done);
  *lpNumberOfBytesRead = static_cast<DWORD>(done);
  if (error != 0)
    return Fail(Win32ErrorFromErrno(error), FALSE);
  return TRUE;
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                                       DWORD dwMoveMethod) {
  std::shared_ptr<FileObject> file = FindKernelObject<FileObject>(hFile);
  if (!file)
    return Fail(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
  int64_t distance = lDistanceToMove;
  if (lpDistanceToMoveHigh != nullptr)
    distance = static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
                                    static_cast<DWORD>(lDistanceToMove));
  posix::SeekFrom from;
  switch (dwMoveMethod) {
  case FILE_BEGIN:
    from = posix::SeekFrom::Begin;
    break;
  case FILE_CURRENT:
    from = posix::SeekFrom::Current;
    break;
  case FILE_END:
    from = posix::SeekFrom::End;
    break;
  default:
    return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  }
  // Windows refuses a position before the start, or one a caller without the high part could not hold.
  int64_t current = 0;
  int64_t base = 0;
  int error = 0;
  if (from == posix::SeekFrom::Current)
    error = posix::SeekDescriptor(file->Fd, 0, from, base);
  else if (from == posix::SeekFrom::End) {
    posix::FileInfo info;
    error = posix::StatDescriptor(file->Fd, info);
    base = static_cast<int64_t>(info.Size);
  }
  if (error != 0)
    return Fail(Win32ErrorFromErrno(error), INVALID_SET_FILE_POINTER);
  int64_t target = base + distance;
  if (target < 0)
    return Fail(ERROR_NEGATIVE_SEEK, INVALID_SET_FILE_POINTER);
  if (lpDistanceToMoveHigh == nullptr && target > 0xFFFFFFFELL)
    return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  error = posix::SeekDescriptor(file->Fd, target, posix::SeekFrom::Begin, current);
  if (error != 0)
    return Fail(Win32ErrorFromErrno(error), INVALID_SET_FILE_POINTER);
  if (lpDistanceToMoveHigh != nullptr)
    *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(current) >> 32);
  // INVALID_SET_FILE_POINTER can be a valid low part: callers then look at the last error.
  SetLastError(NO_ERROR);
  return static_cast<DWORD>(current);
}

extern "C" DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  std::shared_ptr<FileObject> file = FindKernelObject<FileObject>(hFile);
  if (!file)
    return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
  posix::FileInfo info;
  int error = posix::StatDescriptor(file->Fd, info);
  if (error != 0)
    return Fail(Win32ErrorFromErrno(error), INVALID_FILE_SIZE);
  if (lpFileSizeHigh != nullptr)
    *lpFileSizeHigh = static_cast<DWORD>(info.Size >> 32);
  SetLastError(NO_ERROR);
  return static_cast<DWORD>(info.Size);
}

// The times FindFirstFileA reports for the same file.
extern "C" BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                                   LPFILETIME lpLastWriteTime) {
  std::shared_ptr<FileObject> file = FindKernelObject<FileObject>(hFile);
  if (!file)
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  posix::FileInfo info;
  int error = posix::StatDescriptor(file->Fd, info);
  if (error != 0)
    return Fail(Win32ErrorFromErrno(error), FALSE);
  if (lpCreationTime != nullptr)
    *lpCreationTime = ToFileTime(info.ChangedNs);
  if (lpLastAccessTime != nullptr)
    *lpLastAccessTime = ToFileTime(info.AccessedNs);
  if (lpLastWriteTime != nullptr)
    *lpLastWriteTime = ToFileTime(info.ModifiedNs);
  return TRUE;
}

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (lpFindFileData == nullptr)
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  NativePath translated = TranslatePath(lpFileName);
  if (translated.Error != 0)
    return Fail(translated.Error, INVALID_HANDLE_VALUE);
  const std::string& native = translated.Path;
  // "C:" names the root; any other pattern ending in a separator names nothing, as on Windows.
  std::string written = lpFileName;
  if (native.back() == '/' && !(native == "/" && written.size() == 2 && written[1] == ':'))
    return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  size_t slash = native.rfind('/');
  if (HasWildcards(native.substr(slash + 1)))
    return FindWithWildcards(native, slash, lpFindFileData);
  return FindEntry(lpFileName, lpFindFileData);
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  std::shared_ptr<FindSearch> search = FindKernelObject<FindSearch>(hFindFile);
  if (!search)
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (lpFindFileData == nullptr)
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (!NextFound(*search, *lpFindFileData))
    return Fail(ERROR_NO_MORE_FILES, FALSE);
  return TRUE;
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile) {
  if (!FindKernelObject<FindSearch>(hFindFile) || !KernelHandles().Remove(FromHandle(hFindFile)))
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  return TRUE;
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  std::string native;
  posix::FileInfo info;
  DWORD error = StatResolved(lpFileName, native, info);
  if (error != 0)
    return Fail(error, INVALID_FILE_ATTRIBUTES);
  return AttributesOf(info);
}

namespace {

// Windows' convention: the length without the zero when it fits, else the size the buffer needs.
DWORD CopyOut(const std::string& text, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || size <= text.size())
    return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

} // namespace

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::string current = posix::CurrentDirectory();
  if (current.empty())
    return Fail(ERROR_PATH_NOT_FOUND, DWORD(0));
  return CopyOut(current, lpBuffer, nBufferLength);
}

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return CopyOut(WindowsDirectory(), lpBuffer, uSize);
}
