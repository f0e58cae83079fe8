#pragma once
// The "Options" property sheet: the "General" page (site host, page extensions,
// automatic connection, the database of the data source "Log") and the "Proxy" page
// (HTTP, FTP and SOCKS proxies). OK writes into the settings record, which reaches the
// settings file at exit, and a changed database into the data-source list at once (the
// program opens it at its next start).
#include <QDialog>

class QCheckBox;
class QLineEdit;
class QSpinBox;
class QTabWidget;

namespace weavil {

struct Settings;

class OptionsSheet : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kHostLimit = 99;
  static constexpr int kExtensionsLimit = 249;

  explicit OptionsSheet(QWidget* parent = nullptr);

  // Takes the pages' values into settings: the General page always, the Proxy page only
  // when it has been shown.
  void ApplyTo(Settings& settings) const;
  // The first port field of a shown Proxy page holding no port (1 to 65535, or 0 for
  // none), as "HTTP port 112744"; empty when every port can be taken.
  QString PortProblem() const;
  bool ProxyPageShown() const { return proxyShown_; }

  QTabWidget* Pages() const { return pages_; }
  QLineEdit* SiteUrl() const { return siteUrl_; }
  QLineEdit* Extensions() const { return extensions_; }
  QCheckBox* AutoConnect() const { return autoConnect_; }
  QCheckBox* AgentChaining() const { return agentChaining_; }
  QSpinBox* BusySeconds() const { return busySeconds_; }
  QSpinBox* FollowSeconds() const { return followSeconds_; }
  QCheckBox* ModernRules() const { return modernRules_; }
  // The database of the data source "Log": a file, or a postgresql:// URI.
  QLineEdit* Database() const { return database_; }
  QCheckBox* UseProxy() const { return useProxy_; }
  QLineEdit* HttpHost() const { return httpHost_; }
  QLineEdit* HttpPort() const { return httpPort_; }
  QLineEdit* FtpHost() const { return ftpHost_; }
  QLineEdit* FtpPort() const { return ftpPort_; }
  QLineEdit* SocksHost() const { return socksHost_; }
  QLineEdit* SocksPort() const { return socksPort_; }

  void accept() override;

 private:
  // The pages, their fields filled from settings.
  QWidget* BuildGeneralPage(const Settings& settings);
  QWidget* BuildProxyPage(const Settings& settings);
  void UpdateProxyEnabling();

  QTabWidget* pages_ = nullptr;
  QLineEdit* siteUrl_ = nullptr;
  QLineEdit* extensions_ = nullptr;
  QCheckBox* agentChaining_ = nullptr;
  QCheckBox* autoConnect_ = nullptr;
  QSpinBox* busySeconds_ = nullptr;
  QSpinBox* followSeconds_ = nullptr;
  QCheckBox* modernRules_ = nullptr;
  QLineEdit* database_ = nullptr;
  QString registeredDatabase_;
  QCheckBox* useProxy_ = nullptr;
  QLineEdit *httpHost_ = nullptr, *httpPort_ = nullptr;
  QLineEdit *ftpHost_ = nullptr, *ftpPort_ = nullptr;
  QLineEdit *socksHost_ = nullptr, *socksPort_ = nullptr;
  bool proxyShown_ = false;
};

// A port as the sheet reads it: a decimal integer, 0 for text that is not a number.
int ParsePortText(const QString& text);

}  // namespace weavil
