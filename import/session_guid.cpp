#include "import/session_guid.h"

#include <random>

namespace weavil {

bool SessionGuid::IsNil() const {
  if (data1 || data2 || data3) return false;
  for (uint8_t b : data4)
    if (b) return false;
  return true;
}

namespace {

std::mt19937_64& Random() {
  thread_local std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  return engine;
}

// The groups after the first: the second and third mixed with now, the rest random.
void FillGuid(SessionGuid& guid, int64_t now) {
  uint64_t b = Random()();
  for (int i = 0; i < 8; ++i) guid.data4[i] = static_cast<uint8_t>(b >> (8 * i));
  uint64_t when = static_cast<uint64_t>(now);
  guid.data2 = static_cast<uint16_t>(((guid.data1 >> 16) ^ (when >> 16)) & 0xFFFF);
  guid.data3 = static_cast<uint16_t>((guid.data1 ^ when) & 0xFFFF);
}

}  // namespace

SessionGuid MakeSessionGuid(int64_t now) {
  SessionGuid guid;
  do {
    guid.data1 = static_cast<uint32_t>(Random()() >> 32);
    FillGuid(guid, now);
  } while (guid.IsNil());
  return guid;
}

SessionIdSequence::SessionIdSequence() : next_(static_cast<uint32_t>(Random()() >> 33)) {}

SessionGuid SessionIdSequence::NextGuid(int64_t now) {
  SessionGuid guid;
  do {
    guid.data1 = next_++;
    FillGuid(guid, now);
  } while (guid.IsNil());
  return guid;
}

std::string FormatSessionId(const SessionGuid& guid) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(36, '-');
  auto put = [&](size_t at, uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
      text[at + static_cast<size_t>(i)] = kHex[value & 0xF];
      value >>= 4;
    }
  };
  put(0, guid.data1, 8);
  put(9, guid.data2, 4);
  put(14, guid.data3, 4);
  put(19, (static_cast<uint64_t>(guid.data4[0]) << 8) | guid.data4[1], 4);
  uint64_t node = 0;
  for (int i = 2; i < 8; ++i) node = (node << 8) | guid.data4[i];
  put(24, node, 12);
  return text;
}

std::string MakeSessionId(int64_t now) { return FormatSessionId(MakeSessionGuid(now)); }

}  // namespace weavil
