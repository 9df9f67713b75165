/* The kernels compiled for the x87 FPU, as the x87 test module holds them:
   the native peer that runs the same floating-point instructions as the
   emulated module (the host compiler's own build uses SSE). */
#define Crc32 Crc32X87
#define Fir64 Fir64X87
#define Fir64Mmx Fir64MmxX87
#include "kernels.c"
