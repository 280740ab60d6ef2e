// File-system calls for the layer's files, paths and profile reader. Plain C++: every function returns 0 or
// the errno of the call that failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kwsplat::posix {

enum class FileKind { Regular, Directory, Other };

struct FileInfo {
  FileKind Kind = FileKind::Other;
  uint64_t Size = 0;
  int64_t ModifiedNs = 0; // since 1970-01-01 UTC, like the two below
  int64_t AccessedNs = 0;
  int64_t ChangedNs = 0;
  uint64_t Device = 0;
  uint64_t Inode = 0;
  bool Writable = false; // any of the mode's write bits
};

// Follows symbolic links.
int StatPath(const std::string& path, FileInfo& info);

// The entries' names, without "." and "..", in the order the system gives them.
int ListDirectory(const std::string& path, std::vector<std::string>& names);

// Opens for reading, non-blocking (a FIFO cannot block the caller) and close-on-exec, then describes it.
int OpenForReading(const std::string& path, int& fd, FileInfo& info);
int StatDescriptor(int fd, FileInfo& info);
// Reads until size bytes or the end of the file; done says how many arrived.
int ReadDescriptor(int fd, void* buffer, size_t size, size_t& done);

enum class SeekFrom { Begin, Current, End };
int SeekDescriptor(int fd, int64_t offset, SeekFrom from, int64_t& position);
void CloseDescriptor(int fd);

// A whole regular file, at most limit bytes (EFBIG beyond), described as read.
int ReadWholeFile(const std::string& path, size_t limit, std::string& content, FileInfo& info);

// The current directory; empty when the system cannot tell.
std::string CurrentDirectory();

} // namespace kwsplat::posix
