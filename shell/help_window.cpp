#include "shell/help_window.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "reports/visit_details.h"
#include "settings/program_folders.h"
#include "shell/shell_images.h"
#include "shell/shell_prompts.h"

namespace weavil {
namespace {

QPointer<HelpWindow>& Instance() {
  static QPointer<HelpWindow> window;
  return window;
}

}  // namespace

HelpWindow::HelpWindow(const QString& indexFile, QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Weavil Help"));
  setWindowIcon(ProgramIcon());
  setAttribute(Qt::WA_DeleteOnClose);
  browser_ = new QTextBrowser(this);
  browser_->setOpenExternalLinks(false);
  browser_->setOpenLinks(false);
  auto* bar = new QToolBar(this);
  QAction* back = bar->addAction(QStringLiteral("Back"), browser_, &QTextBrowser::backward);
  QAction* forward = bar->addAction(QStringLiteral("Forward"), browser_, &QTextBrowser::forward);
  bar->addAction(QStringLiteral("Contents"), browser_, &QTextBrowser::home);
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
  connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
    // Pages of the help stay here; addresses on the web go to the desktop browser.
    if (url.isRelative() || url.isLocalFile()) browser_->setSource(browser_->source().resolved(url));
    else if (IsLinkUrl(url.toString(QUrl::FullyEncoded).toStdString())) QDesktopServices::openUrl(url);
  });
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(bar);
  layout->addWidget(browser_);
  browser_->setSource(QUrl::fromLocalFile(indexFile));
  resize(720, 600);
}

HelpWindow* HelpWindow::Open(const std::string& programDir) {
  QString index = QString::fromStdString(ProgramDataDir(programDir) + kHelpIndexPage);
  if (!QFileInfo::exists(index)) {
    Prompts().showError(nullptr, QStringLiteral("Error"), QStringLiteral("Cannot open the help file %1.").arg(index));
    return nullptr;
  }
  QPointer<HelpWindow>& window = Instance();
  if (!window) window = new HelpWindow(index);
  else window->browser_->setSource(QUrl::fromLocalFile(index));
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

HelpWindow* HelpWindow::Current() { return Instance(); }

void HelpWindow::CloseAll() {
  if (Instance()) Instance()->close();
}

}  // namespace weavil
