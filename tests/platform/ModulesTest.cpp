// Built-in modules and shared-object plug-ins.
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/TempFolder.h"

namespace {

using AnswerProc = int (*)();

// Through void (*)(), the one function type every other casts to without a warning.
AnswerProc AsAnswer(FARPROC proc) {
  return reinterpret_cast<AnswerProc>(reinterpret_cast<void (*)()>(proc));
}

std::string WindowsStyle(const std::string& native) {
  std::string text = "C:" + native;
  for (char& c : text)
    if (c == '/')
      c = '\\';
  return text;
}

// A copy of the test module under a mixed-case name.
std::string CopyModule(const kwstest::TempFolder& folder, const std::string& name) {
  std::string path = folder.PathOf(name);
  std::filesystem::copy_file(KWS_TEST_MODULE, path);
  return path;
}

bool IsRoot() {
  kwstest::TempFolder folder;
  std::string path = folder.WriteFile("probe", "x");
  std::filesystem::permissions(path, std::filesystem::perms::none);
  return std::ifstream(path).good();
}

} // namespace

TEST(BuiltinModules, MatchByFilePartInAnyCaseWithOrWithoutDll) {
  HMODULE first = LoadLibraryA("wsock32.dll");
  ASSERT_NE(first, nullptr);
  for (const char* name :
       {"WSOCK32.DLL", "wsock32", "C:\\Windows\\System32\\WSock32.dll", "/usr/lib/wsock32"})
    EXPECT_EQ(LoadLibraryA(name), first) << name;
  EXPECT_EQ(GetModuleHandleA("WSock32"), first);
  EXPECT_EQ(GetProcAddress(first, "NoSuchProcedure"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  for (int i = 0; i < 6; ++i)
    EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(LoadLibraryA("wsock32"), first); // fixed handle, never unloaded
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(LoadLibraryA("wsock33.dll"), nullptr);
}

TEST(LoadedModules, LoadByAWindowsStylePathInAnyCaseAndFindOwnExportsOnly) {
  kwstest::TempFolder folder;
  std::string path = CopyModule(folder, "Plugin.so");
  HMODULE module = LoadLibraryA(WindowsStyle(folder.PathOf("PLUGIN.SO")).c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  auto answer = AsAnswer(GetProcAddress(module, "kwsTestAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  for (const char* name : {"kwstestanswer", "strlen", "malloc", ""}) {
    EXPECT_EQ(GetProcAddress(module, name), nullptr) << name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << name;
  }
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), nullptr);

  char name[4096];
  EXPECT_EQ(GetModuleFileNameA(module, name, sizeof(name)), path.size());
  EXPECT_EQ(std::string(name), path);
  EXPECT_EQ(GetModuleHandleA("plugin.so"), module);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(LoadedModules, SameFileAgainIsTheSameCountedHandle) {
  kwstest::TempFolder folder;
  std::string path = CopyModule(folder, "Counted.so");
  HMODULE first = LoadLibraryA(path.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(LoadLibraryA(folder.PathOf("counted.SO").c_str()), first);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_NE(GetProcAddress(first, "kwsTestAnswer"), nullptr); // one load still holds it
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetProcAddress(first, "kwsTestAnswer"), nullptr);
  EXPECT_EQ(GetModuleHandleA("counted.so"), nullptr);

  HMODULE again = LoadLibraryA(path.c_str());
  EXPECT_NE(again, nullptr);
  EXPECT_NE(again, first); // a freed handle never comes back for a newer load
  FreeLibrary(again);
}

TEST(LoadedModules, BareNameIsLookedForInTheCurrentDirectory) {
  kwstest::TempFolder folder;
  CopyModule(folder, "Bare.so");
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  HMODULE module = LoadLibraryA("BARE.so");
  std::filesystem::current_path(previous);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(GetProcAddress(module, "kwsTestAnswer"), nullptr);
  FreeLibrary(module);
}

TEST(LoadedModules, FailuresSayWhy) {
  kwstest::TempFolder folder;
  struct Case {
    std::string Name;
    DWORD Error;
  };
  const Case cases[] = {
      {folder.PathOf("missing.so"), ERROR_MOD_NOT_FOUND},
      {folder.PathOf("nofolder/x.so"), ERROR_MOD_NOT_FOUND},
      {"kwsNoSuchLibrary.so", ERROR_MOD_NOT_FOUND},
      {KWS_TEST_MODULE_NEEDS_DEPENDENCY, ERROR_MOD_NOT_FOUND},
      {folder.WriteFile("text.so", "not a shared object"), ERROR_BAD_EXE_FORMAT},
      {folder.WriteFile("empty.so", ""), ERROR_BAD_EXE_FORMAT},
      {folder.MakeFolder("folder.so"), ERROR_BAD_EXE_FORMAT},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(c.Name.c_str()), nullptr) << c.Name;
    EXPECT_EQ(GetLastError(), c.Error) << c.Name;
  }
}

TEST(LoadedModules, UnreadableFileIsAccessDenied) {
  if (IsRoot())
    GTEST_SKIP() << "permissions do not stop root";
  kwstest::TempFolder folder;
  std::string path = CopyModule(folder, "locked.so");
  std::filesystem::permissions(path, std::filesystem::perms::none);
  EXPECT_EQ(LoadLibraryA(path.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(LoadedModules, UnknownHandlesAreRefusedHarmlessly) {
  EXPECT_FALSE(FreeLibrary(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(0x12345)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(0x12345), "kwsTestAnswer"), nullptr);
  char name[16];
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(0x12345), name, sizeof(name)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(ProgramModule, FileNameIsTheRunningProgramAndAShortBufferIsCut) {
  std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
  char name[4096];
  EXPECT_EQ(GetModuleFileNameA(nullptr, name, sizeof(name)), program.size());
  EXPECT_EQ(std::string(name), program);
  EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), name, sizeof(name)), program.size());
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, name, 5), 5u);
  EXPECT_EQ(std::string(name), program.substr(0, 4));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(LoadedModules, ManyThreadsLoadAndFreeTheSameFile) {
  kwstest::TempFolder folder;
  std::string path = CopyModule(folder, "Shared.so");
  HMODULE held = LoadLibraryA(path.c_str());
  ASSERT_NE(held, nullptr);
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        HMODULE module = LoadLibraryA(path.c_str());
        auto answer = AsAnswer(GetProcAddress(module, "kwsTestAnswer"));
        if (module != held || answer == nullptr || answer() != 42 || !FreeLibrary(module))
          ++wrong[t];
      }
    });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
  EXPECT_TRUE(FreeLibrary(held));
  EXPECT_FALSE(FreeLibrary(held));
}
