#pragma once
// The process-wide settings record: download and proxy parameters, the report filter,
// and the switches that steer importing and start-up. Plain values; the store below
// loads it at start and writes it back at normal exit.
#include <array>
#include <cstdint>
#include <mutex>
#include <string>

namespace weavil {

// The page extensions of a new settings file. PHP pages are pages; the list of the
// first releases, without "php ", is kept for comparison.
inline constexpr const char* kDefaultExtensions = "html htm shtml asp jsp txt pl cfm exe msi aspx zip doc php ";
inline constexpr const char* kClassicExtensions = "html htm shtml asp jsp txt pl cfm exe msi aspx zip doc ";
// Seconds a database writer waits for another writer's lock before it gives up.
inline constexpr int32_t kDefaultBusySeconds = 30;
inline constexpr int32_t kMaxBusySeconds = 86400;
// Seconds between the rounds of a followed log (`weavil import --follow`).
inline constexpr int32_t kDefaultFollowSeconds = 5;
inline constexpr int32_t kMaxFollowSeconds = 3600;

struct Settings {
  std::string url;           // "Url"
  std::string path;          // "Path"
  std::string file;          // "File"
  std::string openFilePath;  // "OpenFilePath"
  int32_t isLogin = 0;       // "IsLogin"
  std::string login;         // "Login"
  std::string pass;          // "Pass"
  int32_t offset = 0;        // "Offset"
  int32_t noRobots = 0;      // "NoRobots"
  int32_t applyFilter = 0;   // "ApplyFilter"
  int32_t isPages = 0;       // "IsPages"
  int32_t isCountries = 0;   // "IsCountries"
  int32_t isKeywords = 0;    // "IsKeywords"
  int32_t isReferers = 0;    // "IsReferers"
  int32_t isPeriod = 0;      // "IsPeriod"
  std::string pages;         // "Pages"
  std::string countries;     // "Countries"
  std::string keywords;      // "Keywords"
  std::string referers;      // "Referers"
  std::string period;        // "Period"
  std::string defaultHost;   // "DefaultHost"
  std::string logFormat;     // "LogFormat"
  std::string extensions = kDefaultExtensions;  // "Extensions"
  int32_t isBackThread = 0;   // "IsBackThread"
  int32_t isAutoConnect = 0;  // "IsAutoConnect"
  int32_t isAutoResolve = 0;  // "IsAutoResolve"
  int32_t isIncremental = 0;  // "IsIncremental"
  int32_t isProxy = 0;        // "IsProxy"
  std::string proxyHttp;      // "ProxyHTTP"
  int32_t proxyPortHttp = 0;  // "ProxyPortHTTP"
  std::string proxyFtp;       // "ProxyFTP"
  int32_t proxyPortFtp = 0;   // "ProxyPortFTP"
  std::string proxy;          // "Proxy" (SOCKS, whois)
  int32_t proxyPort = 0;      // "ProxyPort"
  // "IsAgentChaining": 1 lets a request from a new address continue an open session of
  // the same user agent; 0 (the default) keeps every client address in its own sessions.
  int32_t isAgentChaining = 0;
  int32_t busySeconds = kDefaultBusySeconds;  // "BusySeconds"
  int32_t isModernRules = 1;  // "IsModernRules": name today's browsers, systems and robots too
  // "IsDesktopConventions": 1 (the default) lets the window follow the desktop: it
  // remembers its size, position and splitter, its pages and charts take the palette's
  // colours (a dark theme stays readable), the left pane is as wide as its six tabs,
  // the pages lose a horizontal scroll bar that would scroll only their margins,
  // Ctrl+Q quits, F1 opens the help and File offers "Export HTML...". 0 gives the
  // classic window: splitter at 425, fixed page colours, only the classic keys and
  // menu items.
  int32_t isDesktopConventions = 1;
  // "NoAcceptEncoding": 0 (the default) lets a full download ask the server for a
  // compressed answer (decoded on arrival, the log itself is stored); 1 sends the request
  // with the Range line as its one extra header.
  int32_t noAcceptEncoding = 0;
  int32_t followSeconds = kDefaultFollowSeconds;  // "FollowSeconds": 1 to 3600
  // "IsResumingImports": 1 (the default) lets an import of a plain log file that the
  // last import read, unchanged since and with the same settings, read on from where
  // that import ended instead of from the start (see import/import_mark.h); 0 reads
  // every file from the offset given.
  int32_t isResumingImports = 1;
};

// The import reads these copies, taken when the settings are loaded: a change in the
// Options sheet reaches the import only after the next start.
struct ImportCopies {
  std::string defaultHost;
  std::string extensions = kDefaultExtensions;
  bool agentChaining = false;  // "IsAgentChaining"
  int32_t isModernRules = 1;  // "IsModernRules"; unlike the others, the Options sheet updates it at once
  std::string logFormat;       // "LogFormat": empty reads W3C and common/combined logs
  bool resumeImports = true;   // "IsResumingImports"
};

// The one record of the process. The user-interface thread changes it in dialogs;
// workers take a copy under the lock when they start.
Settings& AppSettings();
std::mutex& SettingsMutex();
Settings CopySettings();
ImportCopies& AppImportCopies();
ImportCopies CopyImportCopies();

// Texts are read into a 260-byte buffer: longer ones are not read and become empty.
inline constexpr size_t kMaxSettingText = 259;

// Names of every value, in the order the store writes them when it creates the key.
extern const std::array<const char*, 41> kSettingNamesCreateOrder;

// A value added after the first release that is missing from an existing store takes
// its default, not 0. False for every other name.
bool AddedSettingDefault(std::string_view name, std::string& value);

// Reads or writes one value by its stored name; false for an unknown name or a value
// out of its range. Numbers are given and taken as decimal text.
bool GetSettingByName(const Settings& settings, std::string_view name, std::string& value);
bool SetSettingByName(Settings& settings, std::string_view name, std::string_view value);
bool IsNumericSetting(std::string_view name);

// The three proxy ports hold 1 to 65535, or 0 while none is set.
bool IsPortSetting(std::string_view name);
constexpr bool IsValidPort(int64_t port) { return port >= 1 && port <= 65535; }
// Why a value cannot be taken for a setting ("" when it can): not a number, not a port,
// out of range.
std::string SettingValueProblem(std::string_view name, std::string_view value);

}  // namespace weavil
