#include "classify/country_lookup.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "classify/user_agent_classifier.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {

uint32_t AddressNumber(std::string_view address) {
  std::string text(TextBeforeNul(address));
  in_addr parsed{};
  if (inet_aton(text.c_str(), &parsed) == 0) return 4294967295u;
  return ntohl(parsed.s_addr);
}

std::string CountryQuery(std::string_view address) {
  std::string number = std::to_string(AddressNumber(address));
  return "Select Code from IPRanges where StartIP<=" + number + " and EndIP>=" + number +
         " order by ValueBits DESC;";
}

int32_t LookupCountry(std::string_view address, std::string& country, DbSession& session) {
  Statement statement;
  if (Failed(statement.Execute(session, CountryQuery(address)))) return 0;
  if (statement.MoveNext() != kResultOk) return 0;
  std::string code;
  if (!statement.GetText(1, code)) return 0;
  country = code.substr(0, 2);
  return 0;
}

}  // namespace weavil
