#pragma once
// Session identifiers: random 128-bit GUIDs in their platform group layout, written in
// the lower-case hyphenated form the Session table keys on.
#include <cstdint>
#include <string>

namespace weavil {

// A 128-bit identifier in its platform group layout.
struct SessionGuid {
  uint32_t data1 = 0;
  uint16_t data2 = 0, data3 = 0;
  uint8_t data4[8] = {};
  bool IsNil() const;
};

// A new random identifier whose second and third groups are mixed with now (seconds
// since 1970): data2 = (data1 >> 16) ^ (now >> 16), data3 = data1 ^ now, each kept to
// 16 bits. Never nil.
SessionGuid MakeSessionGuid(int64_t now);
// Lower-case hyphenated 8-4-4-4-12 form without braces.
std::string FormatSessionId(const SessionGuid& guid);
std::string MakeSessionId(int64_t now);

}  // namespace weavil
