#include "platform/src/posix/FileSystem.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kwsplat::posix {

namespace {

int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

void Describe(const struct stat& st, FileInfo& info) {
  if (S_ISREG(st.st_mode))
    info.Kind = FileKind::Regular;
  else if (S_ISDIR(st.st_mode))
    info.Kind = FileKind::Directory;
  else
    info.Kind = FileKind::Other;
  info.Size = static_cast<uint64_t>(st.st_size);
  info.ModifiedNs = Nanoseconds(st.st_mtim);
  info.AccessedNs = Nanoseconds(st.st_atim);
  info.ChangedNs = Nanoseconds(st.st_ctim);
  info.Device = st.st_dev;
  info.Inode = st.st_ino;
  info.Writable = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

} // namespace

int StatPath(const std::string& path, FileInfo& info) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return errno;
  Describe(st, info);
  return 0;
}

int ListDirectory(const std::string& path, std::vector<std::string>& names) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr)
    return errno;
  names.clear();
  int error = 0;
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    std::string name = entry->d_name;
    if (name != "." && name != "..")
      names.push_back(std::move(name));
  }
  closedir(dir);
  return error;
}

int OpenForReading(const std::string& path, int& fd, FileInfo& info) {
  int opened;
  do {
    opened = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (opened < 0 && errno == EINTR);
  if (opened < 0)
    return errno;
  int error = StatDescriptor(opened, info);
  if (error != 0) {
    close(opened);
    return error;
  }
  fd = opened;
  return 0;
}

int StatDescriptor(int fd, FileInfo& info) {
  struct stat st;
  if (fstat(fd, &st) != 0)
    return errno;
  Describe(st, info);
  return 0;
}

int ReadDescriptor(int fd, void* buffer, size_t size, size_t& done) {
  done = 0;
  char* bytes = static_cast<char*>(buffer);
  while (done < size) {
    size_t chunk = size - done;
    if (chunk > SSIZE_MAX)
      chunk = SSIZE_MAX;
    ssize_t got = read(fd, bytes + done, chunk);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    if (got == 0)
      break;
    done += static_cast<size_t>(got);
  }
  return 0;
}

int SeekDescriptor(int fd, int64_t offset, SeekFrom from, int64_t& position) {
  int whence = from == SeekFrom::Begin ? SEEK_SET : from == SeekFrom::Current ? SEEK_CUR : SEEK_END;
  off_t result = lseek(fd, static_cast<off_t>(offset), whence);
  if (result < 0)
    return errno;
  position = result;
  return 0;
}

void CloseDescriptor(int fd) {
  close(fd);
}

int ReadWholeFile(const std::string& path, size_t limit, std::string& content, FileInfo& info) {
  int fd = -1;
  int error = OpenForReading(path, fd, info);
  if (error != 0)
    return error;
  if (info.Kind != FileKind::Regular) {
    close(fd);
    return info.Kind == FileKind::Directory ? EISDIR : EACCES;
  }
  if (info.Size > limit) {
    close(fd);
    return EFBIG;
  }
  content.assign(static_cast<size_t>(info.Size), '\0');
  size_t done = 0;
  error = ReadDescriptor(fd, content.data(), content.size(), done);
  close(fd);
  content.resize(done); // a file that shrank meanwhile
  return error;
}

std::string CurrentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  if (getcwd(buffer.data(), buffer.size()) == nullptr)
    return std::string();
  buffer.resize(buffer.find('\0'));
  return buffer;
}

} // namespace kwsplat::posix
