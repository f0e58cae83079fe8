#include "tests/shell/shell_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>

#include <cstdlib>
#include <filesystem>

#include "shell/main_frame.h"
#include "shell/report_tabs.h"
#include "shell/shell_prompts.h"
#include "store/database.h"
#include "store/result.h"
#include "store/trace.h"
#include "store/view_requests.h"

namespace weavil::test {

void EnsureShellApplication() {
  if (QApplication::instance()) return;
  static TempDir home;  // settings and the component registry of this run
  setenv("XDG_CONFIG_HOME", (home.Path() + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (home.Path() + "/data").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", home.Path().c_str(), 1);
  EnsureTestApplication();
}

std::string ProgramDirForTests() { return BuildBinDir() + "/"; }

ShellFixture::ShellFixture() {
  EnsureShellApplication();
  // Nothing of an earlier test may linger: its flags, its data source, its prompts.
  TakeResetViews();
  TakeReloadViews();
  ResetPrompts();
}

ShellFixture::~ShellFixture() {
  DestroyFrame();
  TakeResetViews();
  TakeReloadViews();
  ResetPrompts();
}

MainFrame& ShellFixture::Frame() {
  if (!frame_) frame_ = std::make_unique<MainFrame>(ProgramDirForTests());
  return *frame_;
}

void ShellFixture::DestroyFrame() { frame_.reset(); }

bool ShellFixture::Settle(std::chrono::milliseconds limit) {
  MainFrame& frame = Frame();
  return WaitUntil(
      [&] {
        if (ResetViewsRaised() || ReloadViewsRaised()) frame.RunIdle();
        return !ResetViewsRaised() && !ReloadViewsRaised() && !frame.Tabs()->AnyRefreshing();
      },
      limit);
}

std::string MakeCombinedLog(const std::vector<LogVisit>& visits) {
  std::string log;
  int address = 1;
  for (const LogVisit& visit : visits) {
    std::string ip = "10.0.0." + std::to_string(address++);
    std::string agent = "\"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\"";
    log += ip + " - - [" + visit.date + ":" + visit.time + " +0000] \"GET /index.html HTTP/1.1\" 200 1000 \"-\" " +
           agent + "\n";
    std::string later = visit.time.substr(0, 6) + "30";
    log += ip + " - - [" + visit.date + ":" + later + " +0000] \"GET " + visit.secondPage +
           " HTTP/1.1\" 200 500 \"http://www.example.com/\" " + agent + "\n";
  }
  return log;
}

}  // namespace weavil::test

// Fontconfig keeps a few allocations for the life of the process; they are not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
// Qt's event queue and thread pool synchronise inside the uninstrumented Qt library, so
// a functor posted from a worker and deleted after its call on the window's thread looks
// like a race to the thread sanitizer; so do Qt Gui's own pooled threads.
extern "C" const char* __tsan_default_suppressions() { return "race:libQt6Core.so\nrace:libQt6Gui.so\n"; }
