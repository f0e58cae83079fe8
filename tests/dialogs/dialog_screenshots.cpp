// Pictures of every dialog with typical values, for checking their look without a
// person: dialog_screenshots DIR writes one PNG per dialog into DIR.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTreeWidget>

#include <cstdio>

#include "reports/country_names.h"
#include "settings/settings.h"
#include "shell/dialogs/download_dialog.h"
#include "shell/dialogs/filter_dialog.h"
#include "shell/dialogs/items_list_dialog.h"
#include "shell/dialogs/progress_window.h"
#include "shell/dialogs/resolve_ip_dialog.h"
#include "shell/dialogs/visitor_info_dialog.h"
#include "shell/dialogs/whois_dialog.h"

using namespace weavil;

namespace {

bool Save(QWidget& widget, const QString& dir, const char* name) {
  widget.show();
  QApplication::processEvents();
  QString path = dir + '/' + QString::fromLatin1(name) + QStringLiteral(".png");
  bool saved = widget.grab().save(path);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", path.toLocal8Bit().constData());
  widget.hide();
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: dialog_screenshots DIR\n");
    return 2;
  }
  QString dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(dir);
  bool ok = true;

  CountryNames countries;
  countries.Add("DE", "Germany");
  countries.Add("FR", "France");
  countries.Add("US", "United States");

  Settings settings;
  settings.url = "http://www.example.com/logs/access.log";
  settings.path = "/home/anna/logs/";
  settings.isLogin = 1;
  settings.login = "anna";
  settings.pass = "secret";
  settings.isAutoResolve = 1;
  settings.isIncremental = 1;
  DownloadDialog download(settings);
  ok &= Save(download, dir, "download-dialog");

  ProgressWindow progress(nullptr);
  progress.SetTitle(QStringLiteral("Download progress"));
  progress.SetLine(1, QStringLiteral("Downloading data..."));
  progress.SetLine(2, QString::fromStdString(DownloadProgressText(1234000, 5120000)));
  progress.SetProgress(1234000, 5120000);
  progress.Start();
  ok &= Save(progress, dir, "download-progress");

  ResolveIpDialog resolve(false);
  for (const char* row : {"192.0.2.1|crawl-1.search.example", "192.0.2.7|*", "198.51.100.4|-", "203.0.113.9|"}) {
    QStringList parts = QString::fromLatin1(row).split('|');
    resolve.List()->addTopLevelItem(new QTreeWidgetItem(parts));
  }
  ok &= Save(resolve, dir, "resolve-ip");

  WhoisDialog whois(nullptr, nullptr, QStringLiteral("192.0.2.9"), QString(),
                    QStringLiteral("inetnum:        192.0.2.0 - 192.0.2.255\r\nnetname:        TEST-NET-1\r\n"
                                   "descr:          Documentation addresses\r\ncountry:        US\r\n"));
  ok &= Save(whois, dir, "whois");

  ReportFilter filter;
  filter.applyFilter = 1;
  filter.noRobots = 1;
  filter.isPages = 1;
  filter.pages = "/index.html /download.html";
  filter.countries = "DE FR";
  filter.isPeriod = 1;
  filter.period = "Month+";
  FilterDialog filterDialog(filter, countries);
  ok &= Save(filterDialog, dir, "filter");

  ItemsListDialog items(ItemsListKind::kCountries, QStringLiteral("DE FR"), countries,
                        {"France", "Germany", "United States"});
  ok &= Save(items, dir, "items-list");

  VisitorUpdate visitor;
  visitor.address = "192.0.2.9";
  visitor.url = "host9.example.de";
  visitor.countryCode = "DE";
  visitor.comments = "Reads the download page every week.";
  VisitorInfoDialog visitorDialog(visitor, countries);
  ok &= Save(visitorDialog, dir, "visitor-information");
  return ok ? 0 : 1;
}
