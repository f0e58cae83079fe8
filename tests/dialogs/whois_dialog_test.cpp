// The Whois dialog: the exchange through a SOCKS 4 proxy on loopback, the transfer
// buttons into the visitor dialog, Cancel restoring the visitor, and OK or Cancel ending
// an exchange that hangs.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

#include <atomic>
#include <mutex>
#include <thread>

#include <sys/socket.h>

#include "reports/country_names.h"
#include "settings/settings.h"
#include "shell/dialogs/visitor_info_dialog.h"
#include "shell/dialogs/whois_dialog.h"
#include "tests/dialogs/dialog_test_support.h"
#include "tests/net/loopback_servers.h"

namespace weavil {
namespace {

using namespace std::chrono_literals;

// A SOCKS 4 proxy that grants every request and then answers as the whois server.
class ProxiedWhois {
 public:
  explicit ProxiedWhois(std::string answer, bool hang = false)
      : server_([this, answer = std::move(answer), hang](int fd) {
          std::string request = test::ReadBytes(fd, 9);
          {
            std::lock_guard<std::mutex> lock(mutex_);
            socksRequest_ = request;
          }
          test::SendAll(fd, std::string("\0Z\0\0\0\0\0\0", 8));
          std::string query = test::ReadLine(fd);
          {
            std::lock_guard<std::mutex> lock(mutex_);
            query_ = query;
          }
          if (hang) {
            // Neither answers nor closes until the dialog gives up on it.
            char byte;
            while (::recv(fd, &byte, 1, 0) > 0) {
            }
            return;
          }
          test::SendAll(fd, answer);
        }) {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    saved_ = AppSettings();
    AppSettings().isProxy = 1;
    AppSettings().proxy = "127.0.0.1";
    AppSettings().proxyPort = server_.Port();
  }
  ~ProxiedWhois() {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    AppSettings() = saved_;
  }
  std::string Query() {
    std::lock_guard<std::mutex> lock(mutex_);
    return query_;
  }
  std::string SocksRequest() {
    std::lock_guard<std::mutex> lock(mutex_);
    return socksRequest_;
  }

 private:
  std::mutex mutex_;
  std::string query_;
  std::string socksRequest_;
  Settings saved_;
  test::LoopbackServer server_;
};

void Select(QPlainTextEdit* box, const QString& text) {
  int at = static_cast<int>(box->toPlainText().indexOf(text));
  ASSERT_GE(at, 0) << text.toStdString();
  QTextCursor cursor = box->textCursor();
  cursor.setPosition(at);
  cursor.setPosition(at + static_cast<int>(text.size()), QTextCursor::KeepAnchor);
  box->setTextCursor(cursor);
}

TEST(WhoisDialog, QueriesThroughTheProxyAndShowsOneLinePerLine) {
  test::EnsureTestApplication();
  ProxiedWhois whois("inetnum: 192.0.2.0 - 192.0.2.255\nnetname: TEST-NET\ncountry: DE\n");
  QWidget owner;
  WhoisDialog dialog(&owner, nullptr, QStringLiteral("192.0.2.9"), QString(), QString());
  // Without a visitor: ARIN's entry is preselected and the transfer buttons are hidden.
  EXPECT_EQ(dialog.ServerBox()->currentIndex(), kWhoisArin);
  EXPECT_EQ(dialog.ServerBox()->count(), 5);
  dialog.show();
  EXPECT_FALSE(dialog.UrlButton()->isVisible());
  EXPECT_FALSE(dialog.CountryButton()->isVisible());
  EXPECT_FALSE(dialog.CommentsButton()->isVisible());

  bool shown = false;
  QObject::connect(&dialog, &WhoisDialog::AnswerShown, [&] { shown = true; });
  dialog.ServerBox()->setEditText(QStringLiteral("127.0.0.1"));
  dialog.WhoisButton()->click();
  EXPECT_FALSE(dialog.WhoisButton()->isEnabled());
  ASSERT_TRUE(test::WaitUntil([&] { return shown; }));
  EXPECT_TRUE(dialog.WhoisButton()->isEnabled());
  EXPECT_EQ(whois.Query(), "192.0.2.9 \r\n");
  EXPECT_EQ(whois.SocksRequest(), std::string("\x04\x01\x00\x2b\x7f\x00\x00\x01\x00", 9));
  EXPECT_EQ(dialog.AnswerBox()->document()->blockCount(), 4);
  EXPECT_EQ(dialog.Answer().toStdString(),
            "inetnum: 192.0.2.0 - 192.0.2.255\r\nnetname: TEST-NET\r\ncountry: DE\r\n");
}

TEST(WhoisDialog, CancelEndsAHangingExchangeAtOnce) {
  test::EnsureTestApplication();
  ProxiedWhois whois("", true);
  WhoisDialog dialog(nullptr, nullptr, QStringLiteral("example.com"), QStringLiteral("127.0.0.1"), QString());
  dialog.ServerBox()->setEditText(QStringLiteral("127.0.0.1"));
  dialog.WhoisButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return !whois.Query().empty(); }));
  auto start = std::chrono::steady_clock::now();
  dialog.reject();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(dialog.WorkerRunning());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

class WhoisFromVisitor : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureTestApplication();
    countries_.Add("DE", "Germany");
    countries_.Add("BR", "Brazil");
    visitor_.address = "192.0.2.9";
    visitor_.url = "-";
    visitor_.countryCode = "de";
    visitor_.comments = "seen before";
  }
  CountryNames countries_;
  VisitorUpdate visitor_;
};

TEST_F(WhoisFromVisitor, TransferButtonsFillTheVisitorAndCancelPutsItBack) {
  VisitorInfoDialog visitorDialog(visitor_, countries_);
  visitorDialog.show();
  const QString answer = QStringLiteral("netname: TEST-NET\r\ncountry: BRAZIL\r\nremarks: a\r\nremarks: b\r\n");
  int asked = 0;
  visitorDialog.SetWhoisRunner([&](WhoisDialog& whois) {
    ++asked;
    // The visitor's URL is "-": its address is asked, RIPE's server for DE.
    EXPECT_EQ(whois.UrlEdit()->text(), "192.0.2.9");
    EXPECT_EQ(whois.ServerBox()->currentIndex(), kWhoisRipe);
    whois.show();
    EXPECT_TRUE(whois.UrlButton()->isVisible());
    EXPECT_EQ(whois.pos().y(), visitorDialog.frameGeometry().bottom() + 1);
    whois.AnswerBox()->setPlainText(QString(answer).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    Select(whois.AnswerBox(), QStringLiteral("TEST-NET"));
    whois.UrlButton()->click();
    Select(whois.AnswerBox(), QStringLiteral("BRAZIL"));
    whois.CountryButton()->click();
    Select(whois.AnswerBox(), QStringLiteral("remarks: a\nremarks: b"));
    whois.CommentsButton()->click();
    // Nothing selected: nothing is transferred.
    QTextCursor cursor = whois.AnswerBox()->textCursor();
    cursor.clearSelection();
    whois.AnswerBox()->setTextCursor(cursor);
    whois.UrlButton()->click();
    EXPECT_EQ(visitorDialog.UrlEdit()->text(), "TEST-NET");
    EXPECT_EQ(visitorDialog.CountryEdit()->text(), "BR");
    EXPECT_EQ(visitorDialog.CountryName()->text(), "Brazil");
    EXPECT_EQ(visitorDialog.CommentsEdit()->toPlainText(), "remarks: a\nremarks: b");
    whois.reject();
    return whois.result();
  });
  visitorDialog.WhoisButton()->click();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(visitorDialog.UrlEdit()->text(), "-");
  EXPECT_EQ(visitorDialog.CountryEdit()->text(), "DE");
  EXPECT_EQ(visitorDialog.CountryName()->text(), "Germany");
  EXPECT_EQ(visitorDialog.CommentsEdit()->toPlainText(), "seen before");

  // With OK the transfers stay.
  visitorDialog.SetWhoisRunner([&](WhoisDialog& whois) {
    whois.AnswerBox()->setPlainText(QStringLiteral("netname:  host.example.net  \n"));
    Select(whois.AnswerBox(), QStringLiteral(" host.example.net "));
    whois.UrlButton()->click();
    whois.accept();
    return whois.result();
  });
  visitorDialog.WhoisButton()->click();
  EXPECT_EQ(visitorDialog.UrlEdit()->text(), "host.example.net");
}

TEST(WhoisSelectionWindow, OnlyTheFirst4999CharactersOfTheBoxCount) {
  test::EnsureTestApplication();
  QString answer = QString(4990, QLatin1Char('x')) + QStringLiteral("\nABCDEFGHIJ\n");
  WhoisDialog dialog(nullptr, nullptr, QString(), QString(), answer);
  Select(dialog.AnswerBox(), QStringLiteral("ABCDEFGHIJ"));
  // The line break counts twice in the box ("\r\n"): 4,992 characters before the
  // selection, so 7 of its characters lie inside the window.
  EXPECT_EQ(dialog.SelectedAnswer(), "ABCDEFG");
}

}  // namespace
}  // namespace weavil
