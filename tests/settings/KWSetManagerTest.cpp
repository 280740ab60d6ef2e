#include "settings/KWSetManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "settings/CoreAPITools.h"
#include "tests/support/TempFolder.h"

using kwstest::TempFolder;

namespace {

// A record in one line: name, port, time-out, enabled, count, then each used directory in brackets.
std::string Describe(const tListenerData& r) {
  std::string text = r.ListenerName + " " + r.PortText + " " + std::to_string(r.ConnectTimeout) +
                     (r.Enabled ? " on " : " off ") + std::to_string(r.VDirCount);
  for (int32_t i = 0; i < r.VDirCount; ++i) {
    const tVDirData& v = r.VDirs[static_cast<size_t>(i)];
    text += " [" + v.VDirName + " " + v.BasePath + " " + v.VirtualPath + " " + std::to_string(v.Kind) + " " +
            v.DllPath + " " + v.OtherText + "]";
  }
  return text;
}

// A settings file in a folder of its own, read by a fresh manager.
class SettingsTest : public testing::Test {
protected:
  void Load(const std::string& text) {
    Manager = std::make_unique<tKWSetManager>();
    Manager->LoadFromFile(Folder.WriteFile("KestruneWebServer.Ini", text));
  }
  const tListenerData& Listener(int32_t index) {
    const tListenerData* record = Manager->GetListener(index);
    EXPECT_NE(record, nullptr) << "listener " << index;
    return *record;
  }

  TempFolder Folder;
  std::unique_ptr<tKWSetManager> Manager;
};

TEST_F(SettingsTest, AMissingFileGivesOneListenerL1OnPort80ServingWebBaseAtRoot) {
  Manager = std::make_unique<tKWSetManager>();
  Manager->LoadFromFile(Folder.PathOf("absent.ini"));
  ASSERT_EQ(Manager->ListenerCount(), 1);
  EXPECT_EQ(Describe(Listener(0)), "L1 80 10000 on 1 [VD1 C:\\WebBase\\ / 0  ]");
  EXPECT_EQ(Manager->GetListener(1), nullptr);
  EXPECT_EQ(Manager->GetListener(-1), nullptr);
}

TEST_F(SettingsTest, ReadsEveryFieldOfEveryListenerAndDirectory) {
  Load("[LISTENERS]\r\nCOUNT=2\r\nLISTENER1=Web\r\nLISTENER2=Api\r\n"
       "[Web.GENERAL]\r\nPORT=8080\r\nCONNECTTIMEOUT=0x1F4\r\n"
       "[Web.VDIRS]\r\nCOUNT=2\r\nVDIR1=Root\r\nVDIR2=Plug\r\n"
       "[Web.Root.GENERAL]\r\nPATH=/srv/www\r\nVPATH=/\r\n"
       "[Web.Plug.GENERAL]\r\nPATH=/srv/plug\r\nVPATH=/PLUG/\r\nDLL=plug.so\r\n"
       "OTHER=KWSPPath=/opt#0D#0ADefExt=so\r\nTYPE=kwsp\r\n"
       "[Api.GENERAL]\r\nPORT=9090\r\n");
  ASSERT_EQ(Manager->ListenerCount(), 2);
  EXPECT_EQ(
      Describe(Listener(0)),
      "Web 8080 500 on 2 [Root /srv/www / 0  ] [Plug /srv/plug /PLUG/ 1 plug.so KWSPPath=/opt\r\nDefExt=so]");
  EXPECT_EQ(Listener(0).VDirs[2].VDirName, ""); // unused entries stay empty
  EXPECT_EQ(Describe(Listener(1)), "Api 9090 10000 on 1 [VD1 C:\\WebBase\\ / 0  ]");
}

TEST_F(SettingsTest, ListenerCountOutside1To256GivesOneListenerNamedByNumber) {
  struct Case {
    std::string count;
    int32_t expected;
  } cases[] = {{"0", 1}, {"257", 1}, {"-1", 1}, {"abc", 1}, {"", 1}, {"256", 256}, {"3", 3}, {"$10", 16}};
  for (const auto& c : cases) {
    Load("[LISTENERS]\nCOUNT=" + c.count + "\n");
    ASSERT_EQ(Manager->ListenerCount(), c.expected) << "COUNT=" << c.count;
    const tListenerData& last = Listener(c.expected - 1);
    EXPECT_EQ(last.ListenerName, "L" + std::to_string(c.expected));
    EXPECT_TRUE(last.Enabled);
  }
}

TEST_F(SettingsTest, DirectoryCountOutside1To1024GivesOneDirectory) {
  struct Case {
    std::string count;
    int32_t expected;
  } cases[] = {{"1025", 1}, {"0", 1}, {"x", 1}, {"1024", 1024}};
  for (const auto& c : cases) {
    Load("[L1.VDIRS]\nCOUNT=" + c.count + "\n[L1.VD1024.GENERAL]\nVPATH=/last/\n");
    const tListenerData& record = Listener(0);
    ASSERT_EQ(record.VDirCount, c.expected) << "COUNT=" << c.count;
    const tVDirData& last = record.VDirs[static_cast<size_t>(c.expected - 1)];
    EXPECT_EQ(last.VDirName, "VD" + std::to_string(c.expected));
    EXPECT_EQ(last.VirtualPath, c.expected == 1024 ? "/last/" : "/");
  }
}

TEST(VDirKindFromText, MapsTheKnownNamesAndEverythingElseToUnsupported) {
  struct Case {
    std::string text;
    tVDirKind expected;
  } cases[] = {{"", vkStatic},         {" \t", vkStatic},        {"STD", vkStatic},
               {"\tKwsp\r", vkKWSP},   {"isapi", vkISAPI},       {"AKWSP", vkAKWSP},
               {"CGI", vkUnsupported}, {"kwsp2", vkUnsupported}, {"S T D", vkUnsupported},
               {"\xE9", vkUnsupported}};
  for (const auto& c : cases)
    EXPECT_EQ(VDirKindFromText(c.text), c.expected) << "'" << c.text << "'";
}

TEST(ConnectTimeoutFromText, ReadsZeroXAsHexAndFallsBackTo10000) {
  struct Case {
    std::string text;
    int32_t expected;
  } cases[] = {{"0x1F4", 500}, {"0X1f4", 500},  {"$1F4", 500},    {"5s", 10000},
               {"", 10000},    {"0x", 10000},   {"750", 750},     {"-5", -5},
               {"x10", 16},    {"0x-5", 10000}, {"0x0x5", 10000}, {"2147483648", 10000}};
  for (const auto& c : cases)
    EXPECT_EQ(ConnectTimeoutFromText(c.text), c.expected) << "'" << c.text << "'";
}

TEST_F(SettingsTest, ListenersOfTheSameNameShareTheirSections) {
  Load("[LISTENERS]\nCOUNT=2\nLISTENER1=Same\nLISTENER2=Same\n[Same.GENERAL]\nPORT=81\nCONNECTTIMEOUT=42\n"
       "[Same.VDIRS]\nCOUNT=2\n");
  EXPECT_EQ(Describe(Listener(0)), Describe(Listener(1)));
  EXPECT_EQ(Describe(Listener(1)), "Same 81 42 on 2 [VD1 C:\\WebBase\\ / 0  ] [VD2 C:\\WebBase\\ / 0  ]");
}

TEST_F(SettingsTest, AbsentDirectoryNamesAreVDnAndNameTheirSections) {
  Load("[L1.VDIRS]\nCOUNT=2\n[L1.VD2.GENERAL]\nVPATH=/two/\nPATH=p\n");
  EXPECT_EQ(Describe(Listener(0)), "L1 80 10000 on 2 [VD1 C:\\WebBase\\ / 0  ] [VD2 p /two/ 0  ]");
}

TEST(SetManager, LocateFilePrefersTheProgramsFolderAndElsePassesTheBareName) {
  const std::string name = "kws-locate-" + std::to_string(std::random_device{}()) + ".ini";
  EXPECT_EQ(tKWSetManager::LocateFile(name), name);
  const std::string inFolder = FolderOf(ProgramPath()) + name;
  std::ofstream(inFolder) << "[LISTENERS]\n";
  const std::string located = tKWSetManager::LocateFile(name);
  std::filesystem::remove(inFolder);
  EXPECT_EQ(located, inFolder);
}

} // namespace
