#pragma once

#include <cstdint>
#include <string>

#include "guard/Backoff.h"

inline constexpr int64_t kMinLoopIntervalMs = 1000;
inline constexpr int64_t kMaxLoopIntervalMs = 0x7FFFFFFF;

// The loop timer's interval for an interval of nLoopSec seconds, kept within 1 s and
// 2^31 - 1 ms whatever the user typed.
uint32_t LoopIntervalMs(int32_t nLoopSec);
