#include "settings/settings.h"

#include <array>
#include <charconv>
#include <cstring>
#include <string>

namespace weavil {
namespace {

struct Field {
  const char* name;
  std::string Settings::*text;
  int32_t Settings::*number;
};

// Stored names and their fields, in the order the key is first written.
constexpr Field kFields[] = {
    {"Url", &Settings::url, nullptr},
    {"Path", &Settings::path, nullptr},
    {"File", &Settings::file, nullptr},
    {"OpenFilePath", &Settings::openFilePath, nullptr},
    {"IsLogin", nullptr, &Settings::isLogin},
    {"Login", &Settings::login, nullptr},
    {"Pass", &Settings::pass, nullptr},
    {"Offset", nullptr, &Settings::offset},
    {"NoRobots", nullptr, &Settings::noRobots},
    {"ApplyFilter", nullptr, &Settings::applyFilter},
    {"IsPages", nullptr, &Settings::isPages},
    {"IsCountries", nullptr, &Settings::isCountries},
    {"IsKeywords", nullptr, &Settings::isKeywords},
    {"IsReferers", nullptr, &Settings::isReferers},
    {"IsPeriod", nullptr, &Settings::isPeriod},
    {"Pages", &Settings::pages, nullptr},
    {"Countries", &Settings::countries, nullptr},
    {"Keywords", &Settings::keywords, nullptr},
    {"Referers", &Settings::referers, nullptr},
    {"Period", &Settings::period, nullptr},
    {"DefaultHost", &Settings::defaultHost, nullptr},
    {"LogFormat", &Settings::logFormat, nullptr},
    {"IsBackThread", nullptr, &Settings::isBackThread},
    {"Extensions", &Settings::extensions, nullptr},
    {"IsAutoConnect", nullptr, &Settings::isAutoConnect},
    {"IsAutoResolve", nullptr, &Settings::isAutoResolve},
    {"IsIncremental", nullptr, &Settings::isIncremental},
    {"IsProxy", nullptr, &Settings::isProxy},
    {"ProxyHTTP", &Settings::proxyHttp, nullptr},
    {"ProxyPortHTTP", nullptr, &Settings::proxyPortHttp},
    {"ProxyFTP", &Settings::proxyFtp, nullptr},
    {"ProxyPortFTP", nullptr, &Settings::proxyPortFtp},
    {"Proxy", &Settings::proxy, nullptr},
    {"ProxyPort", nullptr, &Settings::proxyPort},
    {"IsAgentChaining", nullptr, &Settings::isAgentChaining},
    {"BusySeconds", nullptr, &Settings::busySeconds},
    {"IsModernRules", nullptr, &Settings::isModernRules},
    {"IsDesktopConventions", nullptr, &Settings::isDesktopConventions},
    {"NoAcceptEncoding", nullptr, &Settings::noAcceptEncoding},
    {"FollowSeconds", nullptr, &Settings::followSeconds},
    {"IsResumingImports", nullptr, &Settings::isResumingImports},
};

const Field* FindField(std::string_view name) {
  for (const Field& field : kFields)
    if (name == field.name) return &field;
  return nullptr;
}

}  // namespace

// The stored names in the order of kFields, the order the key is first written in.
constexpr std::array<const char*, std::size(kFields)> FieldNames() {
  std::array<const char*, std::size(kFields)> names{};
  for (size_t i = 0; i < names.size(); ++i) names[i] = kFields[i].name;
  return names;
}

const std::array<const char*, 41> kSettingNamesCreateOrder = FieldNames();

bool AddedSettingDefault(std::string_view name, std::string& value) {
  if (name == "IsModernRules") {
    value = std::to_string(Settings().isModernRules);
    return true;
  }
  if (name == "IsDesktopConventions") {
    value = std::to_string(Settings().isDesktopConventions);
    return true;
  }
  if (name == "BusySeconds") {
    value = std::to_string(kDefaultBusySeconds);
    return true;
  }
  if (name == "IsResumingImports") {
    value = std::to_string(Settings().isResumingImports);
    return true;
  }
  if (name == "FollowSeconds") {
    value = std::to_string(kDefaultFollowSeconds);
    return true;
  }
  return false;
}

Settings& AppSettings() {
  static Settings settings;
  return settings;
}

std::mutex& SettingsMutex() {
  static std::mutex mutex;
  return mutex;
}

Settings CopySettings() {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  return AppSettings();
}

ImportCopies& AppImportCopies() {
  static ImportCopies copies;
  return copies;
}

ImportCopies CopyImportCopies() {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  return AppImportCopies();
}

bool IsNumericSetting(std::string_view name) {
  const Field* field = FindField(name);
  return field && field->number;
}

bool GetSettingByName(const Settings& settings, std::string_view name, std::string& value) {
  const Field* field = FindField(name);
  if (!field) return false;
  value = field->text ? settings.*(field->text) : std::to_string(settings.*(field->number));
  return true;
}

bool IsPortSetting(std::string_view name) {
  return name == "ProxyPortHTTP" || name == "ProxyPortFTP" || name == "ProxyPort";
}

std::string SettingValueProblem(std::string_view name, std::string_view value) {
  const Field* field = FindField(name);
  if (!field) return "unknown setting " + std::string(name);
  if (field->text) return {};
  // Numbers are stored as 32-bit values; accept the unsigned range as the registry does.
  int64_t number = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
  std::string text = "value for " + std::string(name) + " is not ";
  if (ec != std::errc() || end != value.data() + value.size() || number < INT32_MIN || number > UINT32_MAX)
    return text + "a number: " + std::string(value);
  // A port wrapped into 16 bits would reach another service.
  if (IsPortSetting(name) && number != 0 && !IsValidPort(number))
    return text + "a port from 1 to 65535 (0 for none): " + std::string(value);
  if (name == "BusySeconds" && (number < 0 || number > kMaxBusySeconds))
    return text + "a number of seconds from 0 to " + std::to_string(kMaxBusySeconds) + ": " + std::string(value);
  if (name == "FollowSeconds" && (number < 1 || number > kMaxFollowSeconds))
    return text + "a number of seconds from 1 to " + std::to_string(kMaxFollowSeconds) + ": " + std::string(value);
  return {};
}

bool SetSettingByName(Settings& settings, std::string_view name, std::string_view value) {
  const Field* field = FindField(name);
  if (!field || !SettingValueProblem(name, value).empty()) return false;
  if (field->text) {
    settings.*(field->text) = std::string(value);
    return true;
  }
  int64_t number = 0;
  std::from_chars(value.data(), value.data() + value.size(), number);
  settings.*(field->number) = static_cast<int32_t>(static_cast<uint32_t>(number));
  return true;
}

}  // namespace weavil
