#include "settings/KWSetManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>

#include "settings/CoreAPITools.h"
#include "tests/support/TempFolder.h"

namespace {

// Name, port, time-out, enabled and count, then each used directory in brackets.
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

// A fresh manager reading the settings text, or a missing file for nullopt.
class SettingsTest : public testing::Test {
protected:
  void Load(const std::optional<std::string>& text) {
    Manager = std::make_unique<tKWSetManager>();
    Manager->LoadFromFile(text ? Folder.WriteFile("KestruneWebServer.Ini", *text)
                               : Folder.PathOf("absent.ini"));
  }
  const tListenerData& Listener(int32_t index) {
    const tListenerData* record = Manager->GetListener(index);
    EXPECT_NE(record, nullptr) << "listener " << index;
    return *record;
  }

  kwstest::TempFolder Folder;
  std::unique_ptr<tKWSetManager> Manager;
};

TEST_F(SettingsTest, ReadsEveryFieldOfEveryListenerAndDirectoryWithSectionsNamedByTheirNames) {
  const std::string defaultDirectory = "[VD1 C:\\WebBase\\ / 0  ]";
  struct Case {
    std::optional<std::string> text;
    std::vector<std::string> listeners;
  } cases[] = {
      {std::nullopt, {"L1 80 10000 on 1 " + defaultDirectory}},
      {"[LISTENERS]\r\nCOUNT=2\r\nLISTENER1=Web\r\nLISTENER2=Api\r\n[Web.GENERAL]\r\nPORT=8080\r\n"
       "CONNECTTIMEOUT=0x1F4\r\n[Web.VDIRS]\r\nCOUNT=2\r\nVDIR1=Root\r\nVDIR2=Plug\r\n"
       "[Web.Root.GENERAL]\r\nPATH=/srv/www\r\nVPATH=/\r\n[Web.Plug.GENERAL]\r\nPATH=/srv/plug\r\nVPATH=/"
       "PLUG/\r\n"
       "DLL=plug.so\r\nOTHER=KWSPPath=/opt#0D#0ADefExt=so\r\nTYPE=kwsp\r\n[Api.GENERAL]\r\nPORT=9090\r\n",
       {"Web 8080 500 on 2 [Root /srv/www / 0  ] [Plug /srv/plug /PLUG/ 1 plug.so "
        "KWSPPath=/opt\r\nDefExt=so]",
        "Api 9090 10000 on 1 " + defaultDirectory}},
      {"[LISTENERS]\nCOUNT=2\nLISTENER1=Same\nLISTENER2=Same\n[Same.GENERAL]\nPORT=81\nCONNECTTIMEOUT=42\n"
       "[Same.VDIRS]\nCOUNT=2\n",
       {"Same 81 42 on 2 " + defaultDirectory + " [VD2 C:\\WebBase\\ / 0  ]",
        "Same 81 42 on 2 " + defaultDirectory + " [VD2 C:\\WebBase\\ / 0  ]"}},
      {"[L1.VDIRS]\nCOUNT=2\n[L1.VD2.GENERAL]\nVPATH=/two/\nPATH=p\n",
       {"L1 80 10000 on 2 " + defaultDirectory + " [VD2 p /two/ 0  ]"}},
  };
  for (const auto& c : cases) {
    Load(c.text);
    ASSERT_EQ(Manager->ListenerCount(), static_cast<int32_t>(c.listeners.size())) << c.listeners[0];
    for (size_t i = 0; i < c.listeners.size(); ++i)
      EXPECT_EQ(Describe(Listener(static_cast<int32_t>(i))), c.listeners[i]);
    EXPECT_EQ(Listener(0).VDirs[2].VDirName, ""); // unused entries stay empty
    EXPECT_EQ(Manager->GetListener(Manager->ListenerCount()), nullptr);
    EXPECT_EQ(Manager->GetListener(-1), nullptr);
  }
}

TEST_F(SettingsTest, CountsOutsideTheirBoundsGiveOneListenerOrDirectoryNamedByNumber) {
  struct Case {
    std::string count;
    int32_t expected;
  } listeners[] = {{"0", 1}, {"257", 1}, {"abc", 1}, {"256", 256}, {"$10", 16}},
    directories[] = {{"1025", 1}, {"0", 1}, {"1024", 1024}};
  for (const auto& c : listeners) {
    Load("[LISTENERS]\nCOUNT=" + c.count + "\n");
    ASSERT_EQ(Manager->ListenerCount(), c.expected) << "COUNT=" << c.count;
    EXPECT_EQ(Listener(c.expected - 1).ListenerName, "L" + std::to_string(c.expected));
  }
  for (const auto& c : directories) {
    Load("[L1.VDIRS]\nCOUNT=" + c.count + "\n[L1.VD1024.GENERAL]\nVPATH=/last/\n");
    ASSERT_EQ(Listener(0).VDirCount, c.expected) << "COUNT=" << c.count;
    const tVDirData& last = Listener(0).VDirs[static_cast<size_t>(c.expected - 1)];
    EXPECT_EQ(last.VDirName + last.VirtualPath,
              "VD" + std::to_string(c.expected) + (c.expected == 1 ? "/" : "/last/"));
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

TEST_F(SettingsTest, MaxBodySizeIsReadInBytesUpTo4GiBLessOneElseItsDefaultIsKept) {
  struct Case {
    std::string text;
    uint32_t expected;
  } cases[] = {{"", kDefaultMaxBodySize},           {" 0 ", 0},
               {"4294967295", 4294967295u},         {"4294967296", kDefaultMaxBodySize},
               {"1e6", kDefaultMaxBodySize},        {"-1", kDefaultMaxBodySize},
               {"00000000001", kDefaultMaxBodySize}};
  for (const auto& c : cases) {
    Load("[L1.GENERAL]\nMAXBODYSIZE=" + c.text + "\n");
    EXPECT_EQ(Listener(0).MaxBodySize, c.expected) << "'" << c.text << "'";
  }
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
