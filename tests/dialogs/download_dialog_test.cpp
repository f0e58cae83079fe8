// Open Url from the dialog to the import: incremental appends, Cancel in the middle, the
// error box, and what the dialog stores.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "import/import_driver.h"
#include "settings/settings.h"
#include "settings/settings_store.h"
#include "shell/dialogs/dialog_prompts.h"
#include "shell/dialogs/download_dialog.h"
#include "shell/dialogs/open_url.h"
#include "shell/dialogs/progress_window.h"
#include "tests/dialogs/dialog_test_support.h"
#include "tests/net/loopback_servers.h"

namespace weavil {
namespace {

using namespace std::chrono_literals;

struct ErrorBox {
  QString title;
  QString text;
};

// The window's side of Open Url, as the main window does it: busy flag, the job, the
// closer, and the import that the download-finished command starts.
class OpenUrlFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    DialogPromptsInUse().showError = [this](QWidget*, const QString& title, const QString& text) {
      errors_.push_back({title, text});
    };
    {
      std::lock_guard<std::mutex> lock(SettingsMutex());
      saved_ = AppSettings();
      AppSettings() = Settings();
      AppSettings().path = db_.Dir().Path();
    }
    copies_.defaultHost = "www.site.test";
    host_.window = &window_;
    host_.busy = [this] { return busy_; };
    host_.setBusy = [this](bool busy) { busy_ = busy; };
    host_.storeSelectionPath = [] {};
    host_.setDownloadJob = [this](const ImportJob& job) { job_ = job; };
    host_.setProgressCloser = [this](std::function<void()> closer) { closer_ = std::move(closer); };
    host_.downloadFinished = [this] {
      stats_ = RunImport(job_.path, job_.offset, copies_);
      if (closer_) closer_();
      closer_ = nullptr;
      busy_ = false;
      ++imports_;
    };
  }
  void TearDown() override {
    ResetDialogPrompts();
    std::lock_guard<std::mutex> lock(SettingsMutex());
    AppSettings() = saved_;
  }

  // Runs the command with the dialog filled in and confirmed.
  DownloadSequence* OpenUrl(const std::string& url, bool incremental) {
    host_.runDialog = [&](DownloadDialog& dialog) {
      dialog.UrlEdit()->setText(QString::fromStdString(url));
      dialog.IncrementalBox()->setChecked(incremental);
      dialog.accept();
      return dialog.result();
    };
    return RunOpenUrl(host_);
  }
  bool WaitForImport(int count = 1) {
    return test::WaitUntil([&] { return imports_ >= count; });
  }

  test::DialogDatabase db_;
  QWidget window_;
  OpenUrlHost host_;
  bool busy_ = false;
  ImportJob job_;
  std::function<void()> closer_;
  ImportStats stats_;
  int imports_ = 0;
  std::vector<ErrorBox> errors_;
  ImportCopies copies_;
  Settings saved_;
};

TEST_F(OpenUrlFixture, IncrementalDownloadAppendsAndImportsOnlyTheNewSessions) {
  const std::string first = test::W3cLog(0, 5);
  const std::string grown = first + test::W3cLog(5, 3);
  const std::string local = db_.Dir().File("access.log");
  test::WriteFile(local, first);
  ASSERT_EQ(RunImport(local, 0, copies_).sessionsStored, 5);

  test::HttpLogServer server(test::HttpLogServer::Mode::kRanges, grown);
  DownloadSequence* sequence = OpenUrl(server.Url("/logs/access.log?x=1"), true);
  ASSERT_NE(sequence, nullptr);
  EXPECT_TRUE(busy_);
  EXPECT_EQ(job_.path, local);
  EXPECT_EQ(sequence->Window()->windowTitle(), "Download progress");
  EXPECT_EQ(sequence->Window()->Line1()->text(), "Downloading data...");
  ASSERT_TRUE(WaitForImport());

  ASSERT_EQ(server.Requests().size(), 2u);  // the check of the first bytes, then the new ones
  EXPECT_EQ(test::HeaderValue(server.Requests()[1], "Range"), "bytes=" + std::to_string(first.size()) + "-");
  EXPECT_EQ(test::ReadFile(local), grown);
  // The import starts at the last header: the old block is read again, only the new
  // visitors are stored.
  EXPECT_GT(job_.offset, 0);
  EXPECT_EQ(stats_.sessionsStored, 3);
  EXPECT_EQ(db_.Count("SELECT count(*) FROM [Session]"), 8);
  EXPECT_TRUE(errors_.empty());
  EXPECT_FALSE(busy_);
  EXPECT_FALSE(DownloadWorker::IsRunning());
  // The dialog's values were kept for the next time.
  Settings settings = CopySettings();
  EXPECT_EQ(settings.url, server.Url("/logs/access.log?x=1"));
  EXPECT_EQ(settings.isIncremental, 1);
}

TEST_F(OpenUrlFixture, CancelInTheMiddleImportsWhatArrived) {
  const std::string part = test::W3cLog(0, 40);
  std::atomic<bool> release{false};
  test::LoopbackServer server([&](int fd) {
    test::ReadHttpHead(fd);
    test::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 5000000\r\n\r\n" + part);
    // The rest never comes unless the test gives up.
    for (int waited = 0; waited < 2000 && !release.load(); ++waited) std::this_thread::sleep_for(10ms);
  });
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/access.log";
  DownloadSequence* sequence = OpenUrl(url, false);
  ASSERT_NE(sequence, nullptr);
  ProgressWindow* window = sequence->Window();
  ASSERT_TRUE(test::WaitUntil([&] { return !window->Line2()->text().isEmpty(); }));
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->Animation()->Running());
  EXPECT_EQ(window->Line2()->text(), QString::fromStdString(DownloadProgressText(
                                         static_cast<int64_t>(part.size()), 5000000)));

  window->CancelButton()->click();
  EXPECT_EQ(window->Line1()->text(), "Stopping download...");
  EXPECT_FALSE(window->CancelButton()->isEnabled());
  ASSERT_TRUE(WaitForImport());
  release = true;

  EXPECT_TRUE(errors_.empty());  // Cancel is no failure
  EXPECT_EQ(test::ReadFile(db_.Dir().File("access.log")), part);
  EXPECT_EQ(stats_.sessionsStored, 40);
  EXPECT_FALSE(busy_);
}

TEST_F(OpenUrlFixture, FailuresShowTheErrorBoxAndStillEndWithAnImport) {
  {
    test::HttpLogServer page(test::HttpLogServer::Mode::kFixed, "<!DOCTYPE html><html>Not here</html>", 404);
    ASSERT_NE(OpenUrl(page.Url("/access.log"), false), nullptr);
    ASSERT_TRUE(WaitForImport(1));
  }
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].title, "Error");
  EXPECT_EQ(errors_[0].text, "File reading error");
  EXPECT_EQ(test::ReadFile(db_.Dir().File("access.log")), "");  // the page is not written

  // Nobody listens on the port: the system's text, or "Connection failed".
  const std::string closed = "http://127.0.0.1:" + std::to_string(test::FreePort()) + "/other.log";
  ASSERT_NE(OpenUrl(closed, false), nullptr);
  ASSERT_TRUE(WaitForImport(2));
  ASSERT_EQ(errors_.size(), 2u);
  EXPECT_EQ(errors_[1].title, "Error");
  EXPECT_FALSE(errors_[1].text.isEmpty());
  EXPECT_EQ(job_.path, db_.Dir().File("other.log"));
  EXPECT_FALSE(busy_);
}

TEST_F(OpenUrlFixture, TheFirstDownloadMakesItsFolderOrUsesThePerUserOne) {
  const std::string dataHome = db_.Dir().File("data");
  const char* oldHome = std::getenv("XDG_DATA_HOME");
  const std::string restore = oldHome ? oldHome : "";
  setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
  test::HttpLogServer server(test::HttpLogServer::Mode::kRanges, test::W3cLog(0, 3));

  // A first run's settings: "Path" is the program's own log folder, not made yet.
  const std::string program = db_.Dir().File("program") + "/";
  std::filesystem::create_directory(program);
  LoadAppSettings(program, SettingsStore(db_.Dir().File("first.ini")));
  host_.programDir = program;
  ASSERT_NE(OpenUrl(server.Url("/access.log"), false), nullptr);
  ASSERT_TRUE(WaitForImport(1));
  EXPECT_TRUE(errors_.empty()) << errors_.front().text.toStdString();
  EXPECT_EQ(job_.path, program + "log/access.log");
  EXPECT_EQ(stats_.sessionsStored, 3);

  // A program folder that can hold nothing (a file stands in its place): the per-user
  // folder takes the copy and becomes the setting.
  const std::string blocked = db_.Dir().File("blocked");
  test::WriteFile(blocked, "");
  LoadAppSettings(blocked + "/", SettingsStore(db_.Dir().File("second.ini")));
  host_.programDir = blocked + "/";
  ASSERT_NE(OpenUrl(server.Url("/access.log"), false), nullptr);
  ASSERT_TRUE(WaitForImport(2));
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(job_.path, dataHome + "/Vyr/Weavil/log/access.log");
  EXPECT_EQ(CopySettings().path, dataHome + "/Vyr/Weavil/log/");

  // A folder the user typed that cannot be made: the error, and nothing starts.
  AppSettings().path = blocked + "/copies/";
  EXPECT_EQ(OpenUrl(server.Url("/access.log"), false), nullptr);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].title, "Error");
  EXPECT_TRUE(errors_[0].text.contains(QString::fromStdString(blocked + "/copies/"))) << errors_[0].text.toStdString();
  EXPECT_FALSE(busy_);
  if (oldHome) setenv("XDG_DATA_HOME", restore.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
}

TEST_F(OpenUrlFixture, NothingStartsWhileBusyOrCancelled) {
  busy_ = true;
  bool asked = false;
  host_.runDialog = [&](DownloadDialog&) {
    asked = true;
    return int(QDialog::Accepted);
  };
  EXPECT_EQ(RunOpenUrl(host_), nullptr);
  EXPECT_FALSE(asked);

  busy_ = false;
  host_.runDialog = [](DownloadDialog& dialog) {
    dialog.reject();
    return dialog.result();
  };
  EXPECT_EQ(RunOpenUrl(host_), nullptr);
  EXPECT_FALSE(busy_);
  EXPECT_EQ(imports_, 0);
}

TEST(DownloadDialog, LoginFieldsFollowTheBoxAndTheFolderChooserAddsTheSeparator) {
  test::EnsureTestApplication();
  Settings settings;
  settings.url = "ftp://logs.test/access.log";
  settings.isLogin = 0;
  settings.login = "anna";
  settings.pass = "secret";
  settings.path = "/var/tmp/logs/";
  settings.isAutoResolve = 1;
  DownloadDialog dialog(settings);
  EXPECT_EQ(dialog.windowTitle(), "Log-file download");
  EXPECT_FALSE(dialog.LoginEdit()->isEnabled());
  EXPECT_FALSE(dialog.PasswordEdit()->isEnabled());
  EXPECT_EQ(dialog.PasswordEdit()->echoMode(), QLineEdit::Password);
  dialog.LoginBox()->click();
  EXPECT_TRUE(dialog.LoginEdit()->isEnabled());
  EXPECT_TRUE(dialog.PasswordEdit()->isEnabled());
  EXPECT_TRUE(dialog.ResolveBox()->isChecked());

  QString startedFrom;
  DialogPromptsInUse().chooseFolder = [&](QWidget*, const QString& start) {
    startedFrom = start;
    return QStringLiteral("/srv/copies");
  };
  dialog.BrowseButton()->click();
  ResetDialogPrompts();
  EXPECT_EQ(startedFrom, "/var/tmp/logs/");
  EXPECT_EQ(dialog.PathEdit()->text(), "/srv/copies/");

  DownloadDialogValues values = dialog.Values();
  EXPECT_TRUE(values.isLogin);
  EXPECT_EQ(values.login, "anna");
  EXPECT_EQ(values.localPath, "/srv/copies/");
}

}  // namespace
}  // namespace weavil
