// Small string, path and process helpers shared by the whole server. Texts are byte strings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32.h"

// Removes every byte of code 32 or below from both ends. The one trimming helper of the server.
std::string Trim(std::string_view text);
// Turns a to z into A to Z and leaves every other byte alone. The one upper-casing helper of the server.
std::string UpperCase(std::string_view text);
// Equal after UpperCase.
bool SameText(std::string_view a, std::string_view b);

// The platform's integer syntax: an optional sign, then decimal digits, or hexadecimal digits after "$", "x",
// "X", "0x" or "0X". The whole text must convert and fit in 32 signed bits; no blanks are skipped.
std::optional<int32_t> ParseInteger(std::string_view text);

// Trimmed; empty stays empty; "\" appended unless it already ends in "/", ":" or "\".
std::string WithTrailingSeparator(std::string_view path);
// The trimmed text as an integer (ParseInteger), or the default when it does not convert.
int32_t TrimmedIntOrDefault(std::string_view text, int32_t defaultValue);
// The whole file as bytes; empty when it cannot be opened.
std::string ReadWholeFile(const std::string& fileName);
// The size of an open file; nullopt when it cannot be taken.
std::optional<uint64_t> FileSizeOf(HANDLE file);
// Up to size bytes of an open file from its current position; fewer where it ends sooner.
std::string ReadOpenFile(HANDLE file, uint64_t size);
int32_t MinOf(int32_t a, int32_t b);
// 0 to 15 for a hexadecimal digit in either case, 0 for anything else.
int32_t HexDigitValue(char c);
// The trimmed text read as hexadecimal, non-digits counting as 0; the low 32 bits of the value.
int32_t HexTextValue(std::string_view text);
// Every "#" followed by two characters becomes the character with that hexadecimal code.
std::string DecodeHashEscapes(std::string_view text);
bool IsDirectory(const std::string& path);
// True when the platform says it is of the NT family.
bool IsNtPlatform();
// The 0-based number of the line of `lines` that is the longest prefix of `key` (case-sensitive), or -1.
// Lines end at CR, LF or CR LF; empty lines never match.
int32_t FindLongestPrefix(std::string_view key, std::string_view lines);
// A modal message box without owner; blocks until it is closed.
void ShowMessageText(const std::string& text, const std::string& caption, UINT flags);
// The program file's full path.
std::string ProgramPath();
// The folder part of a path, with its final separator ("/" or "\"); empty without a separator.
std::string FolderOf(std::string_view path);
// The part of a path after its last separator ("/" or "\").
std::string FileNameOf(std::string_view path);
// True when a parameter after the program name is "-" or "/" followed by `name`, in any letter case.
bool HasCommandLineSwitch(std::string_view name);
