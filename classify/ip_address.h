#pragma once
// Client addresses as numbers: dotted IPv4 and IPv6 texts, their canonical forms, and
// the name an address stands under in DNSLookUp until it has a host name.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace weavil {

// An IPv6 address as one 128-bit number (the first byte of the address is the most
// significant), so ranges compare as numbers.
using Ipv6Number = unsigned __int128;

// The IPv6 text forms of RFC 4291 (full, compressed with "::", a dotted IPv4 tail),
// in either letter case. A zone index ("fe80::1%eth0"), brackets, a prefix length or
// anything else gives nothing.
std::optional<Ipv6Number> ParseIpv6(std::string_view text);

// Strict dotted IPv4: four decimal parts of 0 to 255, no other form.
std::optional<uint32_t> ParseDottedIpv4(std::string_view text);

// An IPv4-mapped IPv6 address (::ffff:a.b.c.d) holds this IPv4 address.
std::optional<uint32_t> MappedIpv4(Ipv6Number address);

// The compressed lower-case form of RFC 5952 ("2001:db8::1").
std::string CanonicalIpv6(Ipv6Number address);
// All eight groups of four lower-case digits ("2001:0db8:0000:...:0001"): fixed width,
// so these texts sort as the numbers do.
std::string FullIpv6(Ipv6Number address);
std::string DottedIpv4(uint32_t address);

// The form a client address is kept in: an IPv6 text in its canonical form, an
// IPv4-mapped one as its dotted IPv4 address; every other text unchanged. True when
// the text was rewritten into out.
bool NormalizeClientAddress(std::string_view address, std::string& out);

// rURL of an address without host name: "ip." followed by the address, an IPv6 address
// in its full form so that the Visitors view can group it by network prefixes.
std::string UnresolvedReverseName(std::string_view address);

}  // namespace weavil
