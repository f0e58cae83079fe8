#include "shell/options_sheet.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <filesystem>
#include <mutex>
#include <tuple>

#include "settings/settings.h"
#include "shell/dialogs/dialog_parts.h"
#include "shell/shell_prompts.h"
#include "store/data_source_registry.h"
#include "store/database.h"
#include "store/pg_backend.h"

namespace weavil {
namespace {

QLineEdit* HostEdit(const std::string& value, QWidget* parent) {
  auto* edit = new QLineEdit(QString::fromStdString(value), parent);
  edit->setMaxLength(OptionsSheet::kHostLimit);
  return edit;
}

QLineEdit* PortEdit(int32_t value, QWidget* parent) {
  auto* edit = new QLineEdit(QString::number(value), parent);
  edit->setMaxLength(10);
  edit->setMaximumWidth(80);
  return edit;
}

// A number of seconds from minimum to maximum, its meaning in the tooltip.
QSpinBox* SecondsBox(int minimum, int maximum, int value, const QString& tip, QWidget* parent) {
  auto* box = new QSpinBox(parent);
  box->setRange(minimum, maximum);
  box->setSuffix(QStringLiteral(" s"));
  box->setValue(value);
  box->setToolTip(tip);
  return box;
}

std::string Cut(const QString& text, int limit) { return text.left(limit).toStdString(); }

}  // namespace

int ParsePortText(const QString& text) {
  // As a decimal conversion reads it: leading blanks, a sign, then digits up to the first
  // other character; text that starts with no number gives 0.
  std::string bytes = text.toStdString();
  size_t i = 0;
  while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t')) ++i;
  bool negative = false;
  if (i < bytes.size() && (bytes[i] == '-' || bytes[i] == '+')) negative = bytes[i++] == '-';
  int64_t value = 0;
  for (; i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
    value = value * 10 + (bytes[i] - '0');
    if (value > INT32_MAX) return 0;  // out of range: not a port
  }
  return static_cast<int>(negative ? -value : value);
}

OptionsSheet::OptionsSheet(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Options"));
  Settings settings = CopySettings();

  pages_ = new QTabWidget(this);
  pages_->addTab(BuildGeneralPage(settings), QStringLiteral("General"));
  pages_->addTab(BuildProxyPage(settings), QStringLiteral("Proxy"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_);
  layout->addWidget(MakeOkCancel(this));

  connect(useProxy_, &QCheckBox::toggled, this, &OptionsSheet::UpdateProxyEnabling);
  connect(pages_, &QTabWidget::currentChanged, this, [this](int index) {
    if (index == 1) proxyShown_ = true;
  });
  UpdateProxyEnabling();
}

QWidget* OptionsSheet::BuildGeneralPage(const Settings& settings) {
  auto* general = new QWidget;
  auto* generalForm = new QFormLayout(general);
  siteUrl_ = HostEdit(settings.defaultHost, general);
  extensions_ = new QLineEdit(QString::fromStdString(settings.extensions), general);
  extensions_->setMaxLength(kExtensionsLimit);
  extensions_->setMinimumWidth(320);
  agentChaining_ = new QCheckBox(QStringLiteral("Follow a visitor whose address changes by its user agent"), general);
  agentChaining_->setChecked(settings.isAgentChaining != 0);
  autoConnect_ = new QCheckBox(QStringLiteral("Autoconnect at start"), general);
  autoConnect_->setChecked(settings.isAutoConnect != 0);
  generalForm->addRow(QStringLiteral("Site URL:"), siteUrl_);
  generalForm->addRow(QStringLiteral("Review resources:"), extensions_);
  generalForm->addRow(QString(), agentChaining_);
  generalForm->addRow(QString(), autoConnect_);
  modernRules_ = new QCheckBox(QStringLiteral("Recognise today's browsers, systems and robots"), general);
  modernRules_->setChecked(settings.isModernRules != 0);
  generalForm->addRow(QString(), modernRules_);
  busySeconds_ = SecondsBox(0, kMaxBusySeconds, settings.busySeconds,
                            QStringLiteral("How long an import or update waits while another program writes to the database"),
                            general);
  generalForm->addRow(QStringLiteral("Wait for a busy database:"), busySeconds_);
  followSeconds_ = SecondsBox(1, kMaxFollowSeconds, settings.followSeconds,
                              QStringLiteral("How often weavil import --follow reads what was added to the log"), general);
  generalForm->addRow(QStringLiteral("Read a followed log every:"), followSeconds_);
  std::string registered;
  LookupDataSource("Log", registered);
  registeredDatabase_ = QString::fromStdString(registered);
  database_ = new QLineEdit(registeredDatabase_, general);
  database_->setToolTip(QStringLiteral("A database file, or a PostgreSQL database: postgresql://USER@HOST/DATABASE"));
  database_->setPlaceholderText(QStringLiteral("file, or postgresql://USER@HOST/DATABASE"));
  generalForm->addRow(QStringLiteral("Database:"), database_);
  auto* note = new QLabel(QStringLiteral("Changes to the site, the resources and the following of visitors apply to imports after the next start; "
                                         "a changed database opens at the next start."),
                          general);
  note->setWordWrap(true);
  note->setEnabled(false);
  generalForm->addRow(QString(), note);
  return general;
}

QWidget* OptionsSheet::BuildProxyPage(const Settings& settings) {
  auto* proxy = new QWidget;
  auto* proxyGrid = new QGridLayout(proxy);
  useProxy_ = new QCheckBox(QStringLiteral("Use Proxy"), proxy);
  useProxy_->setChecked(settings.isProxy != 0);
  httpHost_ = HostEdit(settings.proxyHttp, proxy);
  httpPort_ = PortEdit(settings.proxyPortHttp, proxy);
  ftpHost_ = HostEdit(settings.proxyFtp, proxy);
  ftpPort_ = PortEdit(settings.proxyPortFtp, proxy);
  socksHost_ = HostEdit(settings.proxy, proxy);
  socksPort_ = PortEdit(settings.proxyPort, proxy);
  proxyGrid->addWidget(useProxy_, 0, 0, 1, 4);
  const std::tuple<const char*, QLineEdit*, QLineEdit*> rows[] = {
      {"HTTP:", httpHost_, httpPort_}, {"FTP:", ftpHost_, ftpPort_}, {"SOCKS", socksHost_, socksPort_}};
  int line = 1;
  for (const auto& [caption, host, port] : rows) {
    proxyGrid->addWidget(new QLabel(QString::fromLatin1(caption), proxy), line, 0);
    proxyGrid->addWidget(host, line, 1);
    proxyGrid->addWidget(new QLabel(QStringLiteral("Port:"), proxy), line, 2);
    proxyGrid->addWidget(port, line, 3);
    ++line;
  }
  proxyGrid->setRowStretch(4, 1);
  return proxy;
}

void OptionsSheet::UpdateProxyEnabling() {
  bool on = useProxy_->isChecked();
  for (QLineEdit* edit : {httpHost_, httpPort_, ftpHost_, ftpPort_, socksHost_, socksPort_}) edit->setEnabled(on);
}

void OptionsSheet::ApplyTo(Settings& settings) const {
  settings.isAutoConnect = autoConnect_->isChecked() ? 1 : 0;
  settings.isAgentChaining = agentChaining_->isChecked() ? 1 : 0;
  settings.isModernRules = modernRules_->isChecked() ? 1 : 0;
  settings.defaultHost = Cut(siteUrl_->text(), kHostLimit);
  settings.extensions = Cut(extensions_->text(), kExtensionsLimit);
  settings.busySeconds = busySeconds_->value();
  settings.followSeconds = followSeconds_->value();
  if (!proxyShown_) return;  // a page never shown keeps the values it was never shown
  settings.isProxy = useProxy_->isChecked() ? 1 : 0;
  settings.proxyHttp = Cut(httpHost_->text(), kHostLimit);
  settings.proxyFtp = Cut(ftpHost_->text(), kHostLimit);
  settings.proxy = Cut(socksHost_->text(), kHostLimit);
  settings.proxyPortHttp = ParsePortText(httpPort_->text());
  settings.proxyPortFtp = ParsePortText(ftpPort_->text());
  settings.proxyPort = ParsePortText(socksPort_->text());
}

QString OptionsSheet::PortProblem() const {
  if (!proxyShown_) return {};
  const std::pair<const char*, QLineEdit*> ports[] = {{"HTTP", httpPort_}, {"FTP", ftpPort_}, {"SOCKS", socksPort_}};
  for (const auto& [name, edit] : ports) {
    int port = ParsePortText(edit->text());
    if (port != 0 && !IsValidPort(port)) return QStringLiteral("%1 port %2").arg(QLatin1String(name), edit->text());
  }
  return {};
}

void OptionsSheet::accept() {
  // A port out of range would be used modulo 65536, reaching another service.
  QString problem = PortProblem();
  if (!problem.isEmpty()) {
    Prompts().showError(this, QStringLiteral("Error"),
                        QStringLiteral("Ports are 1 to 65535 (0 for none), not the %1.").arg(problem));
    return;
  }
  QString database = database_->text().trimmed();
  if (database != registeredDatabase_) {
    std::string path = database.toStdString();
    std::error_code ec;
    if (database.isEmpty() || (!pg::IsServerUri(path) && !std::filesystem::is_regular_file(path, ec))) {
      Prompts().showError(this, QStringLiteral("Error"),
                          QStringLiteral("The database is an existing file or a postgresql:// URI, not \"%1\".").arg(database));
      return;
    }
    if (!RegisterDataSource("Log", path)) {
      Prompts().showError(this, QStringLiteral("Error"),
                          QStringLiteral("The data-source list %1 cannot be written.")
                              .arg(QString::fromStdString(DataSourceListPath())));
      return;
    }
    registeredDatabase_ = database;
  }
  int busySeconds = 0;
  {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    ApplyTo(AppSettings());
    busySeconds = AppSettings().busySeconds;
    AppImportCopies().isModernRules = AppSettings().isModernRules;  // the next import uses it
  }
  SetDatabaseBusySeconds(busySeconds);
  QDialog::accept();
}

}  // namespace weavil
