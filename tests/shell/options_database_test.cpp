// The Options sheet's "Database:" line as a user edits it: typed into with the keyboard,
// taken with a click on OK or with Return, and what reaches the data-source list.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <optional>

#include "settings/settings.h"
#include "shell/options_sheet.h"
#include "shell/shell_prompts.h"
#include "store/data_source_registry.h"
#include "store/database.h"
#include "tests/shell/shell_test_support.h"

namespace weavil::test {
namespace {

class OptionsDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureShellApplication();
    AppSettings() = Settings{};
    // The run shares one config folder: the list is put back as it was at the end.
    std::error_code ec;
    if (std::filesystem::exists(DataSourceListPath(), ec)) saved_ = ReadFile(DataSourceListPath());
    registered_ = dir_.File("log.db");
    WriteFile(registered_, "");
    ASSERT_TRUE(RegisterDataSource("Log", registered_));
    Prompts().showError = [this](QWidget*, const QString&, const QString& text) { errors_.push_back(text); };
  }

  void TearDown() override {
    ResetPrompts();
    AppSettings() = Settings{};
    SetDatabaseBusySeconds(kDefaultBusySeconds);
    std::error_code ec;
    if (saved_) WriteFile(DataSourceListPath(), *saved_);
    else std::filesystem::remove(DataSourceListPath(), ec);
  }

  // Shows the sheet as the Options command does and waits until it is on screen.
  void Show(OptionsSheet& sheet) {
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
  }

  // Replaces the whole line with text, as a user selecting it all and typing over it.
  static void TypeInto(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
  }

  static void ClickOk(OptionsSheet& sheet) {
    auto* buttons = sheet.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
  }

  static std::string Registered() {
    std::string path;
    LookupDataSource("Log", path);
    return path;
  }

  TempDir dir_;
  std::string registered_;
  std::optional<std::string> saved_;
  std::vector<QString> errors_;
};

TEST_F(OptionsDatabaseTest, ServerUriTypedAndTakenWithOkIsRegistered) {
  OptionsSheet sheet;
  Show(sheet);
  EXPECT_EQ(sheet.Database()->text().toStdString(), registered_);

  // A query with '=' and '&' in it must come back whole from the list file.
  const std::string uri = "postgresql://weavil@/logs?host=/run/weavil-pg&connect_timeout=5";
  TypeInto(sheet.Database(), QString::fromStdString(uri + "  "));
  ClickOk(sheet);
  EXPECT_TRUE(errors_.empty()) << errors_.front().toStdString();
  EXPECT_EQ(sheet.result(), QDialog::Accepted);
  EXPECT_FALSE(sheet.isVisible());
  EXPECT_EQ(Registered(), uri);
  EXPECT_NE(ReadFile(DataSourceListPath()).find("Database=" + uri + "\n"), std::string::npos)
      << ReadFile(DataSourceListPath());

  // The next sheet starts from it.
  OptionsSheet again;
  EXPECT_EQ(again.Database()->text().toStdString(), uri);
}

TEST_F(OptionsDatabaseTest, NeitherFileNorUriIsRefusedAndTheSheetStaysOpen) {
  std::string list = ReadFile(DataSourceListPath());
  OptionsSheet sheet;
  Show(sheet);
  sheet.SiteUrl()->setText(QStringLiteral("www.example.org"));

  const std::string missing = dir_.File("missing.db");
  std::filesystem::create_directory(dir_.File("folder.db"));
  for (const std::string& text : {missing, dir_.File("folder.db"), std::string("mysql://weavil@db/logs"), std::string()}) {
    SCOPED_TRACE(text);
    errors_.clear();
    TypeInto(sheet.Database(), QString::fromStdString(text));
    if (text.empty()) QTest::keyClick(sheet.Database(), Qt::Key_Delete);  // typing nothing leaves the selection
    ASSERT_EQ(sheet.Database()->text().toStdString(), text);
    QTest::keyClick(sheet.Database(), Qt::Key_Return);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_TRUE(errors_[0].contains(QString::fromStdString("\"" + text + "\""))) << errors_[0].toStdString();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_NE(sheet.result(), QDialog::Accepted);
  }
  EXPECT_EQ(Registered(), registered_);
  EXPECT_EQ(ReadFile(DataSourceListPath()), list);
  EXPECT_EQ(CopySettings().defaultHost, "");  // nothing of the sheet was taken

  // Put right, the same sheet takes an existing file.
  errors_.clear();
  const std::string other = dir_.File("other.db");
  WriteFile(other, "");
  TypeInto(sheet.Database(), QString::fromStdString(other));
  QTest::keyClick(sheet.Database(), Qt::Key_Return);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(sheet.result(), QDialog::Accepted);
  EXPECT_EQ(Registered(), other);
  EXPECT_EQ(CopySettings().defaultHost, "www.example.org");
}

TEST_F(OptionsDatabaseTest, UnchangedDatabaseWritesNothing) {
  // A list as the user left it, comment and all: any rewrite would lose the comment.
  const std::string list = "; kept by hand\n[Log]\nDatabase=" + registered_ + "\nDriver=SQLite 3\n";
  WriteFile(DataSourceListPath(), list);
  OptionsSheet sheet;
  Show(sheet);
  TypeInto(sheet.Database(), QString::fromStdString(" " + registered_ + " "));  // retyped, blanks around
  sheet.AutoConnect()->setChecked(true);
  ClickOk(sheet);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(sheet.result(), QDialog::Accepted);
  EXPECT_EQ(CopySettings().isAutoConnect, 1);
  EXPECT_EQ(ReadFile(DataSourceListPath()), list);
}

}  // namespace
}  // namespace weavil::test
