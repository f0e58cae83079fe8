#pragma once
// The main window: menu, toolbar and status bar, the six report tabs beside the right
// pane (start page, time-series chart, labelled-values chart, visit details), the
// commands, and the idle-time work that serves the view requests.
#include <QMainWindow>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "import/import_driver.h"
#include "reports/chart_export.h"
#include "reports/html_page.h"

class QAction;
class QLabel;
class QProgressBar;
class QSplitter;
class QStackedWidget;
class QToolBar;

namespace weavil {

class ChartHost;
class PageBrowser;
class ReportTabs;
class UiPoster;
class ImportMonitor;

// Command identifiers of the menu, the toolbar and the posted commands.
enum CommandId : int {
  kCmdHelp = 9,
  kCmdResolve = 32772,
  kCmdOpenUrl = 32776,
  kCmdFilter = 32777,
  kCmdVisitor = 32778,
  kCmdOptions = 32780,
  kCmdDownloadFinished = 32781,
  kCmdImportFinished = 32782,
  kCmdSelectionChanged = 32783,
  kCmdClear = 32784,
  kCmdWhois = 32786,
  kCmdExportHtml = 32790,
  kCmdConnect = 57600,
  kCmdOpen = 57601,
  kCmdAbout = 57664,
  kCmdExit = 57665,
  kCmdViewToolbar = 59392,
  kCmdViewStatusBar = 59393,
};

inline constexpr const char* kProgramVersionText = "Weavil v 1.4";
inline constexpr int kSplitterPosition = 425;
inline constexpr int kDefaultWidth = 1100;
inline constexpr int kDefaultHeight = 720;
// Idle passes between a palette or theme change and the new chart colours.
inline constexpr int kThemeCountdown = 10;

class MainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // programDir: the program's folder with a trailing "/" (the chart library and the
  // help pages are found there).
  explicit MainFrame(const std::string& programDir, QWidget* parent = nullptr);
  ~MainFrame() override;

  // -------------------------------------------------------------- state
  // Set while an open, download or import sequence runs.
  bool Busy() const { return busy_; }
  void SetBusy(bool busy) { busy_ = busy; }
  // The selected row's path in the current view ("piece|piece|"), kept for the reload.
  void StoreSelectionPath();
  const std::string& SelectionPath() const { return selectionPath_; }
  void SetSelectionPath(const std::string& path) { selectionPath_ = path; }

  // Starts the import worker with the job (one at a time; Busy() must already be set).
  void StartImport(const ImportJob& job);
  bool ImportRunning() const { return importThread_.joinable(); }
  // What the last import did (valid after its import-finished command).
  const ImportStats& LastImport() const { return lastImport_; }
  // The import that follows a download (the download-finished command starts it).
  void SetDownloadJob(const ImportJob& job) { downloadJob_ = job; }
  const ImportJob& DownloadJob() const { return downloadJob_; }
  // A download's progress window: called to stop and release it when the import that
  // follows the download has finished, which also marks that a download preceded.
  void SetDownloadProgressCloser(std::function<void()> closer) { progressCloser_ = std::move(closer); }
  // The automatic-resolve flag: from the import-finished command to the end of Resolve.
  bool AutoResolve() const { return autoResolve_; }
  void ClearAutoResolve() { autoResolve_ = false; }

  // -------------------------------------------------------------- parts
  ReportTabs* Tabs() const { return tabs_; }
  ChartHost* Charts() const { return charts_; }
  PageBrowser* DetailsPage() const { return detailsPage_; }
  PageBrowser* StartPage() const { return startPage_; }
  // The details page as last filled (the visitor dialog updates it and shows it again).
  HtmlPage& DetailsHtml() { return detailsHtml_; }
  void ShowDetailsHtml();
  // The session whose details are shown (0 when none has been shown yet).
  int32_t ShownVisit() const { return shownVisit_; }
  QAction* Action(int commandId) const;
  QToolBar* ToolBar() const { return toolBar_; }
  QSplitter* Splitter() const { return splitter_; }
  RightPane CurrentPane() const { return pane_; }
  const std::string& ProgramDir() const { return programDir_; }

  // -------------------------------------------------------------- idle work
  // What the message loop runs when it has nothing else to do: command states, the
  // theme countdown, then ResetViews and ReloadViews.
  void RunIdle();
  int ThemeCountdownLeft() const { return themeCountdown_; }

  // The right-pane decision for the current view's selected row, applied.
  void UpdateRightPane();
  // Fills and shows the details page of a visit, and enables "Visitor...".
  void ShowVisitDetails(int32_t numId);

 public slots:
  void OnConnect();
  void OnOpen();
  void OnOpenUrl();
  void OnResolve();
  void OnExit();
  void OnVisitor();
  void OnFilter();
  void OnWhois();
  void OnClear();
  void OnOptions();
  void OnToggleToolBar(bool shown);
  void OnToggleStatusBar(bool shown);
  void OnHelp();
  void OnAbout();
  void OnExportHtml();
  // Posted commands.
  void OnDownloadFinished();
  void OnImportFinished();
  void OnSelectionChanged();

 signals:
  // The import-finished handling is done (tests wait for it).
  void ImportFinishedHandled();

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreatePanes();
  void ApplySelectionChart(const SelectionChart& chart);
  void ShowPane(RightPane pane);
  void OnTabChanged(int tab);
  void OnViewRefreshed(int tab);
  void SyncVisitors();
  void ApplyThemeColours();
  void ScheduleIdle();
  void StopImport();
  // The desktop's ways (setting "IsDesktopConventions"): the remembered size, position
  // and splitter, and the splitter wide enough for every tab.
  void RestoreWindowState();
  void SaveWindowState();

  std::string programDir_;
  std::map<int, QAction*> actions_;
  QToolBar* toolBar_ = nullptr;
  QLabel* readyLabel_ = nullptr;
  QProgressBar* importProgress_ = nullptr;
  QSplitter* splitter_ = nullptr;
  ReportTabs* tabs_ = nullptr;
  QStackedWidget* rightPane_ = nullptr;
  PageBrowser* startPage_ = nullptr;
  PageBrowser* detailsPage_ = nullptr;
  ChartHost* charts_ = nullptr;
  RightPane pane_ = RightPane::kStartPage;
  HtmlPage detailsHtml_;
  int32_t shownVisit_ = 0;

  bool busy_ = false;
  std::string selectionPath_;
  bool reselectPending_ = false;
  bool syncPending_ = false;
  bool autoResolve_ = false;
  bool idleScheduled_ = false;
  int themeCountdown_ = 0;
  bool desktopConventions_ = true;  // "IsDesktopConventions" when the window was made

  std::thread importThread_;
  std::shared_ptr<ImportMonitor> importMonitor_;
  std::shared_ptr<UiPoster> poster_;
  ImportJob downloadJob_;
  ImportJob runningJob_;
  ImportStats lastImport_;
  std::function<void()> progressCloser_;
};

}  // namespace weavil
