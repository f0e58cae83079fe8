#include "shell/screenshot.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QTreeView>

#include <functional>
#include <iostream>
#include <memory>
#include <vector>

#include "shell/main_frame.h"
#include "shell/report_tabs.h"
#include "shell/report_tree_model.h"
#include "shell/tree_list_view.h"
#include "store/view_requests.h"

namespace weavil {
namespace {

// The child of parent with the most children (kNoRow when parent has none with any).
RowId BusiestChild(const ReportTree& tree, RowId parent, bool needSortable) {
  RowId best = kNoRow;
  int32_t most = 0;
  for (RowId c = tree.FirstChild(parent); c != kNoRow; c = tree.NextSibling(c)) {
    if (needSortable) {
      RowId first = tree.FirstChild(c);
      if (first == kNoRow || tree.ItemParam(first) == 0) continue;
    }
    int32_t count = tree.ChildCount(c);
    if (count > most) {
      most = count;
      best = c;
    }
  }
  return best;
}

class ScreenshotRunner : public QObject {
 public:
  ScreenshotRunner(MainFrame& frame, const std::string& dir)
      : QObject(&frame), frame_(frame), dir_(QString::fromStdString(dir)) {
    QDir().mkpath(dir_);
    BuildSteps();
    timer_.setInterval(150);
    connect(&timer_, &QTimer::timeout, this, &ScreenshotRunner::Tick);
    timer_.start();
  }

 private:
  void BuildSteps() {
    steps_.push_back([this] {
      RaiseResetViews();
      RaiseReloadViews();
      return true;
    });
    // Sessions: the busiest month as a daily chart, its busiest day hourly, one visit.
    steps_.push_back([this] { return Show(kSessionsTab); });
    steps_.push_back([this] {
      month_ = SelectBusiestSession(BusiestChild(*SessionsList()->Tree(), kRootRow, false));
      return Grab("sessions-month.png");
    });
    steps_.push_back([this] {
      day_ = SelectBusiestSession(month_);
      return Grab("sessions-day.png");
    });
    steps_.push_back([this] {
      TreeListView* list = SessionsList();
      const ReportTree& tree = *list->Tree();
      // The visit with the most requests of that day.
      RowId best = kNoRow;
      int64_t most = -1;
      if (day_ != kNoRow)
        for (RowId c = tree.FirstChild(day_); c != kNoRow; c = tree.NextSibling(c)) {
          int64_t count = LeadingInteger(tree.Text(c, 1));
          if (count > most) {
            most = count;
            best = c;
          }
        }
      if (best != kNoRow) list->SelectRow(best);
      return Grab("details.png");
    });
    const struct {
      int tab;
      const char* file;
    } others[] = {{kVisitorsTab, "visitors.png"},
                  {kKeywordsTab, "keywords.png"},
                  {kReferersTab, "referers.png"},
                  {kPagesTab, "pages.png"},
                  {kStatisticsTab, "statistics.png"}};
    for (const auto& other : others) {
      int tab = other.tab;
      QString file = QString::fromLatin1(other.file);
      steps_.push_back([this, tab] { return Show(tab); });
      steps_.push_back([this, tab, file] {
        TreeListView* list = frame_.Tabs()->ListView(tab);
        const ReportTree& tree = *list->Tree();
        RowId row = BusiestChild(tree, kRootRow, true);
        if (row == kNoRow) {
          // Sections one level down (statistics groups).
          for (RowId top = tree.FirstChild(kRootRow); top != kNoRow && row == kNoRow; top = tree.NextSibling(top))
            row = BusiestChild(tree, top, true);
        }
        if (row != kNoRow) {
          list->SelectRow(row);
          list->TreeWidget()->expand(list->Model()->IndexOf(row));
        }
        return Grab(file);
      });
    }
  }

  TreeListView* SessionsList() { return frame_.Tabs()->ListView(kSessionsTab); }

  // Selects the busiest child of parent in the Sessions list; kNoRow when there is no
  // parent or it has no child with children.
  RowId SelectBusiestSession(RowId parent) {
    if (parent == kNoRow) return kNoRow;
    TreeListView* list = SessionsList();
    RowId row = BusiestChild(*list->Tree(), parent, false);
    if (row != kNoRow) list->SelectRow(row);
    return row;
  }

  // Makes tab current and waits until its report is loaded.
  bool Show(int tab) {
    ReportTabs* tabs = frame_.Tabs();
    if (tabs->currentIndex() != tab) tabs->setCurrentIndex(tab);
    return !tabs->NeedsLoad(tab) && !tabs->Refreshing(tab) && !ResetViewsRaised() && !ReloadViewsRaised();
  }

  bool Grab(const QString& name) {
    // Let the pane repaint with its new content first.
    if (!settled_) {
      settled_ = true;
      return false;
    }
    settled_ = false;
    QString path = dir_ + '/' + name;
    if (frame_.grab().save(path, "PNG")) std::cout << "Wrote " << path.toStdString() << '\n';
    else std::cerr << "weavil: cannot write " << path.toStdString() << '\n';
    return true;
  }

  void Tick() {
    if (++ticks_ > 1200) {  // three minutes: give up rather than hang a script
      std::cerr << "weavil: screenshots timed out\n";
      QApplication::exit(1);
      return;
    }
    while (next_ < steps_.size()) {
      if (!steps_[next_]()) return;
      ++next_;
      return;  // one step per tick, so the window repaints in between
    }
    timer_.stop();
    frame_.close();
  }

  MainFrame& frame_;
  QString dir_;
  QTimer timer_;
  std::vector<std::function<bool()>> steps_;
  size_t next_ = 0;
  int ticks_ = 0;
  bool settled_ = false;
  RowId month_ = kNoRow, day_ = kNoRow;
};

}  // namespace

void StartScreenshots(MainFrame& frame, const std::string& dir) { new ScreenshotRunner(frame, dir); }

QPalette DarkDesktopPalette() {
  QPalette p;
  const QColor window(0x2d, 0x2d, 0x2d), base(0x1e, 0x1e, 0x1e), text(0xe6, 0xe6, 0xe6);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x26));
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, QColor(0xff, 0x55, 0x55));
  p.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
  p.setColor(QPalette::HighlightedText, QColor(0xff, 0xff, 0xff));
  p.setColor(QPalette::Link, QColor(0x78, 0xae, 0xed));
  p.setColor(QPalette::ToolTipBase, window);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
  p.setColor(QPalette::Light, QColor(0x50, 0x50, 0x50));
  p.setColor(QPalette::Midlight, QColor(0x44, 0x44, 0x44));
  p.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x30));
  p.setColor(QPalette::Dark, QColor(0x20, 0x20, 0x20));
  p.setColor(QPalette::Shadow, QColor(0x10, 0x10, 0x10));
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
  return p;
}

}  // namespace weavil
