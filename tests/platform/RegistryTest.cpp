// The read-only registry view of the MIME database. The view is built once per process, so the suite points
// it at its own small file before the first open.
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

class Registry : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    static kwstest::TempFolder folder;
    setenv("KWSPLAT_MIME_TYPES",
           folder
               .WriteFile("mime.types", "# a comment line\ntext/html\t\thtml htm\ntext/plain txt\n"
                                        "application/x-sh sh\ntext/x-sh sh   # the later line wins for .sh\n"
                                        "TEXT/HTML shtml\nimage/png png #png2\napplication/empty\n"
                                        "application/x-back\\slash bad\n")
               .c_str(),
           1);
  }
  static void TearDownTestSuite() { unsetenv("KWSPLAT_MIME_TYPES"); }
};

std::vector<std::string> SubKeys(const std::string& path) {
  HKEY key = nullptr;
  std::vector<std::string> names;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS) << path;
  char name[256];
  for (DWORD i = 0, size = sizeof(name);
       key && RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++i, size = sizeof(name))
    names.emplace_back(name, size);
  DWORD shortSize = 5; // too short for the second name; the server then grows its buffer
  EXPECT_EQ(RegEnumKeyExA(key, 1, name, &shortSize, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  RegCloseKey(key);
  return names;
}

// The value's text, asked for the size first as the server does, or "<error N>".
std::string Value(const std::string& path, const char* name) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
  char data[256] = {};
  DWORD size = 0, type = REG_NONE;
  if (status == ERROR_SUCCESS && (status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size)) == 0)
    status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
  RegCloseKey(key);
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
      {".HTM", "content TYPE", "text/html"},
      {".sh", "Content Type", "text/x-sh"},
      {".shtml", "Content Type", "TEXT/HTML"},
      {".png2", "Content Type", "<error 2>"},
      {".bad", "Content Type", "<error 2>"},
      {".html", nullptr, "<error 2>"},
      {types + "Text/Html", "Extension", ".html"},
      {types + "text/x-sh", "Extension", ".sh"},
      {types + "application/empty", "Extension", "<error 2>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Value(c.Key, c.Name), c.Expected) << c.Key << " " << (c.Name ? c.Name : "(default)");
}

TEST_F(Registry, ManyThreadsReadAtOnce) {
  std::atomic<int> wrong{0};
  auto read = [&] {
    for (int i = 0; i < 200; ++i)
      wrong += Value(".sh", "Content Type") != "text/x-sh" ||
               Value(std::string(kTypesFolder) + "text/html", "Extension") != ".html";
  };
  std::thread readers[] = {std::thread(read), std::thread(read), std::thread(read), std::thread(read)};
  for (std::thread& reader : readers)
    reader.join();
  EXPECT_EQ(wrong, 0);
}
