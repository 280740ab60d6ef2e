// Version, command line, message boxes and process end.
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <cstring>
#include <string>
#include <vector>

#include "platform/src/CommandLine.h"
#include "platform/src/posix/ProcessInfo.h"
#include "platform/win32.h"

extern "C" {
int __argc = 0;
char** __argv = nullptr;
}

namespace {

// The layer reports a non-NT platform (top bit set) of version 4.10, so windowed mode is the default.
constexpr DWORD kVersion = 0xC0000A04;
constexpr DWORD kMajorVersion = 4;
constexpr DWORD kMinorVersion = 10;

// Message-box button sets (uType & 0xF) and the id of each set's first button.
constexpr UINT kButtonMask = 0xF;
constexpr int kFirstButton[] = {
    IDOK, // MB_OK
    IDOK, // MB_OKCANCEL
    3,    // MB_ABORTRETRYIGNORE: IDABORT
    6,    // MB_YESNOCANCEL: IDYES
    6,    // MB_YESNO: IDYES
    4,    // MB_RETRYCANCEL: IDRETRY
    2,    // MB_CANCELTRYCONTINUE: IDCANCEL
};

struct Arguments {
  std::vector<std::string> Texts;
  std::vector<char*> Pointers; // into Texts, ending with nullptr
};
// Never freed: __argv must outlive every static destructor.
__attribute__((used)) Arguments* gArguments = nullptr;

// Runs before main and before other constructors: ParamStr may be asked for from anywhere.
__attribute__((constructor(101))) void RecordArguments(int argc, char** argv, char**) {
  auto* arguments = new Arguments{kwsplat::posix::CommandLineArguments(), {}};
  // Without /proc the C library's copy serves.
  if (arguments->Texts.empty() && argv != nullptr)
    for (int i = 0; i < argc && argv[i] != nullptr; ++i)
      arguments->Texts.push_back(argv[i]);
  for (std::string& text : arguments->Texts)
    arguments->Pointers.push_back(text.data());
  arguments->Pointers.push_back(nullptr);
  gArguments = arguments;
  __argc = static_cast<int>(arguments->Texts.size());
  __argv = arguments->Pointers.data();
}

// The quoting Windows' argument splitter undoes: quotes around blanks, backslashes doubled before a quote.
std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
    return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      quoted.append(backslashes * 2 + 1, '\\');
    else
      quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

} // namespace

std::string kwsplat::JoinCommandLine(const std::vector<std::string>& arguments) {
  std::string text;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0)
      text += ' ';
    text += QuoteArgument(arguments[i]);
  }
  return text;
}

extern "C" DWORD WINAPI GetVersion(void) {
  return kVersion;
}

extern "C" BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (lpVersionInformation == nullptr || lpVersionInformation->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  lpVersionInformation->dwMajorVersion = kMajorVersion;
  lpVersionInformation->dwMinorVersion = kMinorVersion;
  // Windows of this family keeps the version in the build number's high word.
  lpVersionInformation->dwBuildNumber = (kMajorVersion << 24) | (kMinorVersion << 16);
  lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
  std::string release = kwsplat::posix::KernelRelease();
  size_t length = std::min(release.size(), sizeof(lpVersionInformation->szCSDVersion) - 1);
  std::memcpy(lpVersionInformation->szCSDVersion, release.data(), length);
  lpVersionInformation->szCSDVersion[length] = '\0';
  return TRUE;
}

extern "C" LPSTR WINAPI GetCommandLineA(void) {
  static std::string* commandLine =
      new std::string(kwsplat::JoinCommandLine(std::vector<std::string>(__argv, __argv + __argc)));
  return commandLine->data();
}

extern "C" int WINAPI MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  // Nobody is there to ask: the text goes to standard error (the journal under systemd).
  std::string line = lpCaption != nullptr ? lpCaption : "Error";
  line += ": ";
  line += lpText != nullptr ? lpText : "";
  line += '\n';
  kwsplat::posix::WriteStandardError(line);
  UINT buttons = uType & kButtonMask;
  return buttons < std::size(kFirstButton) ? kFirstButton[buttons] : IDOK;
}

extern "C" void WINAPI ExitProcess(UINT uExitCode) {
  std::exit(static_cast<int>(uExitCode));
}
