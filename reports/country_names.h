#pragma once
// Country code to name and back, loaded from the Countries table. Report builders on
// worker threads read it while the Sessions view reloads it, so every access locks.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace weavil {

class DbSession;

class CountryNames {
 public:
  // Replaces both maps by the rows of "Select Code, Name FROM Countries;". On failure
  // the maps keep what they held and false is returned.
  bool Load(DbSession& session);
  void Clear();

  // Empty text when the key is missing.
  std::string NameOf(std::string_view code) const;
  std::string CodeOf(std::string_view name) const;
  size_t Size() const;
  // Every code with its name, in code order.
  void ForEach(const std::function<void(const std::string& code, const std::string& name)>& visit) const;

  // Fills the maps directly (tests, tools).
  void Add(const std::string& code, const std::string& name);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> nameByCode_;
  std::map<std::string, std::string, std::less<>> codeByName_;
};

// The process-wide maps; empty until the first Sessions refresh loads them.
CountryNames& AppCountryNames();

}  // namespace weavil
