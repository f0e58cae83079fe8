#include "reports/filter_dialogs.h"

#include <algorithm>

#include "base/text.h"
#include "reports/country_names.h"
#include "store/database.h"
#include "store/result.h"
#include "store/view_requests.h"

namespace weavil {

namespace {

std::vector<std::string_view> Tokens(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> tokens;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && separators.find(text[i]) != std::string_view::npos) ++i;
    size_t start = i;
    while (i < text.size() && separators.find(text[i]) == std::string_view::npos) ++i;
    if (i > start) tokens.push_back(text.substr(start, i - start));
  }
  return tokens;
}

}  // namespace

const char* ItemsListQuery(ItemsListKind kind) {
  switch (kind) {
    case ItemsListKind::kPages: return "Select distinct UriStem, UriStem from Resource;";
    case ItemsListKind::kCountries: return "Select distinct Name, Code from Countries;";
    case ItemsListKind::kKeywords: return "Select distinct Word, Word from Keyword;";
    case ItemsListKind::kReferers: return "Select distinct Url, Url from Referer;";
  }
  return "";
}

void SortItemsList(std::vector<std::string>& items) {
  std::stable_sort(items.begin(), items.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return ToLowerAscii(x) < ToLowerAscii(y); });
  });
}

std::vector<std::string> LoadItemsList(DbSession& session, ItemsListKind kind) {
  std::vector<std::string> items;
  Statement statement;
  if (Failed(statement.Execute(session, ItemsListQuery(kind)))) return items;
  while (statement.MoveNext() == kResultOk) items.push_back(statement.Get<std::string>(1));
  SortItemsList(items);
  return items;
}

std::vector<size_t> PreselectItems(const std::vector<std::string>& items, std::string_view listText,
                                   ItemsListKind kind, const CountryNames& countries) {
  std::vector<size_t> selected;
  for (std::string_view token : Tokens(listText, " ,;'\"")) {
    std::string wanted(token);
    if (kind == ItemsListKind::kCountries) {
      wanted = countries.NameOf(token);
      if (wanted.empty()) continue;
    }
    for (size_t i = 0; i < items.size(); ++i) {
      if (StartsWithNoCase(items[i], wanted)) {
        selected.push_back(i);
        break;
      }
    }
  }
  std::sort(selected.begin(), selected.end());
  selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
  return selected;
}

std::string ItemsListResult(const std::vector<std::string>& items, const std::vector<size_t>& selected,
                            ItemsListKind kind, const CountryNames& countries) {
  std::vector<size_t> order(selected);
  std::sort(order.begin(), order.end());
  std::string out;
  bool first = true;
  for (size_t index : order) {
    if (index >= items.size()) continue;
    std::string value = kind == ItemsListKind::kCountries ? countries.CodeOf(items[index]) : items[index];
    if (value.empty()) continue;
    if (!first) out += ' ';
    out += value;
    first = false;
  }
  return out;
}

int FilterDialogPeriodIndex(std::string_view period) {
  for (size_t i = 0; i < kFilterDialogPeriods.size(); ++i) {
    std::string_view name = kFilterDialogPeriods[i];
    if (name.size() == period.size() && StartsWithNoCase(name, period)) return static_cast<int>(i);
  }
  return -1;
}

ReportFilter FilterDialogResult(const ReportFilter& controls) {
  auto cut = [](const std::string& text) { return text.substr(0, std::min(text.size(), kFilterTextLimit)); };
  ReportFilter f = controls;
  f.pages = SanitizeListText(cut(controls.pages));
  f.countries = SanitizeListText(cut(controls.countries));
  f.keywords = SanitizeListText(cut(controls.keywords));
  f.referers = SanitizeListText(cut(controls.referers));
  f.period = cut(controls.period);
  return f;
}

void ApplyFilterDialog(const ReportFilter& controls) {
  StoreReportFilter(FilterDialogResult(controls));
  RaiseResetViews();
  RaiseReloadViews();
}

}  // namespace weavil
