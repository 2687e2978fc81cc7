#pragma once
// The emulated instrument's fixed acquisition settings, shared by its
// measurements and by the blocks and records that report them.
#include "EmuOptions.h"

#include <cstdint>

namespace varmexemu {

inline constexpr uint16_t kInjectionTime = 500; // instrument time unit
inline constexpr uint16_t kDelayTime = 40;
inline constexpr uint16_t kWindowWidth = 20;
inline constexpr int kStacks = 3;
inline constexpr double kTxVoltage = 400.0;
inline constexpr float kHeaderByte27Source = 120.0f;

inline int arrayCode(ArrayType t) {
    switch (t) {
    case ArrayType::Wenner:
        return 1;
    case ArrayType::Schlumberger:
        return 2;
    case ArrayType::DipoleDipole:
        return 3;
    case ArrayType::PoleDipole:
        return 5;
    }
    return 0;
}

} // namespace varmexemu
