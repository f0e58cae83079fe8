#include "shell/main_frame.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMetaObject>
#include <QMutex>
#include <QPointer>
#include <QProgressBar>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

#include <algorithm>
#include <ctime>
#include <mutex>

#include "cli/html_export.h"
#include "reports/country_names.h"
#include "reports/embedded_pages.h"
#include "reports/session_views.h"
#include "reports/visit_details.h"
#include "settings/settings.h"
#include "settings/settings_store.h"
#include "shell/about_box.h"
#include "shell/chart_host.h"
#include "shell/dialogs/dialog_parts.h"
#include "shell/help_window.h"
#include "shell/options_sheet.h"
#include "shell/page_browser.h"
#include "shell/report_tabs.h"
#include "shell/shell_images.h"
#include "shell/shell_prompts.h"
#include "shell/tree_list_view.h"
#include "store/clear_database.h"
#include "store/database.h"
#include "store/result.h"
#include "store/view_requests.h"

namespace weavil {

// Hands work from worker threads to the window, and to nothing once the window is gone
// (an import still running at exit must not post into a destroyed window).
class UiPoster {
 public:
  explicit UiPoster(QObject* target) : target_(target) {}
  template <typename F>
  void Post(F&& work) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (target_) QMetaObject::invokeMethod(target_, std::forward<F>(work), Qt::QueuedConnection);
  }
  void Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    target_ = nullptr;
  }

 private:
  std::mutex mutex_;
  QObject* target_;
};

// The import worker's progress goes to the status bar; closing the window cancels it.
class ImportMonitor : public ImportProgress {
 public:
  ImportMonitor(std::shared_ptr<UiPoster> poster, QProgressBar* bar) : poster_(std::move(poster)), bar_(bar) {}
  void OnProgress(int64_t bytesRead, int64_t bytesTotal, int64_t, int64_t) override {
    int percent = bytesTotal > 0 ? static_cast<int>(bytesRead * 100 / bytesTotal) : 0;
    QProgressBar* bar = bar_;
    poster_->Post([bar, percent] { bar->setValue(percent); });
  }
  bool Cancelled() override { return cancel.load(); }
  std::atomic<bool> cancel{false};

 private:
  std::shared_ptr<UiPoster> poster_;
  QProgressBar* bar_;
};

namespace {

struct CommandText {
  int id;
  const char* text;
  const char* prompt;  // the string table's "prompt\ntooltip", or null
};

// The menu texts and the status-bar prompts with their tooltips. The menu shows each
// command's key from its shortcut, so it names only keys that act (Ctrl+C stays Copy).
constexpr CommandText kCommands[] = {
    {kCmdConnect, "&Connect", "Connect to the Log DB\nConnect"},
    {kCmdOpen, "&Open...", "Open Local Log file\nOpen"},
    {kCmdOpenUrl, "Open &Url...", "Open Url\nOpen Url"},
    {kCmdResolve, "&Resolve...", "Resolve IP address\nResolve"},
    {kCmdExportHtml, "Export &HTML...", "Write the reports with their charts into one HTML page\nExport HTML"},
    {kCmdExit, "E&xit", nullptr},
    {kCmdVisitor, "Visitor...", nullptr},
    {kCmdFilter, "Filter...", "Set Filter\nFilter"},
    {kCmdWhois, "WhoIs...", "WhoIs service"},
    {kCmdClear, "Clear...", "Clear database records"},
    {kCmdOptions, "Options...", "Set program options"},
    {kCmdViewToolbar, "&Toolbar", nullptr},
    {kCmdViewStatusBar, "&Status Bar", nullptr},
    {kCmdHelp, "Help", nullptr},
    {kCmdAbout, "&About Rovan...", nullptr},
};

QString FolderOf(const QString& file) {
  QString folder = QFileInfo(file).absolutePath();
  if (!folder.endsWith('/')) folder += '/';
  return folder;
}

}  // namespace

MainFrame::MainFrame(const std::string& programDir, QWidget* parent)
    : QMainWindow(parent), programDir_(programDir), desktopConventions_(CopySettings().isDesktopConventions != 0) {
  poster_ = std::make_shared<UiPoster>(this);
  setWindowTitle(QStringLiteral("Weavil"));
  setWindowIcon(ProgramIcon());
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  CreatePanes();
  resize(kDefaultWidth, kDefaultHeight);
  if (desktopConventions_) RestoreWindowState();

  if (CopySettings().isAutoConnect) {
    RaiseResetViews();
    RaiseReloadViews();
  }

  // Idle work: when the loop is about to wait, and a slow poll for requests raised by
  // workers while the loop sleeps.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &MainFrame::ScheduleIdle);
  auto* poll = new QTimer(this);
  poll->setInterval(250);
  connect(poll, &QTimer::timeout, this, [this] {
    if (ResetViewsRaised() || ReloadViewsRaised()) ScheduleIdle();
  });
  poll->start();
}

MainFrame::~MainFrame() {
  poster_->Detach();
  StopImport();
}

// ------------------------------------------------------------------ building

void MainFrame::CreateActions() {
  for (const CommandText& command : kCommands) {
    auto* action = new QAction(QString::fromUtf8(command.text), this);
    action->setData(command.id);
    if (command.prompt) {
      QString prompt = QString::fromUtf8(command.prompt);
      int newline = prompt.indexOf('\n');
      action->setStatusTip(newline < 0 ? prompt : prompt.left(newline));
      if (newline >= 0) action->setToolTip(prompt.mid(newline + 1));
    } else {
      action->setStatusTip(QString());
    }
    actions_[command.id] = action;
  }
  // The keys of the accelerator table; the first shortcut is the one the menu shows.
  actions_[kCmdConnect]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  actions_[kCmdOpen]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  actions_[kCmdVisitor]->setShortcuts({QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Return)});
  actions_[kCmdVisitor]->setEnabled(false);
  if (desktopConventions_) {
    actions_[kCmdExit]->setShortcut(QKeySequence::Quit);
    actions_[kCmdHelp]->setShortcut(QKeySequence::HelpContents);
  }
  actions_[kCmdViewToolbar]->setCheckable(true);
  actions_[kCmdViewToolbar]->setChecked(true);
  actions_[kCmdViewStatusBar]->setCheckable(true);
  actions_[kCmdViewStatusBar]->setChecked(true);

  QStyle* style = QApplication::style();
  actions_[kCmdConnect]->setIcon(style->standardIcon(QStyle::SP_BrowserReload));
  actions_[kCmdOpen]->setIcon(style->standardIcon(QStyle::SP_DialogOpenButton));
  actions_[kCmdOpenUrl]->setIcon(style->standardIcon(QStyle::SP_DriveNetIcon));
  actions_[kCmdAbout]->setIcon(ProgramIcon());

  connect(actions_[kCmdConnect], &QAction::triggered, this, &MainFrame::OnConnect);
  connect(actions_[kCmdOpen], &QAction::triggered, this, &MainFrame::OnOpen);
  connect(actions_[kCmdOpenUrl], &QAction::triggered, this, &MainFrame::OnOpenUrl);
  connect(actions_[kCmdResolve], &QAction::triggered, this, &MainFrame::OnResolve);
  connect(actions_[kCmdExit], &QAction::triggered, this, &MainFrame::OnExit);
  connect(actions_[kCmdVisitor], &QAction::triggered, this, &MainFrame::OnVisitor);
  connect(actions_[kCmdFilter], &QAction::triggered, this, &MainFrame::OnFilter);
  connect(actions_[kCmdWhois], &QAction::triggered, this, &MainFrame::OnWhois);
  connect(actions_[kCmdClear], &QAction::triggered, this, &MainFrame::OnClear);
  connect(actions_[kCmdOptions], &QAction::triggered, this, &MainFrame::OnOptions);
  connect(actions_[kCmdViewToolbar], &QAction::toggled, this, &MainFrame::OnToggleToolBar);
  connect(actions_[kCmdViewStatusBar], &QAction::toggled, this, &MainFrame::OnToggleStatusBar);
  connect(actions_[kCmdHelp], &QAction::triggered, this, &MainFrame::OnHelp);
  connect(actions_[kCmdAbout], &QAction::triggered, this, &MainFrame::OnAbout);
  connect(actions_[kCmdExportHtml], &QAction::triggered, this, &MainFrame::OnExportHtml);
}

void MainFrame::CreateMenus() {
  QMenuBar* bar = menuBar();
  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  file->addAction(actions_[kCmdConnect]);
  file->addAction(actions_[kCmdOpen]);
  file->addAction(actions_[kCmdOpenUrl]);
  file->addAction(actions_[kCmdResolve]);
  if (desktopConventions_) file->addAction(actions_[kCmdExportHtml]);
  file->addSeparator();
  file->addAction(actions_[kCmdExit]);

  QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
  edit->addAction(actions_[kCmdVisitor]);

  QMenu* tools = bar->addMenu(QStringLiteral("&Tools"));
  tools->addAction(actions_[kCmdFilter]);
  tools->addSeparator();
  tools->addAction(actions_[kCmdWhois]);
  tools->addSeparator();
  QMenu* database = tools->addMenu(QStringLiteral("Database"));
  database->addAction(actions_[kCmdClear]);
  tools->addSeparator();
  tools->addAction(actions_[kCmdOptions]);

  QMenu* view = bar->addMenu(QStringLiteral("&View"));
  view->addAction(actions_[kCmdViewToolbar]);
  view->addAction(actions_[kCmdViewStatusBar]);

  QMenu* help = bar->addMenu(QStringLiteral("&Help"));
  help->addAction(actions_[kCmdHelp]);
  help->addSeparator();
  help->addAction(actions_[kCmdAbout]);
}

void MainFrame::CreateToolBar() {
  toolBar_ = addToolBar(QStringLiteral("Toolbar"));
  toolBar_->setObjectName(QStringLiteral("toolBar"));
  toolBar_->setIconSize(QSize(16, 16));
  toolBar_->setMovable(false);
  toolBar_->addAction(actions_[kCmdConnect]);
  toolBar_->addAction(actions_[kCmdOpen]);
  toolBar_->addAction(actions_[kCmdOpenUrl]);
  toolBar_->addSeparator();
  toolBar_->addAction(actions_[kCmdAbout]);
  // Hiding the bar by its own context menu keeps the View item in step.
  connect(toolBar_, &QToolBar::visibilityChanged, this, [this](bool visible) {
    if (!isVisible()) return;
    QSignalBlocker block(actions_[kCmdViewToolbar]);
    actions_[kCmdViewToolbar]->setChecked(visible);
  });
}

void MainFrame::CreateStatusBar() {
  readyLabel_ = new QLabel(QStringLiteral("Ready"));
  statusBar()->addWidget(readyLabel_, 1);
  importProgress_ = new QProgressBar;
  importProgress_->setRange(0, 100);
  importProgress_->setMaximumWidth(160);
  importProgress_->setMaximumHeight(14);
  importProgress_->setTextVisible(false);
  importProgress_->hide();
  statusBar()->addPermanentWidget(importProgress_);
}

void MainFrame::CreatePanes() {
  splitter_ = MakeNamed<QSplitter>("splitter", Qt::Horizontal, this);
  splitter_->setChildrenCollapsible(false);
  tabs_ = MakeNamed<ReportTabs>("reportTabs", splitter_);
  rightPane_ = MakeNamed<QStackedWidget>("rightPane", splitter_);

  startPage_ = MakeNamed<PageBrowser>("startPage", rightPane_);
  startPage_->SetHtml(std::string(StartPageHtml()));
  detailsPage_ = MakeNamed<PageBrowser>("detailsPage", rightPane_);
  detailsHtml_.Load(std::string(DetailsPageHtml()));
  detailsPage_->SetHtml(detailsHtml_.Html());
  charts_ = new ChartHost(programDir_, rightPane_);
  if (desktopConventions_) {
    startPage_->SetFollowPalette(true);
    detailsPage_->SetFollowPalette(true);
    startPage_->SetHideStrayScrollBar(true);
    detailsPage_->SetHideStrayScrollBar(true);
    charts_->ApplyColours(palette(), true);
  }

  // The stack's order follows RightPane.
  rightPane_->addWidget(startPage_);
  rightPane_->addWidget(charts_->TimeSeriesHost());
  rightPane_->addWidget(charts_->ItemsHost());
  rightPane_->addWidget(detailsPage_);
  rightPane_->setCurrentWidget(startPage_);

  splitter_->addWidget(tabs_);
  splitter_->addWidget(rightPane_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  // The desktop's way: the left pane as wide as every tab needs (a larger font or
  // another style than the classic one would hide some behind scroll arrows).
  int left = kSplitterPosition;
  if (desktopConventions_) left = std::max(left, tabs_->tabBar()->sizeHint().width() + 2 * tabs_->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 4);
  splitter_->setSizes({left, kDefaultWidth - left});
  setCentralWidget(splitter_);

  // The header of every report uses the menu bar's font.
  for (int tab = 0; tab < kReportTabCount; ++tab)
    tabs_->ListView(tab)->TreeWidget()->header()->setFont(menuBar()->font());

  connect(tabs_, &QTabWidget::currentChanged, this, &MainFrame::OnTabChanged);
  connect(tabs_, &ReportTabs::ViewRefreshed, this, &MainFrame::OnViewRefreshed);
  connect(tabs_, &ReportTabs::DetailsRequested, this, &MainFrame::OnVisitor);
  connect(tabs_, &ReportTabs::SelectionNotice, this, [this](int tab) {
    if (tab == tabs_->currentIndex()) OnSelectionChanged();
  });
}

QAction* MainFrame::Action(int commandId) const {
  auto found = actions_.find(commandId);
  return found == actions_.end() ? nullptr : found->second;
}

// ------------------------------------------------------------------ idle work

void MainFrame::ScheduleIdle() {
  if (idleScheduled_) return;
  // Modal dialogs run their own loops; the views wait for the main loop.
  if (QApplication::activeModalWidget()) return;
  if (!ResetViewsRaised() && !ReloadViewsRaised() && themeCountdown_ == 0) return;
  idleScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    idleScheduled_ = false;
    RunIdle();
  });
}

void MainFrame::RunIdle() {
  actions_[kCmdViewToolbar]->setChecked(!toolBar_->isHidden());
  actions_[kCmdViewStatusBar]->setChecked(!statusBar()->isHidden());

  if (themeCountdown_ > 0) {
    if (--themeCountdown_ == 0) ApplyThemeColours();
  }

  if (TakeResetViews()) {
    tabs_->ResetAll();
    charts_->Clear();
    ApplySelectionChart(ShowSelectionChart(nullptr, kNoRow, 0));
  }
  if (TakeReloadViews()) {
    if (CopySettings().isBackThread) {
      reselectPending_ = !selectionPath_.empty();
      tabs_->RefreshAllInBackground();
    } else {
      int tab = tabs_->currentIndex();
      if (tabs_->NeedsLoad(tab) || tabs_->Refreshing(tab)) {
        reselectPending_ = true;
        tabs_->Refresh(tab);
      }
    }
  }
}

void MainFrame::OnViewRefreshed(int tab) {
  TreeListView* list = tabs_->ListView(tab);
  if (tab == tabs_->currentIndex()) {
    if (reselectPending_) {
      reselectPending_ = false;
      if (!selectionPath_.empty()) list->SelectPath(selectionPath_);
    }
    if (tab == kVisitorsTab && syncPending_) {
      syncPending_ = false;
      SyncVisitors();
    }
    UpdateRightPane();
  }
}

void MainFrame::OnTabChanged(int tab) {
  if (tab < 0) return;
  if (tabs_->NeedsLoad(tab) && !tabs_->Refreshing(tab)) tabs_->Refresh(tab);
  if (tab == kVisitorsTab) {
    if (tabs_->NeedsLoad(tab)) syncPending_ = true;
    else SyncVisitors();
  }
  UpdateRightPane();
  tabs_->ListView(tab)->TreeWidget()->setFocus();
}

void MainFrame::SyncVisitors() {
  TreeListView* sessions = tabs_->ListView(kSessionsTab);
  TreeListView* visitors = tabs_->ListView(kVisitorsTab);
  RowId selected = sessions->SelectedRow();
  if (selected == kNoRow || sessions->SelectedKey() <= 0) return;
  DbSession session;
  if (Failed(OpenSourceSession(session))) return;
  RowId row = SyncVisitorsView(*sessions->Tree(), selected, *visitors->Tree(), session);
  session.Close();
  if (row != kNoRow) visitors->SelectRow(row);
}

void MainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::StyleChange:
    case QEvent::ThemeChange:
      // Colours settle over a few passes of the loop after a theme change.
      themeCountdown_ = kThemeCountdown;
      ScheduleIdle();
      break;
    default:
      break;
  }
}

void MainFrame::ApplyThemeColours() {
  charts_->ApplyColours(palette(), desktopConventions_);
  charts_->TimeSeriesHost()->repaint();
  charts_->ItemsHost()->repaint();
  for (int tab = 0; tab < kReportTabCount; ++tab) tabs_->ListView(tab)->TreeWidget()->viewport()->update();
}

// ------------------------------------------------------------------ right pane

void MainFrame::OnSelectionChanged() { UpdateRightPane(); }

void MainFrame::UpdateRightPane() {
  TreeListView* list = tabs_->CurrentListView();
  if (!list) return;
  RowId row = list->SelectedRow();
  ApplySelectionChart(ShowSelectionChart(list->Tree().get(), row, row == kNoRow ? 0 : list->SelectedKey()));
}

void MainFrame::ShowPane(RightPane pane) {
  pane_ = pane;
  rightPane_->setCurrentIndex(static_cast<int>(pane));
}

void MainFrame::ApplySelectionChart(const SelectionChart& chart) {
  switch (chart.pane) {
    case RightPane::kTimeSeries:
      ShowPane(RightPane::kTimeSeries);
      actions_[kCmdVisitor]->setEnabled(false);
      charts_->ShowTimeSeries(chart);
      break;
    case RightPane::kItemsChart:
      ShowPane(RightPane::kItemsChart);
      actions_[kCmdVisitor]->setEnabled(false);
      charts_->ShowItems(chart);
      break;
    case RightPane::kDetails:
      ShowVisitDetails(chart.numId);
      break;
    case RightPane::kStartPage:
      ShowPane(RightPane::kStartPage);
      actions_[kCmdVisitor]->setEnabled(false);
      break;
  }
}

void MainFrame::ShowVisitDetails(int32_t numId) {
  ShowPane(RightPane::kDetails);
  VisitDetails details;
  DbSession session;
  if (!Failed(OpenSourceSession(session))) {
    if (AppCountryNames().Size() == 0) AppCountryNames().Load(session);
    LoadVisitDetails(session, numId, details);
    session.Close();
  }
  if (details.refererQueryFailed)
    Prompts().showError(this, QStringLiteral("Error"),
                        QStringLiteral("The referrer of visit %1 could not be read from the database.").arg(numId));
  detailsHtml_.Load(std::string(DetailsPageHtml()));
  FillDetailsPage(detailsHtml_, details, AppCountryNames());
  ShowDetailsHtml();
  shownVisit_ = numId;
  actions_[kCmdVisitor]->setEnabled(true);
}

void MainFrame::ShowDetailsHtml() { detailsPage_->SetHtml(detailsHtml_.Html()); }

// ------------------------------------------------------------------ commands

void MainFrame::StoreSelectionPath() {
  TreeListView* list = tabs_->CurrentListView();
  selectionPath_ = list ? list->SelectionPath() : std::string();
}

void MainFrame::OnConnect() {
  StoreSelectionPath();
  RaiseResetViews();
  RaiseReloadViews();
  ScheduleIdle();
}

void MainFrame::OnOpen() {
  if (busy_) return;
  QPointer<QWidget> focus = QApplication::focusWidget();
  QString folder = QString::fromStdString(CopySettings().openFilePath);
  QStringList files = Prompts().chooseLogFile(this, folder);
  files.removeAll(QString());
  if (!files.isEmpty()) {
    StoreSelectionPath();
    // Files chosen together are one import, read in the order given.
    ImportJob job;
    job.path = files.front().toStdString();
    job.offset = 0;
    for (qsizetype i = 1; i < files.size(); ++i) job.more.push_back(files[i].toStdString());
    {
      std::lock_guard<std::mutex> lock(SettingsMutex());
      AppSettings().openFilePath = FolderOf(files.front()).toStdString();
    }
    busy_ = true;
    StartImport(job);
  }
  if (focus) focus->setFocus();
}

void MainFrame::StartImport(const ImportJob& job) {
  if (importThread_.joinable()) return;  // one import at a time
  runningJob_ = job;
  importMonitor_ = std::make_shared<ImportMonitor>(poster_, importProgress_);
  importProgress_->setValue(0);
  importProgress_->show();
  std::shared_ptr<UiPoster> poster = poster_;
  std::shared_ptr<ImportMonitor> monitor = importMonitor_;
  MainFrame* frame = this;
  importThread_ = std::thread([job, poster, monitor, frame] {
    ImportWorker(job, monitor.get(), [poster, frame](const ImportStats& stats) {
      // The import-finished command; the poster drops it once the window is gone.
      poster->Post([frame, stats] {
        frame->lastImport_ = stats;
        frame->OnImportFinished();
      });
    });
  });
}

void MainFrame::OnDownloadFinished() { StartImport(downloadJob_); }

void MainFrame::OnImportFinished() {
  bool downloadPreceded = false;
  if (progressCloser_) {
    progressCloser_();
    progressCloser_ = nullptr;
    downloadPreceded = true;
  }
  if (importThread_.joinable()) importThread_.join();
  importMonitor_.reset();
  importProgress_->hide();
  activateWindow();
  busy_ = false;
  std::string problem = ImportProblem(lastImport_);
  if (!lastImport_.formatError.empty()) {
    Prompts().showError(this, QStringLiteral("Error"),
                        QStringLiteral("The LogFormat setting cannot be used: %1.").arg(QString::fromStdString(problem)));
  } else if (!lastImport_.opened) {
    const std::string& path = lastImport_.unopenedPath.empty() ? runningJob_.path : lastImport_.unopenedPath;
    Prompts().showError(this, QStringLiteral("Error"),
                        QStringLiteral("Cannot open the log file %1.").arg(QString::fromStdString(path)));
  } else if (lastImport_.databaseFailed) {
    Prompts().showError(this, QStringLiteral("Error"),
                        QStringLiteral("The import of %1 stored nothing: %2.")
                            .arg(QString::fromStdString(runningJob_.path), QString::fromStdString(lastImport_.error)));
  } else if (!problem.empty() && !lastImport_.cancelled) {
    // What could be read is stored; the message says what was not.
    QString text = QString::fromStdString(problem);
    text[0] = text[0].toUpper();
    Prompts().showError(this, QStringLiteral("Error"), text + QStringLiteral("."));
  }
  if (downloadPreceded && CopySettings().isAutoResolve) {
    autoResolve_ = true;
    QTimer::singleShot(0, this, &MainFrame::OnResolve);
  }
  emit ImportFinishedHandled();
}

void MainFrame::StopImport() {
  if (!importThread_.joinable()) return;
  // Leaving during an import: abandon it (it stores nothing) rather than let it run on
  // against a data source the program is releasing.
  if (importMonitor_) importMonitor_->cancel.store(true);
  importThread_.join();
}

void MainFrame::OnClear() {
  ClearPrompts prompts;
  prompts.confirm = [this](std::string_view title, std::string_view text) {
    return Prompts().confirm(this, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
                             QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  };
  prompts.showError = [this](std::string_view title, std::string_view text) {
    Prompts().showError(this, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
                        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  };
  ClearDatabase(prompts);
  ScheduleIdle();
}

void MainFrame::OnOptions() {
  OptionsSheet sheet(this);
  sheet.exec();
}

void MainFrame::OnToggleToolBar(bool shown) { toolBar_->setVisible(shown); }

void MainFrame::OnToggleStatusBar(bool shown) { statusBar()->setVisible(shown); }

void MainFrame::OnHelp() { HelpWindow::Open(programDir_); }

void MainFrame::OnAbout() {
  AboutBox box(this);
  box.exec();
}

void MainFrame::OnExit() { close(); }

void MainFrame::OnExportHtml() {
  QString suggested = QDir::home().filePath(QStringLiteral("weavil-report.html"));
  QString file = Prompts().chooseReportFile(this, suggested);
  if (file.isEmpty()) return;
  DbSession session;
  if (Failed(OpenSourceSession(session))) {
    Prompts().showError(this, QStringLiteral("Error"), QStringLiteral("Cannot open the database."));
    return;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  HtmlExportStats stats;
  std::string error;
  bool written = ExportHtmlReport(programDir_, session, CopyReportFilter(), std::time(nullptr), file.toStdString(),
                                  stats, error);
  QApplication::restoreOverrideCursor();
  if (!written) {
    Prompts().showError(this, QStringLiteral("Error"), QString::fromStdString(error));
  } else if (stats.chartsFailed > 0) {
    Prompts().showError(this, QStringLiteral("Error"),
                        QStringLiteral("%1 was written without %2 of its charts: %3")
                            .arg(file)
                            .arg(stats.chartsFailed)
                            .arg(QString::fromStdString(stats.chartError)));
  } else {
    statusBar()->showMessage(QStringLiteral("Wrote %1").arg(file), 5000);
  }
}

// ------------------------------------------------------------------ window state

namespace {
constexpr const char* kWindowGeometryKey = "Window/Geometry";
constexpr const char* kSplitterKey = "Window/Splitter";
}  // namespace

void MainFrame::RestoreWindowState() {
  QSettings ini(QString::fromStdString(DefaultSettingsFile()), QSettings::IniFormat);
  QByteArray geometry = ini.value(QLatin1String(kWindowGeometryKey)).toByteArray();
  if (!geometry.isEmpty()) restoreGeometry(geometry);
  QByteArray splitter = ini.value(QLatin1String(kSplitterKey)).toByteArray();
  if (!splitter.isEmpty()) splitter_->restoreState(splitter);
}

void MainFrame::SaveWindowState() {
  QSettings ini(QString::fromStdString(DefaultSettingsFile()), QSettings::IniFormat);
  ini.setValue(QLatin1String(kWindowGeometryKey), saveGeometry());
  ini.setValue(QLatin1String(kSplitterKey), splitter_->saveState());
}

void MainFrame::closeEvent(QCloseEvent* event) {
  if (desktopConventions_) SaveWindowState();
  StopImport();
  HelpWindow::CloseAll();
  QMainWindow::closeEvent(event);
}

}  // namespace weavil
