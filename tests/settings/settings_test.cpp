// The settings store: defaults written at first start, limits on texts, the import's
// copies, and values reaching the file only when saved.
#include <gtest/gtest.h>

#include <QSettings>
#include <QString>

#include <filesystem>
#include <set>
#include <string>

#include "settings/settings.h"
#include "settings/settings_store.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  std::string IniValue(const char* name) {
    QSettings ini(QString::fromStdString(file_), QSettings::IniFormat);
    return ini.value(name).toString().toStdString();
  }
  void SetIniValue(const char* name, const QVariant& value) {
    QSettings ini(QString::fromStdString(file_), QSettings::IniFormat);
    ini.setValue(name, value);
  }
  void RemoveIniValue(const char* name) {
    QSettings ini(QString::fromStdString(file_), QSettings::IniFormat);
    ini.remove(name);
  }

  test::TempDir dir_;
  std::string file_ = dir_.File("cfg/Weavil.ini");
  SettingsStore store_{file_};
};

TEST_F(SettingsTest, FirstLoadCreatesTheStoreWithDefaults) {
  ASSERT_FALSE(store_.Exists());
  Settings settings;
  settings.url = "stale";
  ImportCopies copies;
  store_.Load(settings, copies, "/opt/weavil/");
  EXPECT_TRUE(store_.Exists());
  EXPECT_EQ(settings.path, "/opt/weavil/log/");
  EXPECT_EQ(settings.url, "");
  EXPECT_EQ(settings.extensions, "html htm shtml asp jsp txt pl cfm exe msi aspx zip doc php ");
  EXPECT_EQ(settings.isProxy, 0);
  EXPECT_EQ(settings.isAgentChaining, 0);
  EXPECT_EQ(copies.extensions, settings.extensions);
  // Every value is in the file.
  for (const char* name : kSettingNamesCreateOrder) {
    QSettings ini(QString::fromStdString(file_), QSettings::IniFormat);
    EXPECT_TRUE(ini.contains(name)) << name;
  }
  EXPECT_EQ(IniValue("Path"), "/opt/weavil/log/");
  EXPECT_EQ(IniValue("ProxyPort"), "0");
}

TEST_F(SettingsTest, ValuesRoundTripThroughSave) {
  Settings settings;
  ImportCopies copies;
  store_.Load(settings, copies, "/p");
  settings.url = "http://www.example.com/logs/access.log";
  settings.defaultHost = "www.example.com";
  settings.isIncremental = 1;
  settings.proxyPortHttp = 8080;
  settings.pages = "/index.html,/about.html";
  settings.period = "Month+";
  ASSERT_TRUE(store_.Save(settings));
  Settings again;
  store_.Load(again, copies, "/p");
  EXPECT_EQ(again.url, settings.url);
  EXPECT_EQ(again.isIncremental, 1);
  EXPECT_EQ(again.proxyPortHttp, 8080);
  EXPECT_EQ(again.pages, "/index.html,/about.html");
  EXPECT_EQ(again.period, "Month+");
  EXPECT_EQ(again.path, "/p/log/") << "the default is written only when the store is created";
  EXPECT_EQ(copies.defaultHost, "www.example.com");
}

TEST_F(SettingsTest, TextsOverTheLimitAndMissingValuesReadAsEmpty) {
  Settings settings;
  ImportCopies copies;
  store_.Load(settings, copies, "/p");
  SetIniValue("Url", QString(259, 'u'));
  SetIniValue("Login", QString(260, 'l'));
  RemoveIniValue("Pass");
  RemoveIniValue("ProxyPort");
  SetIniValue("ProxyPortFTP", "not a number");
  store_.Load(settings, copies, "/p");
  EXPECT_EQ(settings.url.size(), 259u);
  EXPECT_EQ(settings.login, "") << "a text longer than 259 characters is not read";
  EXPECT_EQ(settings.pass, "");
  EXPECT_EQ(settings.proxyPort, 0);
  EXPECT_EQ(settings.proxyPortFtp, 0);
  // A switch a file of an older version lacks takes its default, not 0.
  RemoveIniValue("IsDesktopConventions");
  store_.Load(settings, copies, "/p");
  EXPECT_EQ(settings.isDesktopConventions, 1);
  SetIniValue("IsDesktopConventions", 0);
  store_.Load(settings, copies, "/p");
  EXPECT_EQ(settings.isDesktopConventions, 0);
}

// A store written before the switch existed has no value for it: it reads as on, and
// both a stored 0 and the import's copy follow what is stored.
TEST_F(SettingsTest, TheModernRulesSwitchIsOnUnlessStoredOff) {
  Settings settings;
  ImportCopies copies;
  store_.Load(settings, copies, "/p");
  EXPECT_EQ(IniValue("IsModernRules"), "1");
  RemoveIniValue("IsModernRules");
  store_.Load(settings, copies, "/p");
  EXPECT_EQ(settings.isModernRules, 1);
  SetIniValue("IsModernRules", "0");
  store_.Load(settings, copies, "/p");
  EXPECT_EQ(settings.isModernRules, 0);
  EXPECT_EQ(copies.isModernRules, 0);
}

TEST_F(SettingsTest, EmptyOrMissingExtensionsGiveTheDefaultList) {
  Settings settings;
  ImportCopies copies;
  store_.Load(settings, copies, "/p");
  SetIniValue("Extensions", "");
  store_.Load(settings, copies, "/p");
  EXPECT_EQ(settings.extensions, kDefaultExtensions);
  RemoveIniValue("Extensions");
  store_.Load(settings, copies, "/p");
  EXPECT_EQ(copies.extensions, kDefaultExtensions);
  SetIniValue("Extensions", "php ");
  store_.Load(settings, copies, "/p");
  EXPECT_EQ(copies.extensions, "php ");
}

TEST_F(SettingsTest, ChangesInMemoryReachTheStoreOnlyWhenSaved) {
  Settings settings;
  ImportCopies copies;
  store_.Load(settings, copies, "/p");
  settings.isAutoConnect = 1;
  settings.extensions = "php ";
  EXPECT_EQ(IniValue("IsAutoConnect"), "0");
  // The import keeps the copies of the load until the next start.
  EXPECT_EQ(copies.extensions, kDefaultExtensions);
  ASSERT_TRUE(store_.Save(settings));
  EXPECT_EQ(IniValue("IsAutoConnect"), "1");
}

// The file holds the passwords: only its owner reads it, from its creation on.
TEST_F(SettingsTest, TheStoreIsReadableByItsOwnerOnly) {
  Settings settings;
  ImportCopies copies;
  store_.Load(settings, copies, "/p");
  auto mode = [&] { return std::filesystem::status(file_).permissions() & std::filesystem::perms::all; };
  EXPECT_EQ(mode(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  settings.pass = "secret";
  std::filesystem::permissions(file_, std::filesystem::perms::owner_all | std::filesystem::perms::others_read);
  ASSERT_TRUE(store_.Save(settings));
  EXPECT_EQ(mode(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(SettingsTest, ValuesByName) {
  Settings settings;
  std::string value;
  EXPECT_TRUE(SetSettingByName(settings, "ProxyPortHTTP", "3128"));
  EXPECT_TRUE(GetSettingByName(settings, "ProxyPortHTTP", value));
  EXPECT_EQ(value, "3128");
  EXPECT_FALSE(SetSettingByName(settings, "ProxyPortHTTP", "31x"));
  EXPECT_FALSE(SetSettingByName(settings, "ProxyPortHTTP", "99999999999"));
  EXPECT_TRUE(SetSettingByName(settings, "DefaultHost", "www.example.com"));
  EXPECT_EQ(settings.defaultHost, "www.example.com");
  EXPECT_FALSE(SetSettingByName(settings, "NoSuchValue", "1"));
  EXPECT_FALSE(GetSettingByName(settings, "url", value)) << "names are exact";
}

TEST(SettingNamesTest, EachNameOnceInTheOrderTheKeyIsFirstWritten) {
  std::set<std::string> seen;
  Settings settings;
  for (const char* name : kSettingNamesCreateOrder) {
    std::string value;
    EXPECT_TRUE(GetSettingByName(settings, name, value)) << name;
    EXPECT_TRUE(seen.insert(name).second) << name;
  }
  EXPECT_STREQ(kSettingNamesCreateOrder.front(), "Url");
  EXPECT_STREQ(kSettingNamesCreateOrder[22], "IsBackThread");  // before Extensions, as first written
  EXPECT_STREQ(kSettingNamesCreateOrder[23], "Extensions");
  EXPECT_STREQ(kSettingNamesCreateOrder.back(), "IsResumingImports");
}

}  // namespace
}  // namespace weavil
