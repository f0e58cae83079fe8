// The Visitor information dialog: the record it starts with, the country code and name,
// the URL lookup on its worker, and what OK writes.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <atomic>
#include <thread>

#include "import/import_driver.h"
#include "net/host_resolver.h"
#include "reports/country_names.h"
#include "shell/dialogs/visitor_info_dialog.h"
#include "store/database.h"
#include "store/result.h"
#include "tests/dialogs/dialog_test_support.h"

namespace weavil {
namespace {

using namespace std::chrono_literals;

// Answers one name after the test lets it.
class SlowResolver : public ReverseResolver {
 public:
  bool LookUp(const std::string&, std::string& hostName) override {
    while (!release.load()) std::this_thread::sleep_for(5ms);
    if (name.empty()) return false;
    hostName = name;
    return true;
  }
  std::atomic<bool> release{false};
  std::string name;
};

class VisitorDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    countries_.Add("DE", "Germany");
    db_.Run(
        "INSERT INTO DNSLookUp (UserIP, FullName, URL, rURL, CountryCode, IsRobot, Description) VALUES "
        "('192.0.2.9', 'old.example.com', 'old.example.com', 'com.example.old', 'DE', 0, '')");
    visitor_.address = "192.0.2.9";
    visitor_.url = "old.example.com";
    visitor_.countryCode = "DE";
  }
  test::DialogDatabase db_;
  CountryNames countries_;
  VisitorUpdate visitor_;
  SlowResolver resolver_;
};

TEST_F(VisitorDialogTest, SavingAnEmptyUrlStoresTheAddressForm) {
  VisitorInfoDialog dialog(visitor_, countries_, nullptr, &resolver_);
  EXPECT_EQ(dialog.windowTitle(), "Visitor information");
  EXPECT_TRUE(dialog.IpEdit()->isReadOnly());
  EXPECT_EQ(dialog.CountryName()->text(), "Germany");
  dialog.UrlEdit()->setText(QStringLiteral("   "));
  dialog.RobotBox()->click();
  dialog.CommentsEdit()->setPlainText(QStringLiteral("crawls at night, it's fine"));
  dialog.accept();
  EXPECT_GE(dialog.SaveResult(), 0);
  EXPECT_EQ(db_.Value("SELECT rURL FROM DNSLookUp WHERE UserIP='192.0.2.9'"), "ip.192.0.2.9");
  EXPECT_EQ(db_.Value("SELECT URL FROM DNSLookUp WHERE UserIP='192.0.2.9'"), "");
  EXPECT_EQ(db_.Value("SELECT IsRobot FROM DNSLookUp WHERE UserIP='192.0.2.9'"), "1");
  EXPECT_EQ(db_.Value("SELECT Description FROM DNSLookUp WHERE UserIP='192.0.2.9'"), "crawls at night, it's fine");
  EXPECT_EQ(dialog.Result().url, "");
}

TEST_F(VisitorDialogTest, CountryCodeIsUpperCaseTwoCharactersWithItsName) {
  VisitorInfoDialog dialog(visitor_, countries_, nullptr, &resolver_);
  dialog.CountryEdit()->clear();
  EXPECT_EQ(dialog.CountryName()->text(), "");
  dialog.CountryEdit()->insert(QStringLiteral("d"));
  EXPECT_EQ(dialog.CountryEdit()->text(), "D");
  dialog.CountryEdit()->insert(QStringLiteral("eu"));
  EXPECT_EQ(dialog.CountryEdit()->text(), "DE");
  EXPECT_EQ(dialog.CountryName()->text(), "Germany");

  dialog.CommentsEdit()->setPlainText(QString(600, QLatin1Char('c')));
  EXPECT_EQ(dialog.CommentsEdit()->toPlainText().size(), kVisitorCommentsLimit);
  dialog.accept();
  EXPECT_EQ(db_.Value("SELECT CountryCode FROM DNSLookUp WHERE UserIP='192.0.2.9'"), "DE");
}

TEST_F(VisitorDialogTest, UrlLookupRunsOnItsWorkerAndOkWaitsForIt) {
  VisitorInfoDialog dialog(visitor_, countries_, nullptr, &resolver_);
  resolver_.name = "New.Example.net";
  dialog.UrlButton()->click();
  EXPECT_TRUE(dialog.UrlEdit()->isReadOnly());
  EXPECT_FALSE(dialog.UrlButton()->isEnabled());
  std::thread later([&] {
    std::this_thread::sleep_for(50ms);
    resolver_.release = true;
  });
  // OK waits for the lookup, and its name is what gets saved.
  dialog.accept();
  later.join();
  EXPECT_EQ(dialog.Result().url, "New.Example.net");
  EXPECT_EQ(db_.Value("SELECT rURL FROM DNSLookUp WHERE UserIP='192.0.2.9'"), "net.example.new");

  // A lookup that finds nothing leaves the field as it was and gives it back.
  resolver_.name.clear();
  VisitorInfoDialog again(visitor_, countries_, nullptr, &resolver_);
  bool finished = false;
  QObject::connect(&again, &VisitorInfoDialog::LookupFinished, [&] { finished = true; });
  again.UrlButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return finished; }));
  EXPECT_EQ(again.UrlEdit()->text(), "old.example.com");
  EXPECT_FALSE(again.UrlEdit()->isReadOnly());
  EXPECT_TRUE(again.UrlButton()->isEnabled());
}

TEST(VisitorRecord, LoadsTheVisitorOfASession) {
  test::DialogDatabase db;
  std::string log = db.Dir().File("access.log");
  test::WriteFile(log, test::W3cLog(0, 2));
  ImportCopies copies;
  ASSERT_EQ(RunImport(log, 0, copies).sessionsStored, 2);
  db.Run("UPDATE DNSLookUp SET URL='b.example.org', Description='note' WHERE UserIP='10.1.0.1'");
  int32_t numId = static_cast<int32_t>(db.Count("SELECT NumId FROM [Session] WHERE UserIP='10.1.0.1'"));

  DbSession session;
  ASSERT_TRUE(Succeeded(session.OpenFile(db.Path())));
  VisitorUpdate visitor;
  ASSERT_EQ(LoadVisitorForDialog(session, numId, visitor), kResultOk);
  EXPECT_EQ(visitor.address, "10.1.0.1");
  EXPECT_EQ(visitor.url, "b.example.org");
  EXPECT_EQ(visitor.comments, "note");
  EXPECT_EQ(LoadVisitorForDialog(session, 999999, visitor), kResultFalse);
}

}  // namespace
}  // namespace weavil
