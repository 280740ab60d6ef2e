// Built-in modules and shared-object plug-ins.
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Win32Calls.h"

using kwstest::ErrorOf;

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
  EXPECT_TRUE(LoadLibraryA("WSOCK32") == first &&
              LoadLibraryA("C:\\Windows\\System32\\WSock32.dll") == first);
  EXPECT_EQ(GetModuleHandleA("WSock32"), first);
  EXPECT_EQ(ErrorOf(GetProcAddress(first, "NoSuchProcedure")), DWORD(ERROR_PROC_NOT_FOUND));
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(LoadLibraryA("wsock32"), first);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(LoadLibraryA("wsock33.dll"), nullptr);
}

TEST(LoadedModules, LoadByAWindowsStylePathInAnyCaseAndFindOwnExportsOnly) {
  kwstest::TempFolder folder;
  CopyModule(folder, "Plugin.so");
  HMODULE module = LoadLibraryA(kwstest::WindowsStyle(folder.PathOf("PLUGIN.SO")).c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(CallAnswer(GetProcAddress(module, "kwsTestAnswer")), 42);
  for (const char* name : {"kwstestanswer", "strlen", ""})
    EXPECT_EQ(ErrorOf(GetProcAddress(module, name)), DWORD(ERROR_PROC_NOT_FOUND)) << name;
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
  EXPECT_EQ(ErrorOf(FreeLibrary(first)), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetProcAddress(first, "kwsTestAnswer"), nullptr);
  HMODULE again = LoadLibraryA(path.c_str());
  EXPECT_TRUE(again != nullptr && again != first);
  FreeLibrary(again);
  EXPECT_EQ(ErrorOf(FreeLibrary(reinterpret_cast<HMODULE>(0x12345))), DWORD(ERROR_INVALID_HANDLE));
}

TEST(LoadedModules, ABareNameIsLookedForInTheCurrentDirectoryAndFailuresSayWhy) {
  kwstest::TempFolder folder;
  CopyModule(folder, "Bare.so");
  const std::pair<std::string, DWORD> cases[] = {
      {"BARE.so", 0},
      {folder.PathOf("nofolder/x.so"), ERROR_MOD_NOT_FOUND},
      {KWS_TEST_MODULE_NEEDS_DEPENDENCY, ERROR_MOD_NOT_FOUND},
      {folder.WriteFile("text.so", "not a shared object"), ERROR_BAD_EXE_FORMAT},
  };
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  for (const auto& [name, error] : cases) {
    HMODULE module = LoadLibraryA(name.c_str());
    EXPECT_EQ(ErrorOf(module != nullptr), error) << name;
    FreeLibrary(module);
  }
  std::filesystem::current_path(previous);
}

TEST(ProgramModule, FileNameIsTheRunningProgram) {
  std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
  char name[4096];
  EXPECT_EQ(std::string(name, GetModuleFileNameA(GetModuleHandleA(nullptr), name, sizeof(name))), program);
}

TEST(LoadedModules, ManyThreadsLoadAndFreeTheSameFile) {
  kwstest::TempFolder folder;
  std::string path = CopyModule(folder, "Shared.so");
  HMODULE held = LoadLibraryA(path.c_str());
  ASSERT_NE(held, nullptr);
  std::atomic<int> wrong{0};
  auto load = [&] {
    for (int i = 0; i < 50; ++i) {
      HMODULE module = LoadLibraryA(path.c_str());
      FARPROC answer = GetProcAddress(module, "kwsTestAnswer");
      wrong += module != held || answer == nullptr || CallAnswer(answer) != 42 || !FreeLibrary(module);
    }
  };
  std::thread threads[] = {std::thread(load), std::thread(load), std::thread(load), std::thread(load)};
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(FreeLibrary(held));
  EXPECT_FALSE(FreeLibrary(held));
}
