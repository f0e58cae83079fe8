// The Visitors view: sessions under the pieces of their visitor's host name, read from
// the top-level domain down, or under the address and its networks for an unresolved
// visitor.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "classify/ip_address.h"
#include "reports/session_view_rows.h"
#include "store/database.h"

namespace weavil {

namespace {

constexpr size_t kMaxDomainLevels = 6;
constexpr size_t kDomainLabelLimit = 49;

// An unresolved IPv6 visitor: "ip", its network prefixes of 16, 32, 48 and 64 bits,
// then the address, each in canonical form ("ip.2001:db8::/32", "ip.2001:db8::1").
std::vector<std::string> Ipv6Labels(Ipv6Number address) {
  std::vector<std::string> labels{"ip"};
  for (int bits = 16; bits <= 64; bits += 16) {
    Ipv6Number mask = ~Ipv6Number(0) << (128 - bits);
    labels.push_back("ip." + CanonicalIpv6(address & mask) + "/" + std::to_string(bits));
  }
  labels.push_back("ip." + CanonicalIpv6(address));
  return labels;
}

size_t EnterDomainGroups(const Statement& row, SessionGroups& groups) {
  std::vector<std::string> labels = DomainLabels(row.Get<std::string>(2));
  for (size_t i = 0; i < labels.size(); ++i) groups.EnterSortable(i, labels[i]);
  return labels.size();
}

}  // namespace

extern const SessionViewDef kVisitorsView = {
    {"Visitors", "Domain", static_cast<int>(kMaxDomainLevels),
     "SELECT b.FullName, b.rURL, a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP FROM DNSLookUp b, "
     "[Session] a WHERE b.UserIP=a.UserIP ",
     "ORDER BY (left(b.rURL,100) || Space(100-Len(left(b.rURL,100))) || Format(a.TimeEnter,'yyyymmddhhnnss')) "
     "COLLATE NOCASE ASC"},
    nullptr,
    EnterDomainGroups,
    3,
    4,
};

std::vector<std::string> DomainLabels(std::string_view reversedUrl) {
  std::vector<std::string_view> pieces = SplitLabel(reversedUrl, '.', kMaxDomainLevels);
  bool storedOrder = pieces.front() == "ip";
  if (storedOrder && pieces.size() == 2 && pieces[1].find(':') != std::string_view::npos) {
    if (std::optional<Ipv6Number> v6 = ParseIpv6(pieces[1])) return Ipv6Labels(*v6);
  }
  std::vector<std::string> labels;
  labels.reserve(pieces.size());
  for (size_t k = 1; k <= pieces.size(); ++k) {
    std::string label;
    for (size_t j = 0; j < k; ++j) {
      if (j) label += '.';
      label += storedOrder ? pieces[j] : pieces[k - 1 - j];
    }
    if (k >= 2 && label.size() > kDomainLabelLimit) label.resize(kDomainLabelLimit);
    labels.push_back(std::move(label));
  }
  return labels;
}

}  // namespace weavil
