// The read-only registry view of the MIME database. The view is built once per process, so the suite points
// it at its own small file before the first open; the built-in table is checked in a child process.
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr const char* kTypesFolder = "MIME\\Database\\Content Type\\";

const char* kMimeTypes = "# a comment line\n"
                         "text/html\t\thtml htm\n"
                         "text/plain txt\n"
                         "application/x-sh sh\n"
                         "text/x-sh sh   # the later line wins for .sh\n"
                         "TEXT/HTML shtml\n"
                         "image/png png #png2\n"
                         "application/empty\n"
                         "application/x-back\\slash bad\n";

class Registry : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Folder = new kwstest::TempFolder;
    setenv("KWSPLAT_MIME_TYPES", Folder->WriteFile("mime.types", kMimeTypes).c_str(), 1);
  }
  static void TearDownTestSuite() {
    unsetenv("KWSPLAT_MIME_TYPES");
    delete Folder;
    Folder = nullptr;
  }
  static kwstest::TempFolder* Folder;
};
kwstest::TempFolder* Registry::Folder = nullptr;

std::vector<std::string> SubKeys(const std::string& path) {
  HKEY key = nullptr;
  std::vector<std::string> names;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS) << path;
  if (key == nullptr)
    return names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD size = sizeof(name);
    LSTATUS status = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS)
      break;
    EXPECT_EQ(status, ERROR_SUCCESS);
    if (status != ERROR_SUCCESS)
      break;
    EXPECT_EQ(size, std::string(name).size());
    names.push_back(name);
  }
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  return names;
}

// The value's text, or "<missing>" / "<error N>".
std::string Value(const std::string& path, const char* name) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS)
    return "<error " + std::to_string(status) + ">";
  char data[256];
  DWORD size = sizeof(data);
  DWORD type = REG_NONE;
  status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
  RegCloseKey(key);
  if (status == ERROR_FILE_NOT_FOUND)
    return "<missing>";
  if (status != ERROR_SUCCESS)
    return "<error " + std::to_string(status) + ">";
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, std::string(data).size() + 1);
  return data;
}

} // namespace

TEST_F(Registry, RootListsEveryExtensionAndMimeInRegistryOrder) {
  EXPECT_EQ(SubKeys(""),
            (std::vector<std::string>{".htm", ".html", ".png", ".sh", ".shtml", ".txt", "MIME"}));
}

TEST_F(Registry, ExtensionTakesTheTypeOfItsLastLine) {
  struct Case {
    const char* Key;
    const char* Expected;
  };
  const Case cases[] = {
      {".html", "text/html"}, {".HTM", "text/html"},  {".sh", "text/x-sh"},  {".shtml", "TEXT/HTML"},
      {".png", "image/png"},  {".png2", "<error 2>"}, {".bad", "<error 2>"}, {".txt\\", "text/plain"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Value(c.Key, "Content Type"), c.Expected) << c.Key;
  EXPECT_EQ(Value(".html", "content TYPE"), "text/html");
  EXPECT_EQ(Value(".html", "Extension"), "<missing>");
  EXPECT_EQ(Value(".html", nullptr), "<missing>");
}

TEST_F(Registry, ContentTypesListEveryTypeWithItsFirstExtension) {
  EXPECT_EQ(SubKeys(kTypesFolder),
            (std::vector<std::string>{"application/empty", "application/x-sh", "image/png", "text/html",
                                      "text/plain", "text/x-sh"}));
  struct Case {
    const char* Type;
    const char* Expected;
  };
  const Case cases[] = {
      {"text/html", ".html"},
      {"Text/Html", ".html"},
      {"application/x-sh", ".sh"},
      {"text/x-sh", ".sh"},
      {"application/empty", "<missing>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Value(std::string(kTypesFolder) + c.Type, "Extension"), c.Expected) << c.Type;
  EXPECT_EQ(Value("mime\\DATABASE\\content type\\image/PNG\\", "extension"), ".png");
}

TEST_F(Registry, IsReadOnlyAndOnlyUnderClassesRoot) {
  HKEY key = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".html", 0, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".html", 0, KEY_WRITE, &key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".none", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "MIME\\\\Database", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ShortBuffersGetMoreDataAndTheSizeNeeded) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".html", 0, KEY_READ, &key), ERROR_SUCCESS);
  char data[9];
  DWORD size = sizeof(data);
  EXPECT_EQ(RegQueryValueExA(key, "Content Type", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Content Type", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD count = 0;
  DWORD longest = 0;
  EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(longest, 6u); // ".shtml"
  char name[5];
  DWORD nameSize = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(key, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  nameSize = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, ".htm");
  EXPECT_EQ(RegEnumKeyExA(key, 7, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

TEST_F(Registry, ManyThreadsReadAtOnce) {
  std::vector<std::thread> readers;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        if (Value(".sh", "Content Type") != "text/x-sh")
          ++wrong[t];
        if (Value(std::string(kTypesFolder) + "text/html", "Extension") != ".html")
          ++wrong[t];
      }
    });
  for (std::thread& reader : readers)
    reader.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(RegistryFallback, AMissingFileGivesTheBuiltInWebTypes) {
  // In a fresh child process, whose view is built anew.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("KWSPLAT_MIME_TYPES", "/nonexistent/mime.types", 1);
        bool ok = Value(".html", "Content Type") == "text/html" &&
                  Value(".woff2", "Content Type") == "font/woff2" &&
                  Value(".js", "Content Type") == "text/javascript" &&
                  Value(std::string(kTypesFolder) + "image/jpeg", "Extension") == ".jpg" &&
                  SubKeys(kTypesFolder).size() == 20;
        std::_Exit(ok ? 0 : 1); // no leak check or static destructors in the child
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(RegistryFallback, AnEmptyFileIsAnEmptyDatabase) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto* folder = new kwstest::TempFolder;
        setenv("KWSPLAT_MIME_TYPES", folder->WriteFile("empty.types", "").c_str(), 1);
        bool ok = SubKeys("") == std::vector<std::string>{"MIME"} && SubKeys(kTypesFolder).empty();
        delete folder;
        std::_Exit(ok ? 0 : 1); // no leak check or static destructors in the child
      },
      ::testing::ExitedWithCode(0), "");
}
