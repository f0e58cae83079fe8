#include "classify/ip_address.h"

#include <arpa/inet.h>

#include <cstring>

namespace weavil {

std::optional<Ipv6Number> ParseIpv6(std::string_view text) {
  // inet_pton takes exactly the RFC 4291 forms; it needs a terminated copy.
  char copy[INET6_ADDRSTRLEN + 1];
  if (text.size() < 2 || text.size() >= sizeof copy || text.find('\0') != std::string_view::npos) return std::nullopt;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  unsigned char bytes[16];
  if (::inet_pton(AF_INET6, copy, bytes) != 1) return std::nullopt;
  Ipv6Number value = 0;
  for (unsigned char b : bytes) value = (value << 8) | b;
  return value;
}

std::optional<uint32_t> ParseDottedIpv4(std::string_view text) {
  uint32_t value = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
    size_t start = i;
    unsigned number = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) number = number * 10 + unsigned(text[i++] - '0');
    if (i == start || number > 255) return std::nullopt;
    value = (value << 8) | number;
  }
  if (i != text.size()) return std::nullopt;
  return value;
}

std::optional<uint32_t> MappedIpv4(Ipv6Number address) {
  if ((address >> 32) != Ipv6Number(0xFFFF)) return std::nullopt;
  return static_cast<uint32_t>(address);
}

namespace {
void ToBytes(Ipv6Number address, unsigned char bytes[16]) {
  for (int i = 15; i >= 0; --i) {
    bytes[i] = static_cast<unsigned char>(address);
    address >>= 8;
  }
}
}  // namespace

std::string CanonicalIpv6(Ipv6Number address) {
  unsigned char bytes[16];
  ToBytes(address, bytes);
  char text[INET6_ADDRSTRLEN];
  if (!::inet_ntop(AF_INET6, bytes, text, sizeof text)) return FullIpv6(address);
  return text;
}

std::string FullIpv6(Ipv6Number address) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(39, ':');
  for (int group = 7; group >= 0; --group) {
    for (int digit = 3; digit >= 0; --digit) {
      text[static_cast<size_t>(group * 5 + digit)] = kHex[static_cast<unsigned>(address & 0xF)];
      address >>= 4;
    }
  }
  return text;
}

std::string DottedIpv4(uint32_t address) {
  return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
         std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
}

bool NormalizeClientAddress(std::string_view address, std::string& out) {
  if (address.find(':') == std::string_view::npos) return false;
  std::optional<Ipv6Number> v6 = ParseIpv6(address);
  if (!v6) return false;
  if (std::optional<uint32_t> v4 = MappedIpv4(*v6)) out = DottedIpv4(*v4);
  else out = CanonicalIpv6(*v6);
  return out != address;
}

std::string UnresolvedReverseName(std::string_view address) {
  std::string name = "ip.";
  std::optional<Ipv6Number> v6 =
      address.find(':') == std::string_view::npos ? std::nullopt : ParseIpv6(address);
  if (v6) name += FullIpv6(*v6);
  else name.append(address);
  return name;
}

}  // namespace weavil
