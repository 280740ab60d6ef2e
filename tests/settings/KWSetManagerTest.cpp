#include "settings/KWSetManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <utility>

#include "settings/CoreAPITools.h"
#include "tests/support/TempFolder.h"

using kwstest::TempFolder;

namespace {

// A settings file in a folder of its own, read by a fresh manager.
class SettingsTest : public testing::Test {
protected:
  tKWSetManager& Load(const std::string& text) {
    Manager = std::make_unique<tKWSetManager>();
    Manager->LoadFromFile(Folder.WriteFile("KestruneWebServer.Ini", text));
    return *Manager;
  }
  const tListenerData& Listener(int32_t index) {
    const tListenerData* record = Manager->GetListener(index);
    EXPECT_NE(record, nullptr) << "listener " << index;
    return *record;
  }

  TempFolder Folder;
  std::unique_ptr<tKWSetManager> Manager;
};

void ExpectDefaultListener(const tListenerData& record, const std::string& name) {
  EXPECT_EQ(record.ListenerName, name);
  EXPECT_EQ(record.PortText, "80");
  EXPECT_EQ(record.ConnectTimeout, 10000);
  ASSERT_EQ(record.VDirCount, 1);
  EXPECT_EQ(record.VDirs[0].VDirName, "VD1");
  EXPECT_EQ(record.VDirs[0].BasePath, "C:\\WebBase\\");
  EXPECT_EQ(record.VDirs[0].VirtualPath, "/");
  EXPECT_EQ(record.VDirs[0].DllPath, "");
  EXPECT_EQ(record.VDirs[0].OtherText, "");
  EXPECT_EQ(record.VDirs[0].Kind, vkStatic);
  EXPECT_TRUE(record.Enabled);
}

TEST_F(SettingsTest, AMissingFileGivesOneListenerL1OnPort80ServingWebBaseAtRoot) {
  Manager = std::make_unique<tKWSetManager>();
  Manager->LoadFromFile(Folder.PathOf("absent.ini"));
  ASSERT_EQ(Manager->ListenerCount(), 1);
  ExpectDefaultListener(Listener(0), "L1");
}

TEST_F(SettingsTest, ReadsEveryFieldOfEveryListenerAndDirectory) {
  Load("[LISTENERS]\r\nCOUNT=2\r\nLISTENER1=Web\r\nLISTENER2=Api\r\n"
       "[Web.GENERAL]\r\nPORT=8080\r\nCONNECTTIMEOUT=2500\r\n"
       "[Web.VDIRS]\r\nCOUNT=2\r\nVDIR1=Root\r\nVDIR2=Plug\r\n"
       "[Web.Root.GENERAL]\r\nPATH=/srv/www\r\nVPATH=/\r\n"
       "[Web.Plug.GENERAL]\r\nPATH=/srv/plug\r\nVPATH=/PLUG/\r\nDLL=plug.so\r\nOTHER=KWSPPath=/"
       "opt#0D#0ADefExt=so\r\n"
       "TYPE=kwsp\r\n"
       "[Api.GENERAL]\r\nPORT=9090\r\n");
  ASSERT_EQ(Manager->ListenerCount(), 2);
  const tListenerData& web = Listener(0);
  EXPECT_EQ(web.ListenerName, "Web");
  EXPECT_EQ(web.PortText, "8080");
  EXPECT_EQ(web.ConnectTimeout, 2500);
  ASSERT_EQ(web.VDirCount, 2);
  EXPECT_EQ(web.VDirs[0].VDirName, "Root");
  EXPECT_EQ(web.VDirs[0].BasePath, "/srv/www");
  EXPECT_EQ(web.VDirs[0].Kind, vkStatic);
  EXPECT_EQ(web.VDirs[1].VDirName, "Plug");
  EXPECT_EQ(web.VDirs[1].BasePath, "/srv/plug");
  EXPECT_EQ(web.VDirs[1].VirtualPath, "/PLUG/");
  EXPECT_EQ(web.VDirs[1].DllPath, "plug.so");
  EXPECT_EQ(web.VDirs[1].OtherText, "KWSPPath=/opt\r\nDefExt=so");
  EXPECT_EQ(web.VDirs[1].Kind, vkKWSP);
  EXPECT_EQ(web.VDirs[2].VDirName, ""); // unused entries stay empty
  EXPECT_TRUE(web.Enabled);
  const tListenerData& api = Listener(1);
  EXPECT_EQ(api.ListenerName, "Api");
  EXPECT_EQ(api.PortText, "9090");
  EXPECT_EQ(api.ConnectTimeout, 10000);
  EXPECT_TRUE(api.Enabled);
}

TEST_F(SettingsTest, ListenerCountOutside1To256GivesOneListener) {
  struct Case {
    std::string count;
    int32_t expected;
  } cases[] = {
      {"0", 1}, {"257", 1}, {"-1", 1}, {"abc", 1}, {"", 1}, {"256", 256}, {"3", 3}, {"$10", 16},
  };
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

TEST_F(SettingsTest, TypeIsTrimmedAndUpperCasedBeforeItPicksTheKind) {
  struct Case {
    std::string line;
    tVDirKind expected;
  } cases[] = {
      {"TYPE=\" kwsp \"", vkKWSP},
      {"TYPE=", vkStatic},
      {"TYPE=CGI", vkUnsupported},
      {"TYPE=std", vkStatic},
      {"TYPE=IsApi", vkISAPI},
      {"TYPE=akwsp", vkAKWSP},
      {"", vkStatic},
      {"TYPE=kwsp2", vkUnsupported},
  };
  for (const auto& c : cases) {
    Load("[L1.VD1.GENERAL]\n" + c.line + "\n");
    EXPECT_EQ(Listener(0).VDirs[0].Kind, c.expected) << c.line;
  }
}

TEST(VDirKindFromText, MapsTheKnownNamesAndEverythingElseToUnsupported) {
  struct Case {
    std::string text;
    tVDirKind expected;
  } cases[] = {
      {"", vkStatic},     {" \t", vkStatic},  {"STD", vkStatic},        {"\tKwsp\r", vkKWSP},
      {"isapi", vkISAPI}, {"AKWSP", vkAKWSP}, {"S T D", vkUnsupported}, {"\xE9", vkUnsupported},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VDirKindFromText(c.text), c.expected) << "'" << c.text << "'";
  }
}

TEST(ConnectTimeoutFromText, ReadsZeroXAsHexAndFallsBackTo10000) {
  struct Case {
    std::string text;
    int32_t expected;
  } cases[] = {
      {"0x1F4", 500}, {"0X1f4", 500}, {"$1F4", 500}, {"5s", 10000},   {"", 10000},      {"0x", 10000},
      {"750", 750},   {"-5", -5},     {"x10", 16},   {"0x-5", 10000}, {"0x0x5", 10000}, {"2147483648", 10000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConnectTimeoutFromText(c.text), c.expected) << "'" << c.text << "'";
  }
}

TEST_F(SettingsTest, OtherIsStoredWithItsHashEscapesDecoded) {
  Load("[L1.VD1.GENERAL]\nOTHER=a#3Db#0D#0Ac=d\n");
  EXPECT_EQ(Listener(0).VDirs[0].OtherText, "a=b\r\nc=d");
}

TEST_F(SettingsTest, ConnectTimeoutFollowsTheIntegerReadingRule) {
  Load("[LISTENERS]\nCOUNT=3\n[L1.GENERAL]\nCONNECTTIMEOUT=0x1F4\n[L2.GENERAL]\nCONNECTTIMEOUT=$1F4\n"
       "[L3.GENERAL]\nCONNECTTIMEOUT=5s\n");
  EXPECT_EQ(Listener(0).ConnectTimeout, 500);
  EXPECT_EQ(Listener(1).ConnectTimeout, 500);
  EXPECT_EQ(Listener(2).ConnectTimeout, 10000);
}

TEST_F(SettingsTest, ListenersOfTheSameNameShareTheirSections) {
  Load("[LISTENERS]\nCOUNT=2\nLISTENER1=Same\nLISTENER2=Same\n[Same.GENERAL]\nPORT=81\nCONNECTTIMEOUT=42\n"
       "[Same.VDIRS]\nCOUNT=2\n");
  for (int32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(Listener(i).ListenerName, "Same");
    EXPECT_EQ(Listener(i).PortText, "81");
    EXPECT_EQ(Listener(i).ConnectTimeout, 42);
    EXPECT_EQ(Listener(i).VDirCount, 2);
    EXPECT_TRUE(Listener(i).Enabled);
  }
}

TEST_F(SettingsTest, AbsentDirectoryNamesAreVDnAndNameTheirSections) {
  Load("[L1.VDIRS]\nCOUNT=2\n[L1.VD2.GENERAL]\nVPATH=/two/\n");
  const tListenerData& record = Listener(0);
  ASSERT_EQ(record.VDirCount, 2);
  EXPECT_EQ(record.VDirs[0].VDirName, "VD1");
  EXPECT_EQ(record.VDirs[0].VirtualPath, "/");
  EXPECT_EQ(record.VDirs[1].VDirName, "VD2");
  EXPECT_EQ(record.VDirs[1].VirtualPath, "/two/");
}

TEST_F(SettingsTest, SectionAndKeyNamesMatchInAnyLetterCase) {
  Load("[listeners]\ncount=2\nlistener2=web\n[WEB.general]\nport=81\n");
  ASSERT_EQ(Manager->ListenerCount(), 2);
  EXPECT_EQ(Listener(1).ListenerName, "web");
  EXPECT_EQ(Listener(1).PortText, "81");
}

TEST_F(SettingsTest, AValueLongerThanTheBufferIsCutTo2047Bytes) {
  std::string longPath(100000, 'p');
  Load("[L1.VD1.GENERAL]\nPATH=" + longPath + "\nVPATH=/v/\n");
  EXPECT_EQ(Listener(0).VDirs[0].BasePath, std::string(2047, 'p'));
  EXPECT_EQ(Listener(0).VDirs[0].VirtualPath, "/v/");
}

TEST_F(SettingsTest, TheFirstOfDuplicateSectionsIsRead) {
  Load("[L1.GENERAL]\nPORT=81\n[L1.GENERAL]\nPORT=82\nCONNECTTIMEOUT=5\n");
  EXPECT_EQ(Listener(0).PortText, "81");
  EXPECT_EQ(Listener(0).ConnectTimeout, 10000);
}

TEST_F(SettingsTest, ATruncatedFileGivesWhatItHoldsAndDefaultsForTheRest) {
  Load("[LISTENERS]\nCOUNT=2\nLISTENER2=Web\n[Web.GENERAL]\nPORT=8\nCONNECTTIMEOUT");
  ASSERT_EQ(Manager->ListenerCount(), 2);
  ExpectDefaultListener(Listener(0), "L1");
  EXPECT_EQ(Listener(1).PortText, "8");
  EXPECT_EQ(Listener(1).ConnectTimeout, 10000);
  EXPECT_TRUE(Listener(1).Enabled);
}

TEST_F(SettingsTest, ABinaryFileReadsAsDefaultsWithoutHarm) {
  std::mt19937 random(12345);
  std::string noise(64 * 1024, '\0');
  for (char& c : noise) {
    c = static_cast<char>(random() & 0xFF);
  }
  Load(noise);
  ASSERT_EQ(Manager->ListenerCount(), 1);
  ExpectDefaultListener(Listener(0), "L1");
}

TEST(SetManager, SetListenerCountKeepsLeadingRecordsAndAppendsFreshOnes) {
  tKWSetManager manager;
  EXPECT_EQ(manager.ListenerCount(), 0);
  manager.SetListenerCount(3);
  ASSERT_EQ(manager.ListenerCount(), 3);
  manager.GetListener(0)->ListenerName = "kept";
  manager.GetListener(1)->PortText = "81";
  manager.GetListener(1)->VDirs[5].VDirName = "dropped";
  manager.GetListener(1)->Enabled = true;
  manager.SetListenerCount(1);
  manager.SetListenerCount(2);
  ASSERT_EQ(manager.ListenerCount(), 2);
  EXPECT_EQ(manager.GetListener(0)->ListenerName, "kept");
  const tListenerData& fresh = *manager.GetListener(1);
  EXPECT_EQ(fresh.PortText, "");
  EXPECT_EQ(fresh.ConnectTimeout, 0);
  EXPECT_EQ(fresh.VDirCount, 0);
  EXPECT_EQ(fresh.VDirs[5].VDirName, "");
  EXPECT_EQ(fresh.VDirs[0].Kind, vkStatic);
  EXPECT_FALSE(fresh.Enabled);
  manager.SetListenerCount(-4);
  EXPECT_EQ(manager.ListenerCount(), 0);
}

TEST(SetManager, GetListenerGivesTheRecordInPlaceAndNothingOutsideTheRange) {
  tKWSetManager manager;
  manager.SetListenerCount(2);
  manager.GetListener(1)->ListenerName = "changed";
  EXPECT_EQ(manager.GetListener(1)->ListenerName, "changed");
  EXPECT_EQ(manager.GetListener(-1), nullptr);
  EXPECT_EQ(manager.GetListener(2), nullptr);
  EXPECT_EQ(std::as_const(manager).GetListener(0), manager.GetListener(0));
}

TEST(SetManager, LocateFilePrefersTheProgramsFolderAndElsePassesTheBareName) {
  std::string name = "kws-locate-" + std::to_string(std::random_device{}()) + ".ini";
  EXPECT_EQ(tKWSetManager::LocateFile(name), name);
  std::string inFolder = FolderOf(ProgramPath()) + name;
  { std::ofstream(inFolder) << "[LISTENERS]\n"; }
  std::string located = tKWSetManager::LocateFile(name);
  std::filesystem::remove(inFolder);
  EXPECT_EQ(located, inFolder);
}

} // namespace
