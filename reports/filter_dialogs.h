#pragma once
// What the filter dialog and its items list dialog decide, apart from the widgets: the
// list queries, the preselection of typed values, the texts written back, and what OK
// stores. The shell's dialogs only show these.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "reports/report_filter.h"

namespace weavil {

class CountryNames;
class DbSession;

enum class ItemsListKind { kPages, kCountries, kKeywords, kReferers };

// The query whose first column fills the items list.
const char* ItemsListQuery(ItemsListKind kind);

// The entries of the items list in the list box's order (alphabetical without regard to
// case). Empty when the query fails: the dialog still opens.
std::vector<std::string> LoadItemsList(DbSession& session, ItemsListKind kind);
void SortItemsList(std::vector<std::string>& items);

// Indices (ascending, no repeats) of the entries the current list text selects: each
// token selects the first entry that begins with it, without regard to case. Country
// tokens are codes and go through their names first.
std::vector<size_t> PreselectItems(const std::vector<std::string>& items, std::string_view listText,
                                   ItemsListKind kind, const CountryNames& countries);

// OK: the selected entries in list order joined by single blanks; country names are
// turned back into their codes.
std::string ItemsListResult(const std::vector<std::string>& items, const std::vector<size_t>& selected,
                            ItemsListKind kind, const CountryNames& countries);

// The period names the filter dialog offers, in its order.
inline constexpr std::array<const char*, 4> kFilterDialogPeriods = {"Year+", "Month+", "Week+", "Day+"};
// The entry of the drop-down box equal to period as a whole without regard to case; -1 for none.
int FilterDialogPeriodIndex(std::string_view period);

// The dialog reads at most this many characters of each list and of the period.
inline constexpr size_t kFilterTextLimit = 99;

// OK of the filter dialog: the controls' values as the filter will store them (lists
// cut to the limit and stripped of quotes, the period cut but otherwise unchanged).
ReportFilter FilterDialogResult(const ReportFilter& controls);
// Stores that result as the process-wide filter and raises ResetViews and ReloadViews.
void ApplyFilterDialog(const ReportFilter& controls);

}  // namespace weavil
