// The Resolve IP dialog over a stub name service: at most 9 lookups at once, the button
// rules, Stop, closing during a run, and the self-closing run after a download.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QTreeWidget>


#include "shell/dialogs/dialog_prompts.h"
#include "shell/dialogs/resolve_ip_dialog.h"
#include "tests/dialogs/dialog_test_support.h"
#include "tests/net/stub_resolver.h"

namespace weavil {
namespace {

using namespace std::chrono_literals;

class ResolveDialogTest : public ::testing::Test {
 protected:
  void AddAddresses(int count, const std::string& fullName = "") {
    for (int i = 1; i <= count; ++i)
      db_.Run("INSERT INTO DNSLookUp (UserIP, FullName) VALUES ('192.0.2." + std::to_string(i) + "', '" + fullName +
              "')");
  }
  void SetUp() override { resolver_.CloseGate(); }

  test::DialogDatabase db_;
  test::StubResolver resolver_;
};

TEST_F(ResolveDialogTest, RunsAtMostNineAndGivesTheButtonsBackOnlyAfterTheLast) {
  AddAddresses(20);
  resolver_.SetName("192.0.2.7", "Host7.Example.ORG");
  ResolveIpDialog dialog(false, nullptr, &resolver_);
  ASSERT_EQ(dialog.List()->topLevelItemCount(), 20);
  EXPECT_EQ(dialog.List()->headerItem()->text(0), "IP");
  EXPECT_EQ(dialog.List()->headerItem()->text(1), "URL");
  EXPECT_FALSE(dialog.StopButton()->isEnabled());

  bool completed = false;
  QObject::connect(&dialog, &ResolveIpDialog::RunCompleted, [&] { completed = true; });
  dialog.StartButton()->click();
  EXPECT_FALSE(dialog.StartButton()->isEnabled());
  EXPECT_FALSE(dialog.OkButton()->isEnabled());
  EXPECT_FALSE(dialog.CancelButton()->isEnabled());
  EXPECT_TRUE(dialog.StopButton()->isEnabled());

  ASSERT_TRUE(test::WaitUntil([&] { return resolver_.Running() == 9; }));
  // The rows being looked up show "*"; nothing more starts while nine run.
  ASSERT_TRUE(test::WaitUntil([&] { return dialog.List()->topLevelItem(8)->text(1) == "*"; }));
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(resolver_.Calls(), 9);
  EXPECT_EQ(dialog.List()->topLevelItem(9)->text(1), "");

  resolver_.OpenGate();
  ASSERT_TRUE(test::WaitUntil([&] { return completed; }));
  EXPECT_LE(resolver_.Peak(), 9);
  EXPECT_EQ(resolver_.Calls(), 20);
  for (int row = 0; row < 20; ++row) EXPECT_EQ(dialog.DoneMark(row), 1) << row;
  EXPECT_EQ(dialog.List()->topLevelItem(6)->text(1), "Host7.Example.ORG");
  EXPECT_EQ(dialog.List()->topLevelItem(0)->text(1), "-");
  EXPECT_TRUE(dialog.StartButton()->isEnabled());
  EXPECT_TRUE(dialog.OkButton()->isEnabled());
  EXPECT_FALSE(dialog.StopButton()->isEnabled());
  EXPECT_EQ(db_.Value("SELECT rURL FROM DNSLookUp WHERE UserIP='192.0.2.7'"), "org.example.host7");
  EXPECT_EQ(db_.Value("SELECT rURL FROM DNSLookUp WHERE UserIP='192.0.2.1'"), "ip.192.0.2.1");

  // Failed rows come back with "All unresolved" only.
  dialog.AllUnresolvedBox()->click();
  EXPECT_EQ(dialog.List()->topLevelItemCount(), 19);
  EXPECT_EQ(dialog.DoneMark(0), 0);
  dialog.AllUnresolvedBox()->click();
  EXPECT_EQ(dialog.List()->topLevelItemCount(), 0);
}

TEST_F(ResolveDialogTest, StopStartsNoNewRowAndWritesTheRunningOnes) {
  AddAddresses(15);
  ResolveIpDialog dialog(false, nullptr, &resolver_);
  bool completed = false;
  QObject::connect(&dialog, &ResolveIpDialog::RunCompleted, [&] { completed = true; });
  dialog.StartButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return resolver_.Running() == 9; }));
  dialog.StopButton()->click();
  EXPECT_FALSE(dialog.StopButton()->isEnabled());
  resolver_.OpenGate();
  ASSERT_TRUE(test::WaitUntil([&] { return completed; }));
  EXPECT_EQ(resolver_.Calls(), 9);
  EXPECT_EQ(db_.Count("SELECT count(*) FROM DNSLookUp WHERE FullName='-'"), 9);
  EXPECT_EQ(dialog.DoneMark(8), 1);
  EXPECT_EQ(dialog.DoneMark(9), 0);
  EXPECT_TRUE(dialog.StartButton()->isEnabled());
}

TEST_F(ResolveDialogTest, ClosingDuringARunWaitsForTheRunningRowsThenCloses) {
  AddAddresses(12);
  ResolveIpDialog dialog(false, nullptr, &resolver_);
  dialog.show();
  dialog.StartButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return resolver_.Running() == 9; }));
  dialog.close();
  EXPECT_TRUE(dialog.isVisible());  // still waiting for its rows
  resolver_.OpenGate();
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog.isVisible(); }));
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(resolver_.Calls(), 9);
}

TEST_F(ResolveDialogTest, AutoStartRunsByItselfAndClosesAsCancel) {
  AddAddresses(3);
  resolver_.OpenGate();
  ResolveIpDialog dialog(true, nullptr, &resolver_);
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);
  EXPECT_EQ(resolver_.Calls(), 3);
  EXPECT_EQ(db_.Count("SELECT count(*) FROM DNSLookUp WHERE FullName='-'"), 3);
}

TEST_F(ResolveDialogTest, AWriteTheDatabaseRefusesEndsWithAnError) {
  AddAddresses(2);
  db_.Run("CREATE TRIGGER NoNames BEFORE UPDATE ON DNSLookUp BEGIN SELECT RAISE(ABORT, 'names refused'); END");
  QString shown;
  DialogPromptsInUse().showError = [&](QWidget*, const QString& title, const QString& text) { shown = title + ": " + text; };
  resolver_.OpenGate();
  ResolveIpDialog dialog(false, nullptr, &resolver_);
  bool completed = false;
  QObject::connect(&dialog, &ResolveIpDialog::RunCompleted, [&] { completed = true; });
  dialog.StartButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return completed; }));
  ResetDialogPrompts();
  EXPECT_TRUE(shown.startsWith("Error: Cannot store the host names in the database ")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("names refused")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith("(2 not stored; the addresses stay unresolved)")) << shown.toStdString();
  EXPECT_EQ(db_.Count("SELECT count(*) FROM DNSLookUp WHERE FullName IS NULL OR FullName=''"), 2);
}

}  // namespace
}  // namespace weavil
