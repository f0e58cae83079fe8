// The main window on a temporary database and settings: structure, the Open sequence,
// the right pane for the selected row, sorting, Clear, reload re-selection, the theme
// countdown and the Options sheet's way to the settings file.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QCheckBox>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QTabBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

#include <chrono>
#include <filesystem>
#include <fstream>

#include <sqlite3.h>

#include "reports/report_tree.h"
#include "settings/settings.h"
#include "settings/settings_store.h"
#include "shell/about_box.h"
#include "shell/chart_host.h"
#include "shell/dialogs/visitor_info_dialog.h"
#include "shell/help_window.h"
#include "shell/main_frame.h"
#include "shell/options_sheet.h"
#include "shell/page_browser.h"
#include "shell/report_tabs.h"
#include "shell/report_tree_model.h"
#include "shell/shell_app.h"
#include "shell/shell_prompts.h"
#include "shell/tree_list_view.h"
#include "store/database.h"
#include "store/view_requests.h"
#include "tests/shell/shell_test_support.h"

namespace weavil::test {
namespace {

// Seven sessions: three on 1 March, two on 2 March, one on 5 March, one on 10 April.
// Second pages: /p1.html once, /p2.html four times, /p3.html twice.
std::string SampleLog() {
  return MakeCombinedLog({{"01/Mar/2008", "10:00:00", "/p2.html"},
                          {"01/Mar/2008", "11:00:00", "/p3.html"},
                          {"01/Mar/2008", "12:00:00", "/p2.html"},
                          {"02/Mar/2008", "09:00:00", "/p2.html"},
                          {"02/Mar/2008", "15:00:00", "/p1.html"},
                          {"05/Mar/2008", "08:00:00", "/p3.html"},
                          {"10/Apr/2008", "10:00:00", "/p2.html"}});
}

RowId ChildWithText(const ReportTree& tree, RowId parent, std::string_view text) {
  for (RowId c = tree.FirstChild(parent); c != kNoRow; c = tree.NextSibling(c))
    if (tree.Text(c, 0) == text) return c;
  return kNoRow;
}

std::vector<std::string> ChildTexts(const ReportTree& tree, RowId parent, int column = 0) {
  std::vector<std::string> texts;
  for (RowId c = tree.FirstChild(parent); c != kNoRow; c = tree.NextSibling(c))
    texts.emplace_back(tree.Text(c, column));
  return texts;
}

// Answers the first modal dialog of type T that opens while the timer lives.
template <typename T>
std::unique_ptr<QTimer> AnswerModal(std::function<void(T*)> answer) {
  auto timer = std::make_unique<QTimer>();
  timer->setInterval(10);
  QObject::connect(timer.get(), &QTimer::timeout, [t = timer.get(), answer] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      t->stop();
      answer(dialog);
    }
  });
  timer->start();
  return timer;
}

// Real clicks: on a header section, and on the text of a row's label (left of where
// the view's own press rule starts).
void ClickSection(TreeListView* list, int column) {
  QHeaderView* header = list->TreeWidget()->header();
  QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}
QPoint OnLabelText(TreeListView* list, RowId row) {
  QRect cell = list->TreeWidget()->visualRect(list->Model()->IndexOf(row, 0));
  return QPoint(cell.left() + 24, cell.center().y());
}

int CountItems(const std::string& document) {
  int count = 0;
  for (size_t at = document.find("<ITM"); at != std::string::npos; at = document.find("<ITM", at + 1)) ++count;
  return count;
}

class MainFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { AppSettings() = Settings{}; }
  void TearDown() override { AppSettings() = Settings{}; }

  // Opens the sample log through the Open command and waits for the reports.
  void ImportSample(const std::string& content = SampleLog()) {
    std::string log = fixture_.Dir().File("access.log");
    WriteFile(log, content);
    Prompts().chooseLogFile = [log](QWidget*, const QString&) { return QStringList{QString::fromStdString(log)}; };
    MainFrame& frame = fixture_.Frame();
    QSignalSpy finished(&frame, &MainFrame::ImportFinishedHandled);
    frame.OnOpen();
    ASSERT_TRUE(frame.Busy());
    ASSERT_TRUE(finished.wait(60000));
    ASSERT_TRUE(fixture_.Settle());
  }

  TreeListView* List(int tab) { return fixture_.Frame().Tabs()->ListView(tab); }
  const ReportTree& TreeOf(int tab) { return *List(tab)->Tree(); }

  ShellFixture fixture_;
};

TEST_F(MainFrameTest, WindowHasTheMenusBarsTabsAndPanes) {
  AppSettings().isDesktopConventions = 0;  // the classic window
  MainFrame& frame = fixture_.Frame();
  frame.show();
  QApplication::processEvents();

  // Menus with their items and separators in order ("-" for a separator, ">" a submenu).
  std::vector<std::string> seen;
  for (QAction* top : frame.menuBar()->actions()) {
    seen.push_back(top->text().toStdString());
    for (QAction* item : top->menu()->actions()) {
      if (item->isSeparator()) seen.push_back("-");
      else if (item->menu()) {
        seen.push_back(">" + item->text().toStdString());
        for (QAction* sub : item->menu()->actions()) seen.push_back(">" + sub->text().toStdString());
      } else {
        seen.push_back(item->text().toStdString());
      }
    }
  }
  std::vector<std::string> expected = {
      "&File", "&Connect", "&Open...", "Open &Url...", "&Resolve...", "-", "E&xit",
      "&Edit", "Visitor...",
      "&Tools", "Filter...", "-", "WhoIs...", "-", ">Database", ">Clear...", "-", "Options...",
      "&View", "&Toolbar", "&Status Bar",
      "&Help", "Help", "-", "&About Rovan..."};
  EXPECT_EQ(seen, expected);

  // The keys that act, the identifiers, and "Visitor..." disabled at start.
  EXPECT_EQ(frame.Action(kCmdConnect)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
  EXPECT_EQ(frame.Action(kCmdOpen)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
  EXPECT_EQ(frame.Action(kCmdVisitor)->shortcut(), QKeySequence(Qt::Key_Enter));
  EXPECT_FALSE(frame.Action(kCmdVisitor)->isEnabled());
  EXPECT_EQ(frame.Action(kCmdWhois)->data().toInt(), 32786);
  EXPECT_EQ(frame.Action(kCmdConnect)->statusTip(), QStringLiteral("Connect to the Log DB"));
  EXPECT_EQ(frame.Action(kCmdConnect)->toolTip(), QStringLiteral("Connect"));
  EXPECT_EQ(frame.Action(kCmdOptions)->statusTip(), QStringLiteral("Set program options"));

  // Toolbar: Connect, Open, Open Url, a separator, About.
  QList<QAction*> buttons = frame.ToolBar()->actions();
  ASSERT_EQ(buttons.size(), 5);
  EXPECT_EQ(buttons[0], frame.Action(kCmdConnect));
  EXPECT_EQ(buttons[1], frame.Action(kCmdOpen));
  EXPECT_EQ(buttons[2], frame.Action(kCmdOpenUrl));
  EXPECT_TRUE(buttons[3]->isSeparator());
  EXPECT_EQ(buttons[4], frame.Action(kCmdAbout));

  auto* ready = frame.statusBar()->findChild<QLabel*>();
  ASSERT_NE(ready, nullptr);
  EXPECT_EQ(ready->text(), QStringLiteral("Ready"));

  QStringList tabs;
  for (int i = 0; i < frame.Tabs()->count(); ++i) tabs << frame.Tabs()->tabText(i);
  EXPECT_EQ(tabs, QStringList({"Sessions", "Visitors", "Keywords", "Referers", "Pages", "Statistics"}));
  EXPECT_EQ(frame.Splitter()->sizes().front(), kSplitterPosition);
  EXPECT_EQ(frame.CurrentPane(), RightPane::kStartPage);

  // View toggles hide and show the bars.
  frame.Action(kCmdViewToolbar)->trigger();
  EXPECT_TRUE(frame.ToolBar()->isHidden());
  frame.Action(kCmdViewStatusBar)->trigger();
  EXPECT_TRUE(frame.statusBar()->isHidden());
  frame.Action(kCmdViewToolbar)->trigger();
  frame.Action(kCmdViewStatusBar)->trigger();
  EXPECT_FALSE(frame.ToolBar()->isHidden());
  EXPECT_FALSE(frame.statusBar()->isHidden());

  // The chart library was registered on this first start and both controls exist.
  EXPECT_NE(frame.Charts()->TimeSeries(), nullptr);
  EXPECT_NE(frame.Charts()->Items(), nullptr);
}

TEST_F(MainFrameTest, ViewsStayEmptyUntilConnectWithoutAutoConnect) {
  MainFrame& frame = fixture_.Frame();
  ASSERT_TRUE(fixture_.Settle());
  EXPECT_EQ(TreeOf(kSessionsTab).RowCount(), 0);
  EXPECT_TRUE(frame.Tabs()->NeedsLoad(kSessionsTab));
  frame.OnConnect();
  ASSERT_TRUE(fixture_.Settle());
  EXPECT_FALSE(frame.Tabs()->NeedsLoad(kSessionsTab));
  // Only the current view was loaded; the others wait until their tab is used.
  EXPECT_TRUE(frame.Tabs()->NeedsLoad(kPagesTab));
}

TEST_F(MainFrameTest, OpenImportsTheLogAndFillsTheSessionsTab) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  EXPECT_FALSE(frame.Busy());
  EXPECT_FALSE(frame.ImportRunning());
  EXPECT_EQ(fixture_.Scalar("SELECT COUNT(*) FROM Session"), 7);
  EXPECT_EQ(CopySettings().openFilePath, fixture_.Dir().Path() + "/");

  const ReportTree& tree = TreeOf(kSessionsTab);
  RowId year = ChildWithText(tree, kRootRow, "2008");
  ASSERT_NE(year, kNoRow);
  EXPECT_EQ(tree.Text(year, 1), "7");
  EXPECT_EQ(ChildTexts(tree, year), (std::vector<std::string>{"March 2008", "April 2008"}));
  EXPECT_FALSE(List(kSessionsTab)->IsLoading());
  EXPECT_EQ(List(kSessionsTab)->Model()->rowCount(), 1);
}

TEST_F(MainFrameTest, OpenWhileBusyDoesNothing) {
  MainFrame& frame = fixture_.Frame();
  int asked = 0;
  Prompts().chooseLogFile = [&](QWidget*, const QString&) {
    ++asked;
    return QStringList();
  };
  frame.SetBusy(true);
  frame.OnOpen();
  EXPECT_EQ(asked, 0);
  frame.SetBusy(false);
  frame.OnOpen();  // cancelled: nothing starts
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(frame.Busy());
  EXPECT_FALSE(frame.ImportRunning());
}

TEST_F(MainFrameTest, OpenOfAMissingFileEndsWithAnErrorAndClearsBusy) {
  MainFrame& frame = fixture_.Frame();
  std::string missing = fixture_.Dir().File("missing.log");
  Prompts().chooseLogFile = [missing](QWidget*, const QString&) { return QStringList{QString::fromStdString(missing)}; };
  QString error;
  Prompts().showError = [&](QWidget*, const QString&, const QString& text) { error = text; };
  QSignalSpy finished(&frame, &MainFrame::ImportFinishedHandled);
  frame.OnOpen();
  ASSERT_TRUE(finished.wait(30000));
  EXPECT_FALSE(frame.Busy());
  EXPECT_TRUE(error.contains(QString::fromStdString(missing))) << error.toStdString();
}

// An import the database refuses (another writer keeps the lock) says so in an error
// box naming the database and SQLite's reason, instead of ending as if stored.
TEST_F(MainFrameTest, AnImportThatStoredNothingShowsAnError) {
  MainFrame& frame = fixture_.Frame();
  std::string log = fixture_.Dir().File("access.log");
  WriteFile(log, SampleLog());
  Prompts().chooseLogFile = [log](QWidget*, const QString&) { return QStringList{QString::fromStdString(log)}; };
  QString error;
  Prompts().showError = [&](QWidget*, const QString&, const QString& text) { error = text; };
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(fixture_.DatabasePath().c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  SetDatabaseBusySeconds(0);
  QSignalSpy finished(&frame, &MainFrame::ImportFinishedHandled);
  frame.OnOpen();
  bool ended = finished.wait(30000);
  SetDatabaseBusySeconds(kDefaultBusySeconds);
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(error.contains(QString::fromStdString(fixture_.DatabasePath()))) << error.toStdString();
  EXPECT_TRUE(error.contains(QStringLiteral("database is locked"))) << error.toStdString();
  EXPECT_FALSE(frame.Busy());
}

TEST_F(MainFrameTest, OpenOfSeveralFilesIsOneImportAndAnUnusableOneIsReported) {
  MainFrame& frame = fixture_.Frame();
  std::string log = SampleLog();
  size_t half = log.find("02/Mar/2008");
  half = log.rfind('\n', half) + 1;
  std::string older = fixture_.Dir().File("access.log.1"), newer = fixture_.Dir().File("access.log"),
              binary = fixture_.Dir().File("image.log");
  WriteFile(older, log.substr(0, half));
  WriteFile(newer, log.substr(half));
  WriteFile(binary, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  QStringList chosen{QString::fromStdString(older), QString::fromStdString(newer)};
  Prompts().chooseLogFile = [&](QWidget*, const QString&) { return chosen; };
  QString error;
  Prompts().showError = [&](QWidget*, const QString&, const QString& text) { error = text; };
  QSignalSpy finished(&frame, &MainFrame::ImportFinishedHandled);
  frame.OnOpen();
  ASSERT_TRUE(finished.wait(60000));
  EXPECT_EQ(frame.LastImport().sessionsStored, 7);
  EXPECT_EQ(frame.LastImport().sources.size(), 2u);
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();

  chosen = {QString::fromStdString(binary)};
  frame.OnOpen();
  ASSERT_TRUE(finished.wait(60000));
  EXPECT_TRUE(error.contains(QString::fromStdString(binary)) && error.contains("line 1")) << error.toStdString();
}

TEST_F(MainFrameTest, FilesChosenTogetherAreReadOldestFirst) {
  std::vector<std::string> names{"access.log", "access.log.2.gz", "access.log.1"};
  auto now = std::filesystem::file_time_type::clock::now();
  QStringList chosen;
  for (size_t i = 0; i < names.size(); ++i) {
    std::string path = fixture_.Dir().File(names[i]);
    WriteFile(path, "x\n");
    std::filesystem::last_write_time(path, now - std::chrono::hours(names[i] == "access.log" ? 0 : 24 * (names[i].size() - 10)));
    chosen.push_back(QString::fromStdString(path));
  }
  QStringList ordered = OrderLogFiles(chosen);
  ASSERT_EQ(ordered.size(), 3);
  EXPECT_TRUE(ordered[0].endsWith("access.log.2.gz") && ordered[1].endsWith("access.log.1") &&
              ordered[2].endsWith("access.log"))
      << ordered.join(' ').toStdString();
}

TEST_F(MainFrameTest, GroupRowsOfTheSessionsTabGiveTheTimeSeriesChart) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  const ReportTree& tree = TreeOf(kSessionsTab);
  RowId year = ChildWithText(tree, kRootRow, "2008");
  RowId march = ChildWithText(tree, year, "March 2008");
  RowId first = ChildWithText(tree, march, "01 March 2008");
  ASSERT_NE(first, kNoRow);

  struct Case {
    RowId row;
    int items;
    short filterType;
  } cases[] = {{year, 2, 2}, {march, 3, 1}, {first, 3, 0}};  // FilterType = 2 - depth
  for (const Case& c : cases) {
    List(kSessionsTab)->SelectRow(c.row);
    EXPECT_EQ(frame.CurrentPane(), RightPane::kTimeSeries);
    EXPECT_EQ(CountItems(frame.Charts()->TimeSeriesDocument()), c.items) << tree.Text(c.row, 0);
    vyr::com::SHORT filterType = -1;
    ASSERT_NE(frame.Charts()->TimeSeries(), nullptr);
    frame.Charts()->TimeSeries()->get_FilterType(&filterType);
    EXPECT_EQ(filterType, c.filterType) << tree.Text(c.row, 0);
    vyr::com::BOOL grid = 0;
    frame.Charts()->TimeSeries()->get_RegularGrid(&grid);
    EXPECT_TRUE(grid);
    EXPECT_FALSE(frame.Action(kCmdVisitor)->isEnabled());
  }
  // A day's sessions count one each.
  EXPECT_NE(frame.Charts()->TimeSeriesDocument().find(">1</ITM>"), std::string::npos);
}

TEST_F(MainFrameTest, SessionRowShowsItsDetailsAndEnablesVisitor) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  const ReportTree& tree = TreeOf(kSessionsTab);
  RowId day = ChildWithText(tree, ChildWithText(tree, ChildWithText(tree, kRootRow, "2008"), "March 2008"),
                            "01 March 2008");
  RowId visit = tree.FirstChild(day);
  ASSERT_GT(tree.Key(visit), 0);
  List(kSessionsTab)->SelectRow(visit);
  EXPECT_EQ(frame.CurrentPane(), RightPane::kDetails);
  EXPECT_TRUE(frame.Action(kCmdVisitor)->isEnabled());
  EXPECT_EQ(frame.ShownVisit(), tree.Key(visit));
  EXPECT_EQ(frame.DetailsHtml().InnerHtml("IP"), "10.0.0.1");
  EXPECT_EQ(frame.DetailsHtml().InnerHtml("enter"), "2008-03-01 10:00");
  EXPECT_NE(frame.DetailsHtml().InnerHtml("pages").find("/p2.html"), std::string::npos);
  EXPECT_NE(frame.DetailsPage()->toPlainText().indexOf(QStringLiteral("10.0.0.1")), -1);

  // Back on a group row: the chart again, "Visitor..." off.
  List(kSessionsTab)->SelectRow(day);
  EXPECT_EQ(frame.CurrentPane(), RightPane::kTimeSeries);
  EXPECT_FALSE(frame.Action(kCmdVisitor)->isEnabled());
}

TEST_F(MainFrameTest, OtherTabsLoadWhenChosenAndShowTheItemsChart) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  frame.Tabs()->setCurrentIndex(kPagesTab);
  ASSERT_TRUE(fixture_.Settle());
  EXPECT_FALSE(frame.Tabs()->NeedsLoad(kPagesTab));
  const ReportTree& pages = TreeOf(kPagesTab);
  EXPECT_EQ(ChildTexts(pages, kRootRow),
            (std::vector<std::string>{"/index.html", "/p1.html", "/p2.html", "/p3.html"}));
  // A group row whose children are sessions only: the start page.
  List(kPagesTab)->SelectRow(pages.FirstChild(kRootRow));
  EXPECT_EQ(frame.CurrentPane(), RightPane::kStartPage);
  // The Statistics tab: a section with result rows below gives the items chart.
  frame.Tabs()->setCurrentIndex(kStatisticsTab);
  ASSERT_TRUE(fixture_.Settle());
  const ReportTree& stats = TreeOf(kStatisticsTab);
  RowId os = ChildWithText(stats, kRootRow, "OS");
  ASSERT_NE(os, kNoRow);
  List(kStatisticsTab)->SelectRow(os);
  EXPECT_EQ(frame.CurrentPane(), RightPane::kItemsChart);
  EXPECT_GT(CountItems(frame.Charts()->ItemsDocument()), 0);
}

TEST_F(MainFrameTest, SortingByCountOrdersGroupsAndKeepsSessionsInQueryOrder) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  frame.show();
  frame.Tabs()->setCurrentIndex(kPagesTab);
  ASSERT_TRUE(fixture_.Settle());
  TreeListView* list = List(kPagesTab);
  const ReportTree& tree = *list->Tree();
  RowId index = ChildWithText(tree, kRootRow, "/index.html");
  std::vector<std::string> sessionsBefore = ChildTexts(tree, index);
  ASSERT_EQ(sessionsBefore.size(), 7u);
  list->SelectRow(ChildWithText(tree, kRootRow, "/p3.html"));

  QSignalSpy notices(list, &TreeListView::SelectionNotice);
  ClickSection(list, 1);  // first click: descending
  EXPECT_EQ(ChildTexts(tree, kRootRow),
            (std::vector<std::string>{"/index.html", "/p2.html", "/p3.html", "/p1.html"}));
  EXPECT_EQ(ChildTexts(tree, index), sessionsBefore);
  EXPECT_GE(notices.count(), 1);
  // The selection follows its row, and the view shows the new order.
  EXPECT_EQ(tree.Text(list->SelectedRow(), 0), "/p3.html");
  EXPECT_EQ(list->Model()->index(1, 0).data().toString(), QStringLiteral("/p2.html"));

  ClickSection(list, 1);  // second click: ascending
  EXPECT_EQ(ChildTexts(tree, kRootRow),
            (std::vector<std::string>{"/p1.html", "/p3.html", "/p2.html", "/index.html"}));
  EXPECT_EQ(ChildTexts(tree, index), sessionsBefore);
  EXPECT_EQ(list->Order().direction, 1);

  // A reload keeps the order the header shows.
  frame.OnConnect();
  ASSERT_TRUE(fixture_.Settle());
  EXPECT_EQ(ChildTexts(*list->Tree(), kRootRow),
            (std::vector<std::string>{"/p1.html", "/p3.html", "/p2.html", "/index.html"}));
  // The view shows that order too, and each group's sessions under it.
  ReportTreeModel& model = *list->Model();
  ASSERT_EQ(model.rowCount(), 4);
  EXPECT_EQ(model.index(0, 0).data().toString(), QStringLiteral("/p1.html"));
  EXPECT_EQ(model.index(3, 0).data().toString(), QStringLiteral("/index.html"));
  EXPECT_EQ(model.rowCount(model.index(3, 0)), 7);
}

TEST_F(MainFrameTest, AClickOnARowsTextShowsThatRowAndItsVisitor) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  frame.show();
  TreeListView* list = List(kSessionsTab);
  const ReportTree& tree = TreeOf(kSessionsTab);
  RowId day = tree.FindPath("2008|March 2008|01 March 2008|");
  RowId first = tree.FirstChild(day), second = tree.NextSibling(first), third = tree.LastChild(day);
  list->SelectRow(first);
  QApplication::processEvents();
  QWidget* viewport = list->TreeWidget()->viewport();
  QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, OnLabelText(list, third));
  EXPECT_EQ(frame.ShownVisit(), tree.Key(third));
  EXPECT_EQ(frame.DetailsHtml().InnerHtml("IP"), "10.0.0.3");

  // A double click on another row's text: that row's page and its Visitor information.
  std::string dialogAddress;
  auto answer = AnswerModal<VisitorInfoDialog>([&](VisitorInfoDialog* dialog) {
    dialogAddress = dialog->IpEdit()->text().toStdString();
    dialog->reject();
  });
  // What the window system sends: press, release, double click, release.
  QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, OnLabelText(list, second));
  QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, OnLabelText(list, second));
  QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, OnLabelText(list, second));
  EXPECT_EQ(dialogAddress, "10.0.0.2");
  EXPECT_EQ(frame.DetailsHtml().InnerHtml("IP"), "10.0.0.2");
}

TEST_F(MainFrameTest, AVisitorTheDatabaseRefusesShowsErrorAndKeepsTheOldValues) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  const ReportTree& tree = TreeOf(kSessionsTab);
  RowId visit = tree.FirstChild(tree.FindPath("2008|March 2008|01 March 2008|"));
  List(kSessionsTab)->SelectRow(visit);
  const std::string label(tree.Text(visit, 0)), shownUrl = frame.DetailsHtml().InnerHtml("URL");
  // SQLite itself refuses the write, as it does for a database it cannot write.
  fixture_.Run("CREATE TRIGGER refuse BEFORE UPDATE ON DNSLookUp BEGIN SELECT RAISE(ABORT, 'records are locked'); END");
  QString title, text;
  Prompts().showError = [&](QWidget*, const QString& t, const QString& x) {
    title = t;
    text = x;
  };
  auto answer = AnswerModal<VisitorInfoDialog>([](VisitorInfoDialog* dialog) {
    dialog->UrlEdit()->setText(QStringLiteral("new.example.org"));
    dialog->accept();
  });
  frame.Action(kCmdVisitor)->trigger();
  EXPECT_EQ(title, QStringLiteral("Error"));
  EXPECT_TRUE(text.contains(QStringLiteral("records are locked"))) << text.toStdString();
  EXPECT_EQ(frame.DetailsHtml().InnerHtml("URL"), shownUrl);
  EXPECT_EQ(tree.Text(visit, 0), label);
  EXPECT_EQ(fixture_.Scalar("SELECT COUNT(*) FROM DNSLookUp WHERE URL='new.example.org'"), 0);
}

TEST_F(MainFrameTest, AReferrerOfAnotherSchemeIsPlainTextOnTheDetailsPage) {
  const std::string hostile = "javascript://www.google.com/%0Aalert(document.cookie)//search?q=x";
  ImportSample("10.0.0.9 - - [01/Mar/2008:10:00:00 +0000] \"GET /index.html HTTP/1.1\" 200 1000 \"" + hostile +
               "\" \"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\"\n");
  MainFrame& frame = fixture_.Frame();
  const ReportTree& tree = TreeOf(kSessionsTab);
  List(kSessionsTab)->SelectRow(tree.FirstChild(tree.FindPath("2008|March 2008|01 March 2008|")));
  ASSERT_EQ(frame.CurrentPane(), RightPane::kDetails);
  EXPECT_EQ(frame.DetailsHtml().Attribute("referer", "href"), "");
  EXPECT_EQ(frame.DetailsHtml().InnerHtml("referer"), hostile);  // not shown as a search
  // The page as shown holds no link at all.
  for (QTextBlock block = frame.DetailsPage()->document()->begin(); block.isValid(); block = block.next())
    for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
      EXPECT_TRUE(it.fragment().charFormat().anchorHref().isEmpty()) << it.fragment().text().toStdString();
}

TEST_F(MainFrameTest, TheMenuShowsOnlyKeysThatAct) {
  AppSettings().isDesktopConventions = 0;  // the classic window
  MainFrame& frame = fixture_.Frame();
  Prompts().chooseLogFile = [](QWidget*, const QString&) { return QStringList(); };
  frame.show();
  frame.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
  int pressed = 0;
  for (QAction* top : frame.menuBar()->actions())
    for (QAction* item : top->menu()->actions()) {
      // What the menu prints beside the text: the part after a tab, else the shortcut.
      QString text = item->text();
      QString key = text.contains('\t') ? text.section('\t', 1) : item->shortcut().toString(QKeySequence::NativeText);
      if (key.isEmpty() || !item->isEnabled()) continue;
      QSignalSpy triggered(item, &QAction::triggered);
      QTest::keySequence(&frame, QKeySequence(key, QKeySequence::NativeText));
      EXPECT_EQ(triggered.count(), 1) << text.toStdString() << " " << key.toStdString();
      ++pressed;
    }
  EXPECT_EQ(pressed, 2);  // Connect and Open; "Visitor..." waits for a session
}

TEST_F(MainFrameTest, ConnectReselectsTheStoredPath) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  const ReportTree& tree = TreeOf(kSessionsTab);
  RowId march = ChildWithText(tree, ChildWithText(tree, kRootRow, "2008"), "March 2008");
  RowId second = ChildWithText(tree, march, "02 March 2008");
  List(kSessionsTab)->SelectRow(second);
  frame.OnConnect();
  EXPECT_EQ(frame.SelectionPath(), "2008|March 2008|02 March 2008|");
  ASSERT_TRUE(fixture_.Settle());
  // A new tree, the same row selected, and its chart shown again.
  EXPECT_EQ(List(kSessionsTab)->SelectionPath(), "2008|March 2008|02 March 2008|");
  EXPECT_EQ(frame.CurrentPane(), RightPane::kTimeSeries);

  // A path whose last piece is gone selects the last piece found.
  frame.SetSelectionPath("2008|March 2008|31 March 2008|");
  RaiseResetViews();
  RaiseReloadViews();
  ASSERT_TRUE(fixture_.Settle());
  EXPECT_EQ(List(kSessionsTab)->SelectionPath(), "2008|March 2008|");
}

TEST_F(MainFrameTest, BackgroundReloadFillsAllSixViews) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  AppSettings().isBackThread = 1;
  frame.OnConnect();
  ASSERT_TRUE(fixture_.Settle());
  for (int tab = 0; tab < kReportTabCount; ++tab) {
    EXPECT_FALSE(frame.Tabs()->NeedsLoad(tab)) << tab;
    if (tab != kKeywordsTab) {  // the sample has no search phrases
      EXPECT_GT(TreeOf(tab).RowCount(), 0) << tab;
    }
  }
}

TEST_F(MainFrameTest, ClearEmptiesTheViewsOnlyWhenConfirmed) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  QString title, text;
  Prompts().confirm = [&](QWidget*, const QString& t, const QString& x) {
    title = t;
    text = x;
    return false;
  };
  frame.OnClear();
  EXPECT_EQ(title, QStringLiteral("Warning"));
  ASSERT_TRUE(fixture_.Settle());
  EXPECT_EQ(fixture_.Scalar("SELECT COUNT(*) FROM Session"), 7);
  EXPECT_GT(TreeOf(kSessionsTab).RowCount(), 0);

  Prompts().confirm = [](QWidget*, const QString&, const QString&) { return true; };
  frame.OnClear();
  // The reset shows "Loading..." at once; the reload then finds nothing.
  frame.RunIdle();
  ASSERT_TRUE(fixture_.Settle());
  EXPECT_EQ(fixture_.Scalar("SELECT COUNT(*) FROM Session"), 0);
  EXPECT_EQ(TreeOf(kSessionsTab).RowCount(), 0);
  EXPECT_EQ(frame.CurrentPane(), RightPane::kStartPage);
}

TEST_F(MainFrameTest, ResetShowsLoadingAndClearsTheCharts) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  const ReportTree& tree = TreeOf(kSessionsTab);
  List(kSessionsTab)->SelectRow(ChildWithText(tree, kRootRow, "2008"));
  ASSERT_FALSE(frame.Charts()->TimeSeriesDocument().empty());
  RaiseResetViews();
  frame.RunIdle();
  for (int tab = 0; tab < kReportTabCount; ++tab) {
    EXPECT_TRUE(frame.Tabs()->NeedsLoad(tab));
    EXPECT_TRUE(List(tab)->IsLoading());
  }
  EXPECT_EQ(TreeOf(kSessionsTab).RowCount(), 1);
  EXPECT_EQ(TreeOf(kSessionsTab).Text(1, 0), "Loading...");
  EXPECT_EQ(TreeOf(kStatisticsTab).RowCount(), 0);
  EXPECT_TRUE(frame.Charts()->TimeSeriesDocument().empty());
  EXPECT_EQ(frame.CurrentPane(), RightPane::kStartPage);
}

TEST_F(MainFrameTest, ChartColoursFollowThePaletteAfterTenIdlePasses) {
  AppSettings().isDesktopConventions = 0;  // the classic window
  MainFrame& frame = fixture_.Frame();
  ASSERT_NE(frame.Charts()->TimeSeries(), nullptr);
  vyr::com::OLE_COLOR colour = 0;
  frame.Charts()->TimeSeries()->get_ChartAltFillColor(&colour);
  EXPECT_EQ(colour, 0x8888FFu);
  frame.Charts()->TimeSeries()->get_RulerPenColor(&colour);
  EXPECT_EQ(colour, 0x000012u);

  QPalette palette = frame.palette();
  palette.setColor(QPalette::Base, QColor(10, 20, 30));
  frame.setPalette(palette);
  EXPECT_EQ(frame.ThemeCountdownLeft(), kThemeCountdown);
  for (int pass = 1; pass < kThemeCountdown; ++pass) frame.RunIdle();
  frame.Charts()->TimeSeries()->get_ChartBkgColor(&colour);
  EXPECT_NE(colour, 0x1E140Au);
  frame.RunIdle();
  frame.Charts()->TimeSeries()->get_ChartBkgColor(&colour);
  EXPECT_EQ(colour, 0x1E140Au);
  frame.Charts()->Items()->get_ChartBkgColor(&colour);
  EXPECT_EQ(colour, 0x1E140Au);
}

TEST_F(MainFrameTest, TheDesktopWayRemembersTheWindowAndFollowsThePalette) {
  ASSERT_EQ(AppSettings().isDesktopConventions, 1);
  {
    MainFrame& frame = fixture_.Frame();
    frame.show();
    QApplication::processEvents();
    // Every tab shows without scroll arrows at the first size.
    QTabBar* bar = frame.Tabs()->tabBar();
    EXPECT_LE(bar->sizeHint().width(), bar->width());
    EXPECT_EQ(frame.Action(kCmdExit)->shortcut(), QKeySequence(QKeySequence::Quit));
    EXPECT_EQ(frame.Action(kCmdHelp)->shortcut(), QKeySequence(QKeySequence::HelpContents));
    EXPECT_TRUE(frame.menuBar()->actions().front()->menu()->actions().contains(frame.Action(kCmdExportHtml)));

    // A dark palette: the pages take its colours, the chart's ruler its text colour.
    QPalette dark = frame.palette();
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    dark.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
    frame.setPalette(dark);
    for (int pass = 0; pass < kThemeCountdown; ++pass) frame.RunIdle();
    vyr::com::OLE_COLOR colour = 0;
    frame.Charts()->TimeSeries()->get_RulerPenColor(&colour);
    EXPECT_EQ(colour, 0xE6E6E6u);
    std::string shown = frame.DetailsPage()->toHtml().toStdString();
    EXPECT_NE(shown.find("#3a3a3a"), std::string::npos);
    EXPECT_EQ(shown.find("#c0c0c0"), std::string::npos);
    EXPECT_EQ(frame.DetailsPage()->Html().find("#3a3a3a"), std::string::npos) << "the page itself is kept";

    frame.resize(900, 640);
    frame.Splitter()->setSizes({520, 380});
    QApplication::processEvents();
    frame.close();
  }
  fixture_.DestroyFrame();
  {
    MainFrame& frame = fixture_.Frame();
    frame.show();
    QApplication::processEvents();
    EXPECT_EQ(frame.size(), QSize(900, 640));
    EXPECT_EQ(frame.Splitter()->sizes().front(), 520);
  }
  fixture_.DestroyFrame();
  // The classic window keeps its own size and splitter whatever was stored.
  AppSettings().isDesktopConventions = 0;
  MainFrame& frame = fixture_.Frame();
  frame.show();
  QApplication::processEvents();
  EXPECT_EQ(frame.size(), QSize(kDefaultWidth, kDefaultHeight));
  EXPECT_EQ(frame.Splitter()->sizes().front(), kSplitterPosition);
  EXPECT_EQ(frame.Action(kCmdExit)->shortcut(), QKeySequence());
  QSettings(QString::fromStdString(DefaultSettingsFile()), QSettings::IniFormat).remove(QStringLiteral("Window"));
}

TEST_F(MainFrameTest, ExportHtmlWritesThePageTheCommandLineWrites) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  const std::string page = fixture_.Dir().File("report.html");
  QString suggested;
  Prompts().chooseReportFile = [&](QWidget*, const QString& offered) {
    suggested = offered;
    return QString::fromStdString(page);
  };
  QString error;
  Prompts().showError = [&](QWidget*, const QString&, const QString& text) { error = text; };
  frame.Action(kCmdExportHtml)->trigger();
  EXPECT_TRUE(suggested.endsWith(QStringLiteral(".html")));
  EXPECT_EQ(error, QString()) << error.toStdString();
  std::ifstream in(page);
  std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* title : {"Sessions", "Visitors", "Keywords", "Referers", "Pages", "Statistics"})
    EXPECT_NE(html.find(std::string("<h2>") + title + "</h2>"), std::string::npos) << title;
  EXPECT_NE(html.find("<svg"), std::string::npos);
  EXPECT_NE(html.find("7 sessions"), std::string::npos);
}

TEST_F(MainFrameTest, TheDetailsPageHasNoScrollBarForItsMarginsOnly) {
  ImportSample();
  MainFrame& frame = fixture_.Frame();
  frame.show();
  const ReportTree& tree = TreeOf(kSessionsTab);
  RowId day = ChildWithText(tree, ChildWithText(tree, ChildWithText(tree, kRootRow, "2008"), "March 2008"),
                            "01 March 2008");
  List(kSessionsTab)->SelectRow(tree.FirstChild(day));
  PageBrowser* page = frame.DetailsPage();
  for (int width : {900, 1100, 1333}) {
    frame.resize(width, kDefaultHeight);
    QApplication::processEvents();
    EXPECT_FALSE(page->horizontalScrollBar()->isVisible()) << width;
  }
  // A page really wider than the view keeps its bar.
  page->SetHtml("<html><body><table width=\"2000\"><tr><td>wide</td></tr></table></body></html>");
  QApplication::processEvents();
  EXPECT_TRUE(page->horizontalScrollBar()->isVisible());
}

TEST_F(MainFrameTest, OptionsReachTheSettingsFileOnlyAtExit) {
  std::string programDir = ProgramDirForTests();
  LoadAppSettings(programDir);
  AppSettings().proxyHttp = "proxy.example.net";
  std::string ini = DefaultSettingsFile();
  ASSERT_TRUE(SaveAppSettings());
  std::string before = ReadFile(ini);
  std::string during;
  bool sawSheet = false;

  QTimer::singleShot(0, [&] {
    MainFrame* frame = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (auto* found = qobject_cast<MainFrame*>(widget)) frame = found;
    ASSERT_NE(frame, nullptr);
    QTimer::singleShot(0, [&] {
      auto* sheet = qobject_cast<OptionsSheet*>(QApplication::activeModalWidget());
      ASSERT_NE(sheet, nullptr);
      sawSheet = true;
      EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Options"));
      EXPECT_FALSE(sheet->HttpHost()->isEnabled());  // "Use Proxy" is off
      sheet->SiteUrl()->setText(QStringLiteral("www.example.org"));
      sheet->AutoConnect()->setChecked(true);
      sheet->UseProxy()->setChecked(true);  // on a page never shown: not taken
      sheet->accept();
    });
    frame->OnOptions();
    during = ReadFile(ini);
    EXPECT_EQ(CopySettings().defaultHost, "www.example.org");
    EXPECT_EQ(CopySettings().isAutoConnect, 1);
    EXPECT_EQ(CopySettings().isProxy, 0);
    EXPECT_EQ(CopySettings().proxyHttp, "proxy.example.net");
    AppSettings().isAutoConnect = 0;  // keep this run's window from loading
    frame->OnExit();
  });
  ShellOptions options;
  options.programDir = programDir;
  EXPECT_EQ(RunShell(options), 0);
  EXPECT_TRUE(sawSheet);
  EXPECT_EQ(during, before);
  std::string after = ReadFile(ini);
  EXPECT_NE(after.find("DefaultHost=www.example.org"), std::string::npos) << after;
  EXPECT_NE(after.find("ProxyHTTP=proxy.example.net"), std::string::npos) << after;
}

TEST_F(MainFrameTest, ChoosingTheVisitorsTabSelectsTheSameVisit) {
  ImportSample();
  const ReportTree& tree = TreeOf(kSessionsTab);
  RowId april = ChildWithText(tree, ChildWithText(tree, kRootRow, "2008"), "April 2008");
  RowId visit = tree.FirstChild(tree.FirstChild(april));
  List(kSessionsTab)->SelectRow(visit);
  int32_t numId = tree.Key(visit);
  ASSERT_GT(numId, 0);
  fixture_.Frame().Tabs()->setCurrentIndex(kVisitorsTab);
  ASSERT_TRUE(fixture_.Settle());
  TreeListView* visitors = List(kVisitorsTab);
  EXPECT_EQ(visitors->SelectedKey(), numId);
  EXPECT_EQ(visitors->SelectionPath(), "ip|ip.10|ip.10.0|ip.10.0.0|ip.10.0.0.7|2008-04-10 10:00|");
  EXPECT_EQ(fixture_.Frame().CurrentPane(), RightPane::kDetails);
}

TEST_F(MainFrameTest, ChartsOfferTheirPropertyPages) {
  MainFrame& frame = fixture_.Frame();
  int pages = -1;
  QTimer::singleShot(0, [&] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      pages = dialog->findChild<QTabWidget*>() ? dialog->findChild<QTabWidget*>()->count() : 0;
      dialog->reject();
    }
  });
  frame.Charts()->ShowProperties(frame.Charts()->TimeSeriesHost());
  EXPECT_GT(pages, 0);
}

TEST_F(MainFrameTest, HelpAboutAndLinks) {
  MainFrame& frame = fixture_.Frame();
  frame.OnHelp();
  ASSERT_NE(HelpWindow::Current(), nullptr);
  EXPECT_TRUE(HelpWindow::Current()->Browser()->source().toString().endsWith("help/html/index.htm"));
  EXPECT_NE(HelpWindow::Current()->Browser()->toPlainText().indexOf("Contents"), -1);
  HelpWindow::CloseAll();
  QApplication::processEvents();

  QString version;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<AboutBox*>(QApplication::activeModalWidget())) {
      if (auto* label = box->findChild<QLabel*>("versionText")) version = label->text();
      box->accept();
    }
  });
  frame.OnAbout();
  EXPECT_EQ(version, QStringLiteral("Weavil v 1.4"));

  // A referrer link on the details page goes to the desktop browser.
  QUrl opened;
  PageBrowser::SetLinkOpener([&](const QUrl& url) { opened = url; });
  emit frame.DetailsPage()->anchorClicked(QUrl("http://www.example.com/from"));
  EXPECT_EQ(opened, QUrl("http://www.example.com/from"));
  PageBrowser::SetLinkOpener([](const QUrl&) {});
}

TEST(ShellOptionsTest, WindowOptionsAreTakenOutOfTheArguments) {
  char a0[] = "weavil", a1[] = "--db", a2[] = "x.db", a3[] = "--connect", a4[] = "--screenshot-dir", a5[] = "out",
       a6[] = "--", a7[] = "--connect";
  char* argv[] = {a0, a1, a2, a3, a4, a5, a6, a7, nullptr};
  int argc = 8;
  ShellOptions options;
  TakeShellOptions(argc, argv, options);
  EXPECT_TRUE(options.connect);
  EXPECT_EQ(options.screenshotDir, "out");
  ASSERT_EQ(argc, 5);
  EXPECT_STREQ(argv[1], "--db");
  EXPECT_STREQ(argv[2], "x.db");
  EXPECT_STREQ(argv[3], "--");
  EXPECT_STREQ(argv[4], "--connect");
  EXPECT_EQ(argv[5], nullptr);
}

TEST(OptionsSheetTest, ProxyPageValuesAndEnabling) {
  EnsureShellApplication();
  AppSettings() = Settings{};
  AppSettings().proxyPort = 1080;
  OptionsSheet sheet;
  EXPECT_EQ(sheet.SocksPort()->text(), QStringLiteral("1080"));
  EXPECT_EQ(sheet.SiteUrl()->maxLength(), 99);
  EXPECT_EQ(sheet.Extensions()->maxLength(), 249);
  EXPECT_FALSE(sheet.SocksHost()->isEnabled());
  sheet.UseProxy()->setChecked(true);
  EXPECT_TRUE(sheet.SocksHost()->isEnabled());
  EXPECT_TRUE(sheet.FtpPort()->isEnabled());

  sheet.Pages()->setCurrentIndex(1);  // the Proxy page has been shown
  sheet.HttpHost()->setText(QStringLiteral("cache.local"));
  sheet.HttpPort()->setText(QStringLiteral("8080"));
  sheet.FtpPort()->setText(QStringLiteral("ftp"));
  sheet.SocksPort()->setText(QStringLiteral(" 1081x"));
  Settings settings;
  sheet.ApplyTo(settings);
  EXPECT_EQ(settings.isProxy, 1);
  EXPECT_EQ(settings.proxyHttp, "cache.local");
  EXPECT_EQ(settings.proxyPortHttp, 8080);
  EXPECT_EQ(settings.proxyPortFtp, 0);
  EXPECT_EQ(settings.proxyPort, 1081);

  // A port past 65535 is refused with an error box; the sheet stays open.
  QString error;
  Prompts().showError = [&](QWidget*, const QString&, const QString& text) { error = text; };
  sheet.HttpPort()->setText(QStringLiteral("112744"));
  sheet.BusySeconds()->setValue(5);
  sheet.accept();
  EXPECT_TRUE(error.contains(QStringLiteral("HTTP port 112744"))) << error.toStdString();
  EXPECT_NE(sheet.result(), QDialog::Accepted);
  EXPECT_EQ(AppSettings().proxyPortHttp, 0);
  sheet.HttpPort()->setText(QStringLiteral("8080"));
  sheet.accept();
  EXPECT_EQ(AppSettings().proxyPortHttp, 8080);
  EXPECT_EQ(AppSettings().busySeconds, 5);
  EXPECT_EQ(DatabaseBusySeconds(), 5);
  SetDatabaseBusySeconds(kDefaultBusySeconds);
  ResetPrompts();
  AppSettings() = Settings{};
}

TEST(PageBrowserTest, OnlyWebAndFtpLinksAreOpened) {
  EnsureShellApplication();
  std::vector<QUrl> opened;
  PageBrowser::SetLinkOpener([&](const QUrl& url) { opened.push_back(url); });
  PageBrowser page;
  page.resize(500, 300);
  page.SetHtml("<p><a href='javascript:alert(1)'>script link</a></p><p><a href='file:///etc/passwd'>file link</a></p>"
               "<p><a href='HTTPS://www.example.com/'>web link</a></p><p><a href='ftp://ftp.example.com/a.log'>ftp</a></p>");
  page.show();
  QApplication::processEvents();
  for (QTextBlock block = page.document()->begin(); block.isValid(); block = block.next()) {
    QTextCursor at(block);
    at.movePosition(QTextCursor::Right);
    QTest::mouseClick(page.viewport(), Qt::LeftButton, Qt::NoModifier, page.cursorRect(at).center() - QPoint(3, 0));
  }
  PageBrowser::SetLinkOpener([](const QUrl&) {});
  EXPECT_EQ(opened, (std::vector<QUrl>{QUrl("https://www.example.com/"), QUrl("ftp://ftp.example.com/a.log")}));
}

TEST(PageBrowserTest, RowsFollowingAClosedRowAreOpened) {
  EXPECT_EQ(OpenImpliedRows("<table><tr><td>a</td></tr><td>b</td></tr></table>"),
            "<table><tr><td>a</td></tr><tr><td>b</td></tr></table>");
  EXPECT_EQ(OpenImpliedRows("<p>no table</p>"), "<p>no table</p>");
  EXPECT_EQ(OpenImpliedRows("</tr><td></tr><td"), "</tr><tr><td></tr><tr><td");
}

}  // namespace
}  // namespace weavil::test
