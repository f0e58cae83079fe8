#pragma once
// Session identifiers: 128-bit GUIDs in their platform group layout, written in
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

// The identifiers of one import's new sessions, each greater than the one before as
// text: the first group counts up from a random start below 2^31, the second and third
// are mixed with now as MakeSessionGuid mixes them, the last eight bytes are random.
// Keys that come in order are appended at the end of every index on SessionId (no
// page of it is visited twice) instead of being spread over all of it.
class SessionIdSequence {
 public:
  SessionIdSequence();
  SessionGuid NextGuid(int64_t now);
  std::string Next(int64_t now) { return FormatSessionId(NextGuid(now)); }

 private:
  uint32_t next_;
};

}  // namespace weavil
