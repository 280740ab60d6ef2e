#include "settings/CoreAPITools.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/rtl/sysutils.h"

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

char UpperChar(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// Closes a file handle on every way out.
class tFileCloser {
public:
  explicit tFileCloser(HANDLE handle) : Handle(handle) {}
  ~tFileCloser() { CloseHandle(Handle); }
  tFileCloser(const tFileCloser&) = delete;
  tFileCloser& operator=(const tFileCloser&) = delete;

private:
  HANDLE Handle;
};

} // namespace

std::string Trim(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) {
    ++first;
  }
  while (last > first && IsBlank(text[last - 1])) {
    --last;
  }
  return std::string(text.substr(first, last - first));
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), UpperChar);
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return UpperChar(x) == UpperChar(y); });
}

std::optional<int32_t> ParseInteger(std::string_view text) {
  size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  int base = 10;
  std::string_view rest = text.substr(pos);
  if (rest.starts_with("0x") || rest.starts_with("0X")) {
    base = 16;
    pos += 2;
  } else if (rest.starts_with('$') || rest.starts_with('x') || rest.starts_with('X')) {
    base = 16;
    pos += 1;
  }
  if (pos >= text.size()) {
    return std::nullopt;
  }
  // One past the largest magnitude, so INT32_MIN still fits while anything larger stops the loop early.
  constexpr int64_t kLimit = int64_t{1} << 31;
  int64_t magnitude = 0;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && UpperChar(c) >= 'A' && UpperChar(c) <= 'F') {
      digit = UpperChar(c) - 'A' + 10;
    } else {
      return std::nullopt;
    }
    magnitude = magnitude * base + digit;
    if (magnitude > kLimit) {
      return std::nullopt;
    }
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(value);
}

std::string WithTrailingSeparator(std::string_view path) {
  std::string result = Trim(path);
  if (result.empty()) {
    return result;
  }
  char last = result.back();
  if (last == '/' || last == ':' || last == '\\') {
    return result;
  }
  return result + '\\';
}

int32_t TrimmedIntOrDefault(std::string_view text, int32_t defaultValue) {
  return ParseInteger(Trim(text)).value_or(defaultValue);
}

std::optional<uint64_t> FileSizeOf(HANDLE file) {
  DWORD high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    return std::nullopt;
  }
  return (uint64_t{high} << 32) | low;
}

std::string ReadOpenFile(HANDLE file, uint64_t size) {
  std::string content(static_cast<size_t>(size), '\0');
  size_t done = 0;
  while (done < content.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file, content.data() + done, chunk, &got, nullptr) || got == 0) {
      break;
    }
    done += got;
  }
  // A file that shrank while being read gives what it still had, not trailing zero bytes.
  content.resize(done);
  return content;
}

std::string ReadWholeFile(const std::string& fileName) {
  HANDLE file = CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return {};
  }
  tFileCloser closer(file);
  return ReadOpenFile(file, FileSizeOf(file).value_or(0));
}

int32_t MinOf(int32_t a, int32_t b) {
  return b < a ? b : a;
}

int32_t HexDigitValue(char c) {
  c = UpperChar(c);
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return 0;
}

int32_t HexTextValue(std::string_view text) {
  // Digits beyond the eighth from the right fall outside 32 bits and so add nothing.
  std::string digits = Trim(text);
  uint32_t value = 0;
  size_t count = digits.size();
  for (size_t i = 0; i < count; ++i) {
    size_t shift = 4 * (count - 1 - i);
    if (shift < 32) {
      value |= static_cast<uint32_t>(HexDigitValue(digits[i])) << shift;
    }
  }
  return static_cast<int32_t>(value);
}

std::string DecodeHashEscapes(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '#') {
      result += text[i];
      ++i;
      continue;
    }
    if (text.size() - i > 2) {
      result += static_cast<char>(HexTextValue(text.substr(i + 1, 2)) & 0xFF);
      i += 3;
      continue;
    }
    ++i;
  }
  return result;
}

bool IsDirectory(const std::string& path) {
  std::string searched = path;
  if (!searched.empty() && IsSeparator(searched.back())) {
    searched.pop_back();
  }
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA(searched.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return false;
  }
  FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsNtPlatform() {
  return (GetVersion() & 0x80000000u) == 0;
}

int32_t FindLongestPrefix(std::string_view key, std::string_view lines) {
  if (key.empty()) {
    return -1;
  }
  // Among matching lines the longest wins; that is the last match in any sorted order of the lines.
  int32_t best = -1;
  size_t bestLength = 0;
  int32_t index = 0;
  size_t pos = 0;
  while (pos < lines.size()) {
    size_t end = lines.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      end = lines.size();
    }
    std::string_view line = lines.substr(pos, end - pos);
    if (!line.empty() && line.size() > bestLength && key.starts_with(line)) {
      best = index;
      bestLength = line.size();
    }
    pos = end;
    if (pos < lines.size() && lines[pos] == '\r') {
      ++pos;
      if (pos < lines.size() && lines[pos] == '\n') {
        ++pos;
      }
    } else if (pos < lines.size()) {
      ++pos;
    }
    ++index;
  }
  return best;
}

void ShowMessageText(const std::string& text, const std::string& caption, UINT flags) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
}

std::string ProgramPath() {
  std::string path(1024, '\0');
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string FolderOf(std::string_view path) {
  size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? std::string() : std::string(path.substr(0, separator + 1));
}

std::string FileNameOf(std::string_view path) {
  size_t separator = path.find_last_of("/\\");
  return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

bool HasCommandLineSwitch(std::string_view name) {
  int count = ParamCount();
  for (int i = 1; i <= count; ++i) {
    std::string param = ParamStr(i);
    if (!param.empty() && (param[0] == '-' || param[0] == '/') &&
        SameText(std::string_view(param).substr(1), name)) {
      return true;
    }
  }
  return false;
}
