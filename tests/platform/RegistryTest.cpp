// The read-only registry view of the MIME database. The view is built once per process, so the suite points
// it at its own small file before the first open; the other files are read in child processes.
#include <atomic>
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
    static kwstest::TempFolder folder;
    setenv("KWSPLAT_MIME_TYPES", folder.WriteFile("mime.types", kMimeTypes).c_str(), 1);
  }
  static void TearDownTestSuite() { unsetenv("KWSPLAT_MIME_TYPES"); }
};

std::vector<std::string> SubKeys(const std::string& path) {
  HKEY key = nullptr;
  std::vector<std::string> names;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS) << path;
  char name[256];
  DWORD size = sizeof(name);
  for (DWORD i = 0;
       key && RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++i, size = sizeof(name)) {
    EXPECT_EQ(size, std::string(name).size());
    names.push_back(name);
  }
  RegCloseKey(key);
  return names;
}

// The value's text, or "<error N>".
std::string Value(const std::string& path, const char* name) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
  char data[256] = {};
  DWORD size = sizeof(data);
  DWORD type = REG_NONE;
  if (status == ERROR_SUCCESS) {
    status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS)
    return "<error " + std::to_string(status) + ">";
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, std::string(data).size() + 1);
  return data;
}

} // namespace

TEST_F(Registry, ListsExtensionsAndTypesInRegistryOrder) {
  EXPECT_EQ(SubKeys(""),
            (std::vector<std::string>{".htm", ".html", ".png", ".sh", ".shtml", ".txt", "MIME"}));
  EXPECT_EQ(SubKeys(kTypesFolder),
            (std::vector<std::string>{"application/empty", "application/x-sh", "image/png", "text/html",
                                      "text/plain", "text/x-sh"}));
}

TEST_F(Registry, AnExtensionHasTheTypeOfItsLastLineAndATypeItsFirstExtension) {
  const std::string types = kTypesFolder;
  struct Case {
    std::string Key;
    const char* Name;
    const char* Expected;
  };
  const Case cases[] = {
      {".html", "Content Type", "text/html"},
      {".HTM", "content TYPE", "text/html"},
      {".sh", "Content Type", "text/x-sh"},
      {".shtml", "Content Type", "TEXT/HTML"},
      {".png2", "Content Type", "<error 2>"},
      {".bad", "Content Type", "<error 2>"},
      {".txt\\", "Content Type", "text/plain"},
      {".html", "Extension", "<error 2>"},
      {".html", nullptr, "<error 2>"},
      {types + "Text/Html", "Extension", ".html"},
      {types + "application/x-sh", "Extension", ".sh"},
      {types + "text/x-sh", "Extension", ".sh"},
      {types + "application/empty", "Extension", "<error 2>"},
      {"mime\\DATABASE\\content type\\image/PNG\\", "extension", ".png"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Value(c.Key, c.Name), c.Expected) << c.Key << " " << (c.Name ? c.Name : "(default)");
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
  char name[5]; // too short for the second name, ".html"
  size = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(key, 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  RegCloseKey(key);
}

TEST_F(Registry, ManyThreadsReadAtOnce) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      for (int i = 0; i < 200; ++i)
        wrong += Value(".sh", "Content Type") != "text/x-sh" ||
                 Value(std::string(kTypesFolder) + "text/html", "Extension") != ".html";
    });
  for (std::thread& reader : readers)
    reader.join();
  EXPECT_EQ(wrong, 0);
}

// In a fresh child process each, whose view is built anew.
TEST(RegistryFallback, AMissingFileGivesTheBuiltInWebTypesAndAnEmptyOneNone) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("KWSPLAT_MIME_TYPES", "/nonexistent/mime.types", 1);
        bool ok = Value(".html", "Content Type") == "text/html" &&
                  Value(".woff2", "Content Type") == "font/woff2" &&
                  Value(std::string(kTypesFolder) + "image/jpeg", "Extension") == ".jpg";
        std::_Exit(ok ? 0 : 1); // no leak check or static destructors in the child
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        auto* folder = new kwstest::TempFolder;
        setenv("KWSPLAT_MIME_TYPES", folder->WriteFile("empty.types", "").c_str(), 1);
        bool ok = SubKeys("") == std::vector<std::string>{"MIME"} && SubKeys(kTypesFolder).empty();
        delete folder;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
