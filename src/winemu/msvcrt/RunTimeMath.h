// Replacements: the C run-time's number conversions and mathematics, and
// the compiler's 64-bit and floating-point helpers. A double argument is
// two parameters (low word first); a double result is returned as its
// bits (the row's stub puts it in ST0).
#pragma once

#include "platform/support/SupportDefs.h"

int32 exp_atoi(uint32 text);
int32 exp_strtol(uint32 text, uint32 end, int32 base);
uint32 exp_strtoul(uint32 text, uint32 end, int32 base);
uint64 exp_strtod(uint32 text, uint32 end);
uint64 exp_atof(uint32 text);
int32 exp_abs(int32 value);
int32 exp_rand();
void exp_srand(uint32 seed);
// Sorts with the module's comparison function (cdecl, two element
// pointers); the array stays as it was when a comparison faults.
void exp_qsort(uint32 base, uint32 count, uint32 width, uint32 compare);

uint64 exp_pow(uint32 xLow, uint32 xHigh, uint32 yLow, uint32 yHigh);
uint64 exp_log(uint32 low, uint32 high);
uint64 exp_log10(uint32 low, uint32 high);
uint64 exp_exp(uint32 low, uint32 high);
uint64 exp_sqrt(uint32 low, uint32 high);
uint64 exp_sin(uint32 low, uint32 high);
uint64 exp_cos(uint32 low, uint32 high);
uint64 exp_tan(uint32 low, uint32 high);
uint64 exp_atan(uint32 low, uint32 high);
uint64 exp_atan2(uint32 yLow, uint32 yHigh, uint32 xLow, uint32 xHigh);
uint64 exp_floor(uint32 low, uint32 high);
uint64 exp_ceil(uint32 low, uint32 high);
uint64 exp_fabs(uint32 low, uint32 high);
uint64 exp_fmod(uint32 xLow, uint32 xHigh, uint32 yLow, uint32 yHigh);
uint64 exp_ldexp(uint32 low, uint32 high, int32 exponent);
uint64 exp_frexp(uint32 low, uint32 high, uint32 exponent);
uint64 exp_modf(uint32 low, uint32 high, uint32 whole);

// _ftol: ST0 truncated toward zero, in EDX:EAX.
uint64 exp_ftol(uint32 low, uint32 high);
uint64 exp_allmul(uint32 aLow, uint32 aHigh, uint32 bLow, uint32 bHigh);
uint64 exp_alldiv(uint32 aLow, uint32 aHigh, uint32 bLow, uint32 bHigh);
uint64 exp_aulldiv(uint32 aLow, uint32 aHigh, uint32 bLow, uint32 bHigh);
uint64 exp_allrem(uint32 aLow, uint32 aHigh, uint32 bLow, uint32 bHigh);
uint64 exp_aullrem(uint32 aLow, uint32 aHigh, uint32 bLow, uint32 bHigh);
// EDX:EAX shifted by CL.
uint64 exp_allshl(uint32 low, uint32 high, uint32 count);
uint64 exp_allshr(uint32 low, uint32 high, uint32 count);
uint64 exp_aullshr(uint32 low, uint32 high, uint32 count);
