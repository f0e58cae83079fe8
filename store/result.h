#pragma once
// Result codes shared by the cores: a negative value is a failure, callers test only the sign.
#include <cstdint>

namespace weavil {

constexpr int32_t kResultOk = 0;
constexpr int32_t kResultFalse = 1;  // success without a value: end of rows, nothing done
constexpr int32_t kResultFail = static_cast<int32_t>(0x80004005u);

constexpr bool Failed(int32_t result) { return result < 0; }
constexpr bool Succeeded(int32_t result) { return result >= 0; }

}  // namespace weavil
