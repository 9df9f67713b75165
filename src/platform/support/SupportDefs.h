// Basic types of the platform kits: fixed-width integers, status codes and
// the common constants every kit shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "platform/support/Errors.h"

typedef int8_t int8;
typedef uint8_t uint8;
typedef int16_t int16;
typedef uint16_t uint16;
typedef int32_t int32;
typedef uint32_t uint32;
typedef int64_t int64;
typedef uint64_t uint64;

typedef int32 status_t;
typedef int64 bigtime_t;
typedef uint32 type_code;
typedef uint32 perform_code;

#ifndef B_INFINITE_TIMEOUT
#define B_INFINITE_TIMEOUT (INT64_MAX)
#endif

template <typename T>
constexpr T min_c(T a, T b)
{
    return a < b ? a : b;
}

template <typename T>
constexpr T max_c(T a, T b)
{
    return a > b ? a : b;
}
