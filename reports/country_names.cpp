#include "reports/country_names.h"

#include "store/database.h"
#include "store/result.h"

namespace weavil {

bool CountryNames::Load(DbSession& session) {
  Statement statement;
  if (Failed(statement.Execute(session, "Select Code, Name FROM Countries;"))) return false;
  std::map<std::string, std::string, std::less<>> byCode, byName;
  int32_t step;
  while ((step = statement.MoveNext()) == kResultOk) {
    auto [code, name] = statement.Row<std::string, std::string>();
    byCode[code] = name;
    byName[name] = code;
  }
  if (Failed(step)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  nameByCode_.swap(byCode);
  codeByName_.swap(byName);
  return true;
}

void CountryNames::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  nameByCode_.clear();
  codeByName_.clear();
}

std::string CountryNames::NameOf(std::string_view code) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = nameByCode_.find(code);
  return found == nameByCode_.end() ? std::string() : found->second;
}

std::string CountryNames::CodeOf(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = codeByName_.find(name);
  return found == codeByName_.end() ? std::string() : found->second;
}

size_t CountryNames::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nameByCode_.size();
}

void CountryNames::Add(const std::string& code, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  nameByCode_[code] = name;
  codeByName_[name] = code;
}

CountryNames& AppCountryNames() {
  static CountryNames names;
  return names;
}

void CountryNames::ForEach(const std::function<void(const std::string&, const std::string&)>& visit) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [code, name] : nameByCode_) visit(code, name);
}

}  // namespace weavil
