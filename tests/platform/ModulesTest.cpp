// Built-in modules and shared-object plug-ins.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Win32Calls.h"

namespace {

// Through void (*)(), the one function type every other casts to without a warning.
int CallAnswer(FARPROC proc) {
  return reinterpret_cast<int (*)()>(reinterpret_cast<void (*)()>(proc))();
}

std::string CopyModule(const kwstest::TempFolder& folder, const std::string& name) {
  std::filesystem::copy_file(KWS_TEST_MODULE, folder.PathOf(name));
  return folder.PathOf(name);
}

} // namespace

TEST(BuiltinModules, MatchByFilePartInAnyCaseWithOrWithoutDllAndStayLoaded) {
  HMODULE first = LoadLibraryA("wsock32.dll");
  ASSERT_NE(first, nullptr);
  for (const char* name :
       {"WSOCK32.DLL", "wsock32", "C:\\Windows\\System32\\WSock32.dll", "/usr/lib/wsock32"})
    EXPECT_EQ(LoadLibraryA(name), first) << name;
  EXPECT_EQ(GetModuleHandleA("WSock32"), first);
  EXPECT_EQ(kwstest::ErrorOf(GetProcAddress(first, "NoSuchProcedure")), DWORD(ERROR_PROC_NOT_FOUND));
  for (int i = 0; i < 6; ++i)
    EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(LoadLibraryA("wsock32"), first);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(LoadLibraryA("wsock33.dll"), nullptr);
}

TEST(LoadedModules, LoadByAWindowsStylePathInAnyCaseAndFindOwnExportsOnly) {
  kwstest::TempFolder folder;
  std::string path = CopyModule(folder, "Plugin.so");
  HMODULE module = LoadLibraryA(kwstest::WindowsStyle(folder.PathOf("PLUGIN.SO")).c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(CallAnswer(GetProcAddress(module, "kwsTestAnswer")), 42);
  for (const char* name : {"kwstestanswer", "strlen", "malloc", ""})
    EXPECT_EQ(kwstest::ErrorOf(GetProcAddress(module, name)), DWORD(ERROR_PROC_NOT_FOUND)) << name;
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), nullptr);
  char name[4096];
  EXPECT_EQ(GetModuleFileNameA(module, name, sizeof(name)), path.size());
  EXPECT_EQ(std::string(name), path);
  EXPECT_EQ(GetModuleHandleA("plugin.so"), module);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(LoadedModules, SameFileAgainIsTheSameCountedHandleAndAFreedHandleNeverComesBack) {
  kwstest::TempFolder folder;
  std::string path = CopyModule(folder, "Counted.so");
  HMODULE first = LoadLibraryA(path.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(LoadLibraryA(folder.PathOf("counted.SO").c_str()), first);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_NE(GetProcAddress(first, "kwsTestAnswer"), nullptr); // one load still holds it
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(kwstest::ErrorOf(FreeLibrary(first)), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetProcAddress(first, "kwsTestAnswer"), nullptr);
  EXPECT_EQ(GetModuleHandleA("counted.so"), nullptr);
  HMODULE again = LoadLibraryA(path.c_str());
  EXPECT_NE(again, nullptr);
  EXPECT_NE(again, first);
  FreeLibrary(again);
}

TEST(LoadedModules, ABareNameIsLookedForInTheCurrentDirectoryAndFailuresSayWhy) {
  kwstest::TempFolder folder;
  CopyModule(folder, "Bare.so");
  std::string locked = CopyModule(folder, "locked.so");
  std::filesystem::permissions(locked, std::filesystem::perms::none);
  const bool root = std::ifstream(locked).good(); // permissions do not stop root
  struct Case {
    std::string Name;
    DWORD Error;
  };
  const Case cases[] = {
      {"BARE.so", 0},
      {folder.PathOf("missing.so"), ERROR_MOD_NOT_FOUND},
      {folder.PathOf("nofolder/x.so"), ERROR_MOD_NOT_FOUND},
      {"kwsNoSuchLibrary.so", ERROR_MOD_NOT_FOUND},
      {KWS_TEST_MODULE_NEEDS_DEPENDENCY, ERROR_MOD_NOT_FOUND},
      {folder.WriteFile("text.so", "not a shared object"), ERROR_BAD_EXE_FORMAT},
      {folder.WriteFile("empty.so", ""), ERROR_BAD_EXE_FORMAT},
      {folder.MakeFolder("folder.so"), ERROR_BAD_EXE_FORMAT},
      {root ? folder.PathOf("missing.so") : locked,
       static_cast<DWORD>(root ? ERROR_MOD_NOT_FOUND : ERROR_ACCESS_DENIED)},
  };
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  for (const Case& c : cases) {
    HMODULE module = LoadLibraryA(c.Name.c_str());
    EXPECT_EQ(kwstest::ErrorOf(module != nullptr), c.Error) << c.Name;
    FreeLibrary(module);
  }
  std::filesystem::current_path(previous);
}

TEST(LoadedModules, UnknownHandlesAreRefusedHarmlessly) {
  const auto unknown = reinterpret_cast<HMODULE>(0x12345);
  for (HMODULE module : {HMODULE(nullptr), unknown})
    EXPECT_EQ(kwstest::ErrorOf(FreeLibrary(module)), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetProcAddress(unknown, "kwsTestAnswer"), nullptr);
  char name[16];
  EXPECT_EQ(kwstest::ErrorOf(GetModuleFileNameA(unknown, name, sizeof(name))), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST(ProgramModule, FileNameIsTheRunningProgramAndAShortBufferIsCut) {
  std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
  char name[4096];
  EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), name, sizeof(name)), program.size());
  EXPECT_EQ(std::string(name), program);
  EXPECT_EQ(GetModuleFileNameA(nullptr, name, 5), 5u);
  EXPECT_EQ(std::string(name), program.substr(0, 4));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(LoadedModules, ManyThreadsLoadAndFreeTheSameFile) {
  kwstest::TempFolder folder;
  std::string path = CopyModule(folder, "Shared.so");
  HMODULE held = LoadLibraryA(path.c_str());
  ASSERT_NE(held, nullptr);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        HMODULE module = LoadLibraryA(path.c_str());
        FARPROC answer = GetProcAddress(module, "kwsTestAnswer");
        wrong += module != held || answer == nullptr || CallAnswer(answer) != 42 || !FreeLibrary(module);
      }
    });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(FreeLibrary(held));
  EXPECT_FALSE(FreeLibrary(held));
}
