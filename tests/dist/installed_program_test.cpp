// The installed program: cmake --install into a temporary prefix, the files a desktop
// looks for, and the program run from there by an ordinary user whose prefix is
// read-only (the user "nobody" when the tests run as root), with fresh XDG folders.
#include <gtest/gtest.h>

#include <QImage>
#include <QSet>

#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

using weavil::test::ReadFile;
using weavil::test::Shell;

bool HaveTool(const std::string& name) {
  int status = 0;
  Shell("command -v " + name, &status);
  return status == 0;
}

// Every file below root with its size and time, to see that a run changed nothing.
std::string Listing(const std::string& root) {
  std::ostringstream out;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    out << entry.path().string() << ' ' << (entry.is_regular_file() ? entry.file_size() : 0) << ' '
        << entry.last_write_time().time_since_epoch().count() << '\n';
  return out.str();
}

// Three visitors on two days, one of them from a search engine, one a robot.
std::string SampleLog() {
  const char* agent = "Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0";
  std::ostringstream log;
  log << "10.1.0.1 - - [01/Mar/2008:10:00:00 +0000] \"GET /index.html HTTP/1.1\" 200 1000 "
         "\"http://www.google.com/search?q=woven+logs\" \"" << agent << "\"\n"
      << "10.1.0.1 - - [01/Mar/2008:10:01:00 +0000] \"GET /docs/a.html HTTP/1.1\" 200 500 \"-\" \"" << agent << "\"\n"
      << "10.1.0.2 - - [01/Mar/2008:11:00:00 +0000] \"GET /robots.txt HTTP/1.1\" 404 0 \"-\" "
         "\"Googlebot/2.1 (+http://www.google.com/bot.html)\"\n"
      << "10.1.0.3 - - [02/Mar/2008:09:00:00 +0000] \"GET /index.html HTTP/1.1\" 200 1000 \"-\" \"" << agent << "\"\n"
      << "10.1.0.3 - - [02/Mar/2008:09:02:00 +0000] \"GET /docs/b.html HTTP/1.1\" 200 700 \"-\" \"" << agent << "\"\n";
  return log.str();
}

class InstalledProgram : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new weavil::test::TempDir();
    prefix_ = root_->Path() + "/prefix";
    home_ = root_->Path() + "/home";
    fs::create_directories(home_);
    int status = 0;
    installLog_ = Shell(std::string("'") + WEAVIL_CMAKE + "' --install '" + WEAVIL_BUILD_DIR + "' --prefix " + prefix_,
                        &status);
    installed_ = status == 0;
    asNobody_ = ::geteuid() == 0 && HaveTool("runuser") && Shell("id -u nobody", &status).size() > 0 && status == 0;
    // The temporary folder is the owner's alone: others may pass through it, the home
    // is the user's, the prefix stays the installer's.
    fs::permissions(root_->Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    std::ofstream(home_ + "/access.log") << SampleLog();
    if (asNobody_) {
      Shell("chown -R nobody '" + home_ + "'", &status);
    } else {
      Shell("chmod -R a-w '" + prefix_ + "'", &status);
    }
  }
  static void TearDownTestSuite() {
    int status = 0;
    Shell("chmod -R u+w '" + root_->Path() + "'", &status);
    delete root_;
  }

  // Runs the installed weavil with these words as the ordinary user, in its home.
  static std::string Weavil(const std::string& words, int* status) {
    std::string env = "env -i PATH=/usr/bin:/bin HOME='" + home_ + "' XDG_CONFIG_HOME='" + home_ +
                      "/config' XDG_DATA_HOME='" + home_ + "/data' XDG_RUNTIME_DIR='" + home_ +
                      "' LANG=C.UTF-8 TZ=UTC ASAN_OPTIONS=detect_leaks=0 ";
    std::string command = env + "sh -c \"cd '" + home_ + "' && '" + prefix_ + "/bin/weavil' " + words + "\"";
    return Shell(asNobody_ ? "runuser -u nobody -- " + command : command, status);
  }

  static weavil::test::TempDir* root_;
  static std::string prefix_, home_, installLog_;
  static bool installed_, asNobody_;
};

weavil::test::TempDir* InstalledProgram::root_ = nullptr;
std::string InstalledProgram::prefix_, InstalledProgram::home_, InstalledProgram::installLog_;
bool InstalledProgram::installed_ = false, InstalledProgram::asNobody_ = false;

}  // namespace

TEST_F(InstalledProgram, HoldsWhatADesktopLooksFor) {
  ASSERT_TRUE(installed_) << installLog_;
  for (const std::string file :
       {"/bin/weavil", "/" WEAVIL_INSTALL_LIBDIR "/libplotwell.so", "/" WEAVIL_INSTALL_LIBDIR "/libvyrcom.so.1",
        "/share/weavil/db/log-template.db", "/share/weavil/help/html/index.htm",
        "/share/weavil/help/cxthelp/help.txt", "/share/weavil/data/ATTRIBUTION.md",
        "/share/applications/weavil.desktop", "/share/metainfo/org.vyr.weavil.metainfo.xml",
        "/share/icons/hicolor/scalable/apps/weavil.svg", "/share/icons/hicolor/48x48/apps/weavil.png",
        "/share/man/man1/weavil.1"})
    EXPECT_TRUE(fs::exists(prefix_ + file)) << file;

  int status = 0;
  std::string dynamic = Shell("objdump -p '" + prefix_ + "/bin/weavil'", &status);
  EXPECT_NE(dynamic.find("RUNPATH              $ORIGIN/../" WEAVIL_INSTALL_LIBDIR "\n"), std::string::npos) << dynamic;

  QImage icon(QString::fromStdString(prefix_ + "/share/icons/hicolor/48x48/apps/weavil.png"));
  EXPECT_EQ(icon.size(), QSize(48, 48));
  EXPECT_NE(ReadFile(prefix_ + "/share/icons/hicolor/scalable/apps/weavil.svg").find("<svg "), std::string::npos);

  // The manual page carries the same words as --help: every command, the report's forms.
  std::string man = ReadFile(prefix_ + "/share/man/man1/weavil.1");
  EXPECT_EQ(man.rfind(".TH WEAVIL 1", 0), 0u);
  for (const char* section : {".SS import", ".SS report", ".SS export", ".SS visitor"})
    EXPECT_NE(man.find(section), std::string::npos) << section;
  EXPECT_NE(man.find("\\-\\-format FORM"), std::string::npos);
  if (HaveTool("man")) {
    std::string shown = Shell("MANWIDTH=80 man -l '" + prefix_ + "/share/man/man1/weavil.1'", &status);
    EXPECT_EQ(status, 0) << shown;
    EXPECT_EQ(shown.find("warning"), std::string::npos) << shown;
  }

  if (HaveTool("desktop-file-validate")) {
    std::string said = Shell("desktop-file-validate '" + prefix_ + "/share/applications/weavil.desktop'", &status);
    EXPECT_EQ(status, 0) << said;
    EXPECT_EQ(said, "");
  }
  if (HaveTool("appstreamcli")) {
    std::string said =
        Shell("appstreamcli validate --no-net '" + prefix_ + "/share/metainfo/org.vyr.weavil.metainfo.xml'", &status);
    EXPECT_EQ(status, 0) << said;
  }
}

TEST_F(InstalledProgram, AnOrdinaryUserWorksFromAReadOnlyPrefix) {
  ASSERT_TRUE(installed_) << installLog_;
  const std::string before = Listing(prefix_);
  int status = 0;
  std::string said = Weavil("import access.log", &status);
  ASSERT_EQ(status, 0) << said;
  EXPECT_NE(said.find("3 sessions stored"), std::string::npos) << said;

  // "Log" is the user's own copy of the template below XDG_DATA_HOME, registered as such.
  EXPECT_TRUE(fs::exists(home_ + "/data/Vyr/Weavil/log.db"));
  EXPECT_NE(ReadFile(home_ + "/config/Vyr/Weavil/1.4/datasources.ini").find(home_ + "/data/Vyr/Weavil/log.db"),
            std::string::npos);
  said = Weavil("settings Path", &status);
  EXPECT_EQ(said, home_ + "/data/Vyr/Weavil/log/\n");

  said = Weavil("report sessions", &status);
  EXPECT_EQ(status, 0) << said;
  EXPECT_EQ(said.rfind("2008\t3\n  March 2008\t3\n", 0), 0u) << said;

  // The charts come from the library folder, found through the component runtime.
  said = Weavil("export html report.html --no-robots", &status);
  EXPECT_EQ(status, 0) << said;
  EXPECT_NE(said.find("Wrote report.html ("), std::string::npos) << said;
  EXPECT_EQ(said.find("(0 charts)"), std::string::npos) << said;
  std::string page = ReadFile(home_ + "/report.html");
  EXPECT_NE(page.find("<svg"), std::string::npos);
  EXPECT_NE(page.find("no robots"), std::string::npos);

  // Mistakes a user can act on.
  said = Weavil("--db nothere.db report sessions", &status);
  EXPECT_EQ(status, 1) << said;
  EXPECT_NE(said.find("no database nothere.db"), std::string::npos) << said;
  EXPECT_FALSE(fs::exists(home_ + "/nothere.db"));
  said = Weavil("", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(said.find("no display"), std::string::npos) << said;
  EXPECT_NE(said.find("weavil --help"), std::string::npos) << said;

  EXPECT_EQ(Listing(prefix_), before);
}

TEST_F(InstalledProgram, TheHtmlReportShowsInABrowser) {
  ASSERT_TRUE(installed_) << installLog_;
  if (!HaveTool("chromium")) GTEST_SKIP() << "no chromium";
  int status = 0;
  if (!fs::exists(home_ + "/browse.html")) {
    std::string said = Weavil("export html browse.html", &status);
    ASSERT_EQ(status, 0) << said;
  }
  // A profile of its own, no network: the page must need none.
  const std::string browser = "HOME='" + root_->Path() + "' chromium --headless --no-sandbox --disable-gpu "
                              "--no-first-run --proxy-server=127.0.0.1:9 --user-data-dir='" + root_->Path() +
                              "/chromium' ";
  const std::string url = "'file://" + home_ + "/browse.html'";
  std::string dom = Shell(browser + "--dump-dom " + url, &status);
  ASSERT_EQ(status, 0) << dom;
  for (const char* title : {"Sessions", "Visitors", "Keywords", "Referers", "Pages", "Statistics"})
    EXPECT_NE(dom.find(std::string("<h2>") + title + "</h2>"), std::string::npos) << title;

  const std::string png = root_->Path() + "/page.png";
  std::string said = Shell(browser + "--window-size=1000,1400 --screenshot='" + png + "' " + url, &status);
  ASSERT_EQ(status, 0) << said;
  QImage shot(QString::fromStdString(png));
  ASSERT_FALSE(shot.isNull()) << said;
  QSet<QRgb> colours;
  for (int y = 0; y < shot.height(); y += 7)
    for (int x = 0; x < shot.width(); x += 7) colours.insert(shot.pixel(x, y));
  EXPECT_GT(colours.size(), 20) << "a blank page";
}
