#include "settings/settings_store.h"

#include "settings/program_folders.h"

#include <QFileInfo>
#include <QSettings>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace weavil {
namespace {

// The file holds the download and proxy passwords: only its owner may read it. It is
// created so before anything is written, and kept so after the store rewrote it.
void KeepOwnerOnly(const std::string& path) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    ::fchmod(fd, 0600);
    ::close(fd);
  }
}

const char* const kSaveOrder[] = {
    "Url",          "Path",        "File",       "OpenFilePath", "IsLogin",       "Login",         "Pass",
    "Offset",       "NoRobots",    "IsPages",    "IsCountries",  "IsKeywords",    "IsReferers",    "IsPeriod",
    "ApplyFilter",  "Pages",       "Countries",  "Keywords",     "Referers",      "DefaultHost",   "LogFormat",
    "Extensions",   "Period",      "IsBackThread", "IsAutoConnect", "IsAutoResolve", "IsIncremental", "IsProxy",
    "ProxyHTTP",    "ProxyPortHTTP", "ProxyFTP", "ProxyPortFTP", "Proxy",         "ProxyPort",
    "IsAgentChaining", "BusySeconds", "IsModernRules", "IsDesktopConventions", "NoAcceptEncoding", "FollowSeconds",
    "IsResumingImports"};

void WriteValues(QSettings& ini, const Settings& settings, const char* const* names, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    std::string value;
    GetSettingByName(settings, names[i], value);
    if (IsNumericSetting(names[i])) {
      ini.setValue(QString::fromLatin1(names[i]), static_cast<int32_t>(std::stoll(value)));
    } else {
      ini.setValue(QString::fromLatin1(names[i]), QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
    }
  }
}

}  // namespace

std::string DefaultSettingsFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config && *config) {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : "/tmp") + "/.config";
  }
  return base + "/Vyr/Weavil/1.4/Weavil.ini";
}

std::string DefaultDownloadFolder(const std::string& programDir) {
  // An installed program cannot write beside itself.
  if (IsInstalledProgram(programDir)) return UserDataHome() + "/log/";
  std::string dir = programDir;
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  return dir + "log/";
}

SettingsStore::SettingsStore(std::string filePath) : filePath_(std::move(filePath)) {}

bool SettingsStore::Exists() const { return QFileInfo::exists(QString::fromStdString(filePath_)); }

void SettingsStore::Load(Settings& settings, ImportCopies& copies, const std::string& programDir) const {
  QSettings ini(QString::fromStdString(filePath_), QSettings::IniFormat);
  if (!Exists()) {
    Settings defaults;
    defaults.extensions = kDefaultExtensions;
    defaults.path = DefaultDownloadFolder(programDir);
    KeepOwnerOnly(filePath_);
    WriteValues(ini, defaults, kSettingNamesCreateOrder.data(), kSettingNamesCreateOrder.size());
    ini.sync();
    KeepOwnerOnly(filePath_);
  }
  Settings loaded;
  for (const char* name : kSettingNamesCreateOrder) {
    QVariant value = ini.value(QString::fromLatin1(name));
    std::string added;
    if (!value.isValid() && AddedSettingDefault(name, added)) {
      SetSettingByName(loaded, name, added);
    } else if (IsNumericSetting(name)) {
      bool ok = false;
      qlonglong number = value.toLongLong(&ok);
      if (!ok) number = 0;
      // A value out of its range (a port past 65535, edited by hand) reads as missing.
      if (!SetSettingByName(loaded, name, std::to_string(static_cast<int32_t>(static_cast<uint32_t>(number)))))
        SetSettingByName(loaded, name, "0");
    } else {
      QByteArray text = value.isValid() ? value.toString().toUtf8() : QByteArray();
      if (static_cast<size_t>(text.size()) > kMaxSettingText) text.clear();
      SetSettingByName(loaded, name, std::string_view(text.constData(), static_cast<size_t>(text.size())));
    }
  }
  if (loaded.extensions.empty()) loaded.extensions = kDefaultExtensions;
  settings = loaded;
  copies.defaultHost = loaded.defaultHost;
  copies.extensions = loaded.extensions;
  copies.agentChaining = loaded.isAgentChaining != 0;
  copies.isModernRules = loaded.isModernRules;
  copies.logFormat = loaded.logFormat;
  copies.resumeImports = loaded.isResumingImports != 0;
}

bool SettingsStore::Save(const Settings& settings) const {
  QSettings ini(QString::fromStdString(filePath_), QSettings::IniFormat);
  if (!ini.isWritable()) return false;
  KeepOwnerOnly(filePath_);
  WriteValues(ini, settings, kSaveOrder, std::size(kSaveOrder));
  ini.sync();
  KeepOwnerOnly(filePath_);
  return ini.status() == QSettings::NoError;
}

void LoadAppSettings(const std::string& programDir, const SettingsStore& store) {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  store.Load(AppSettings(), AppImportCopies(), programDir);
}

bool SaveAppSettings(const SettingsStore& store) {
  Settings copy = CopySettings();
  return store.Save(copy);
}

}  // namespace weavil
