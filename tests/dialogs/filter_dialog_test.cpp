// The Filter dialog: what it shows, the enabling rule, the exact texts OK stores and the
// refresh it asks for; the Items list with its preselection and its result.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <mutex>

#include "reports/country_names.h"
#include "settings/settings.h"
#include "shell/dialogs/context_help.h"
#include "shell/dialogs/filter_dialog.h"
#include "shell/dialogs/items_list_dialog.h"
#include "store/view_requests.h"
#include "tests/dialogs/dialog_test_support.h"

namespace weavil {
namespace {

class FilterDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureTestApplication();
    std::lock_guard<std::mutex> lock(SettingsMutex());
    saved_ = AppSettings();
    TakeResetViews();
    TakeReloadViews();
  }
  void TearDown() override {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    AppSettings() = saved_;
  }
  Settings saved_;
  CountryNames countries_;
};

TEST_F(FilterDialogTest, ShowsTheFilterAndEnablesTheFieldsBySetFilter) {
  ReportFilter filter;
  filter.applyFilter = 0;
  filter.isPages = 1;
  filter.pages = "/a.htm /b.htm";
  filter.period = "month+";
  FilterDialog dialog(filter, countries_);
  EXPECT_EQ(dialog.windowTitle(), "Filter");
  EXPECT_EQ(dialog.ListEdit(ItemsListKind::kPages)->text(), "/a.htm /b.htm");
  EXPECT_TRUE(dialog.ListBox(ItemsListKind::kPages)->isChecked());
  EXPECT_EQ(dialog.PeriodCombo()->currentText(), "Month+");
  EXPECT_FALSE(dialog.NoRobotsBox()->isEnabled());
  EXPECT_FALSE(dialog.ListEdit(ItemsListKind::kReferers)->isEnabled());
  EXPECT_FALSE(dialog.ListButton(ItemsListKind::kCountries)->isEnabled());
  EXPECT_FALSE(dialog.PeriodCombo()->isEnabled());
  dialog.SetFilterBox()->click();
  EXPECT_TRUE(dialog.NoRobotsBox()->isEnabled());
  EXPECT_TRUE(dialog.ListEdit(ItemsListKind::kReferers)->isEnabled());
  EXPECT_TRUE(dialog.ListButton(ItemsListKind::kCountries)->isEnabled());
  EXPECT_TRUE(dialog.PeriodBox()->isEnabled());

  // A stored name without "+" filters the same but selects no entry.
  filter.period = "Month";
  FilterDialog other(filter, countries_);
  EXPECT_EQ(other.PeriodCombo()->currentIndex(), -1);
  EXPECT_EQ(other.PeriodCombo()->currentText(), "");
}

TEST_F(FilterDialogTest, OkStoresTheTextsWithoutQuotesAndAsksForAResetAndReload) {
  FilterDialog dialog(ReportFilter(), countries_);
  dialog.SetFilterBox()->click();
  dialog.NoRobotsBox()->click();
  dialog.ListBox(ItemsListKind::kKeywords)->click();
  dialog.ListEdit(ItemsListKind::kKeywords)->setText(QStringLiteral("it's \"cheap\" flights"));
  dialog.ListEdit(ItemsListKind::kCountries)->setText(QStringLiteral("DE, 'US'"));
  dialog.PeriodBox()->click();
  dialog.PeriodCombo()->setEditText(QStringLiteral("Fortnight's"));
  dialog.accept();

  Settings settings = CopySettings();
  EXPECT_EQ(settings.applyFilter, 1);
  EXPECT_EQ(settings.noRobots, 1);
  EXPECT_EQ(settings.isKeywords, 1);
  EXPECT_EQ(settings.keywords, "its cheap flights");
  EXPECT_EQ(settings.isCountries, 0);
  EXPECT_EQ(settings.countries, "DE, US");
  EXPECT_EQ(settings.isPeriod, 1);
  EXPECT_EQ(settings.period, "Fortnight's");  // the period is kept as typed
  EXPECT_TRUE(TakeResetViews());
  EXPECT_TRUE(TakeReloadViews());
}

TEST_F(FilterDialogTest, CancelChangesNothingAndAsksForNothing) {
  {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    AppSettings().pages = "/kept.htm";
  }
  FilterDialog dialog(CopyReportFilter(), countries_);
  dialog.SetFilterBox()->click();
  dialog.ListEdit(ItemsListKind::kPages)->setText(QStringLiteral("/other.htm"));
  dialog.reject();
  EXPECT_EQ(CopySettings().pages, "/kept.htm");
  EXPECT_FALSE(ReloadViewsRaised());
  EXPECT_FALSE(ResetViewsRaised());
}

TEST_F(FilterDialogTest, TheItemsButtonReplacesTheListOnlyOnOk) {
  ReportFilter filter;
  filter.applyFilter = 1;
  filter.countries = "de";
  countries_.Add("DE", "Germany");
  countries_.Add("FR", "France");
  FilterDialog dialog(filter, countries_);
  QString shownWith;
  dialog.SetItemsListRunner([&](ItemsListDialog& items) {
    shownWith = items.windowTitle();
    items.reject();
    return items.result();
  });
  dialog.ListButton(ItemsListKind::kCountries)->click();
  EXPECT_EQ(shownWith, "Items list");
  EXPECT_EQ(dialog.ListEdit(ItemsListKind::kCountries)->text(), "de");
}

TEST(ItemsListDialog, PreselectsFromTheTextAndReturnsTheSelectionInListOrder) {
  test::EnsureTestApplication();
  CountryNames countries;
  ItemsListDialog pages(ItemsListKind::kPages, QStringLiteral("a, \"/x.htm\";/B"), countries,
                        {"/b.htm", "/B2.htm", "Apple.htm", "about.htm", "zoo.htm"});
  EXPECT_EQ(pages.List()->selectionMode(), QAbstractItemView::ExtendedSelection);
  // "a" selects the first entry beginning with it, whatever the case; "/x.htm" none.
  EXPECT_EQ(pages.SelectedRows(), (std::vector<size_t>{0, 2}));
  pages.List()->item(4)->setSelected(true);
  pages.accept();
  EXPECT_EQ(pages.Result(), "/b.htm Apple.htm zoo.htm");

  countries.Add("DE", "Germany");
  countries.Add("FR", "France");
  countries.Add("AT", "Austria");
  ItemsListDialog codes(ItemsListKind::kCountries, QStringLiteral("FR DE XX"), countries,
                        {"Austria", "France", "Germany"});
  EXPECT_EQ(codes.SelectedRows(), (std::vector<size_t>{1, 2}));
  codes.List()->item(1)->setSelected(false);
  codes.List()->item(0)->setSelected(true);
  codes.accept();
  EXPECT_EQ(codes.Result(), "AT DE");
}

TEST(ItemsListDialog, LoadsTheStoredValuesFromTheDataSource) {
  test::DialogDatabase db;
  db.Run("INSERT INTO Keyword (Word) VALUES ('zebra'), ('Alpha'), ('beta')");
  CountryNames countries;
  ItemsListDialog dialog(ItemsListKind::kKeywords, QStringLiteral("B"), countries);
  ASSERT_EQ(dialog.List()->count(), 3);
  EXPECT_EQ(dialog.List()->item(0)->text(), "Alpha");
  EXPECT_EQ(dialog.List()->item(1)->text(), "beta");
  EXPECT_EQ(dialog.SelectedRows(), (std::vector<size_t>{1}));
}

TEST(ContextHelp, EveryFilterControlHasItsText) {
  test::EnsureTestApplication();
  CountryNames countries;
  FilterDialog dialog(ReportFilter(), countries);
  for (QWidget* control : {static_cast<QWidget*>(dialog.SetFilterBox()), static_cast<QWidget*>(dialog.NoRobotsBox()),
                           static_cast<QWidget*>(dialog.PeriodBox()), static_cast<QWidget*>(dialog.PeriodCombo())})
    EXPECT_FALSE(control->whatsThis().isEmpty()) << control->objectName().toStdString();
  for (ItemsListKind kind :
       {ItemsListKind::kPages, ItemsListKind::kCountries, ItemsListKind::kKeywords, ItemsListKind::kReferers}) {
    EXPECT_FALSE(dialog.ListBox(kind)->whatsThis().isEmpty()) << dialog.ListBox(kind)->objectName().toStdString();
    EXPECT_FALSE(dialog.ListEdit(kind)->whatsThis().isEmpty());
    EXPECT_FALSE(dialog.ListButton(kind)->whatsThis().isEmpty());
  }

  auto topics = ParseContextHelp("intro\n.topic A.b\r\n\nfirst\nsecond\n\n.topic A.c\nthird\n");
  EXPECT_EQ(topics.size(), 2u);
  EXPECT_EQ(topics["A.b"], "first\nsecond");
  EXPECT_EQ(topics["A.c"], "third");
}

}  // namespace
}  // namespace weavil
