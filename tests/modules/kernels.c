/* Compute kernels for the benchmark, built for the emulator (twice: x87 and
   SSE arithmetic) and natively for the host from this same source. */
#ifdef _WIN32
#define KERNEL_API __declspec(dllexport) __attribute__((stdcall))
#else
#define KERNEL_API
#endif

typedef unsigned int kernel_u32;

KERNEL_API kernel_u32 Crc32(const unsigned char* data, kernel_u32 length)
{
    kernel_u32 crc = 0xFFFFFFFFu;
    for (kernel_u32 i = 0; i < length; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

/* A 64-tap FIR filter; out[i] for i >= 63. Returns a checksum. */
KERNEL_API kernel_u32 Fir64(const float* in, float* out, kernel_u32 count, const float* taps)
{
    float check = 0.0f;
    for (kernel_u32 i = 63; i < count; i++) {
        float sum = 0.0f;
        for (int t = 0; t < 64; t++)
            sum += in[i - t] * taps[t];
        out[i] = sum;
        check += sum;
    }
    return (kernel_u32)(int)check;
}

/* The same filter in 16-bit fixed point on MMX, as codecs of the era ran
   it: taps in Q15, stored reversed, four products a PMADDWD; out[i] for
   i >= 63, saturated. Returns a checksum. Inline assembly, so that both
   builds run MMX instructions (a compiler may carry MMX intrinsics out in
   SSE registers). */
__attribute__((target("mmx"))) KERNEL_API kernel_u32 Fir64Mmx(const short* in, short* out,
                                                             kernel_u32 count,
                                                             const short* reversedTaps)
{
    kernel_u32 check = 0;
    for (kernel_u32 i = 63; i < count; i++) {
        int sum;
        __asm__ volatile("pxor %%mm7, %%mm7\n\t"
                         ".irp k, 0, 8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 88, 96, 104, 112, 120\n\t"
                         "movq \\k(%1), %%mm0\n\t"
                         "pmaddwd \\k(%2), %%mm0\n\t"
                         "paddd %%mm0, %%mm7\n\t"
                         ".endr\n\t"
                         "movq %%mm7, %%mm0\n\t"
                         "psrlq $32, %%mm0\n\t"
                         "paddd %%mm0, %%mm7\n\t"
                         "movd %%mm7, %0"
                         : "=r"(sum)
                         : "r"(in + i - 63), "r"(reversedTaps)
                         : "mm0", "mm7", "memory");
        sum >>= 15;
        if (sum > 32767)
            sum = 32767;
        if (sum < -32768)
            sum = -32768;
        out[i] = (short)sum;
        check += (unsigned short)sum;
    }
    __asm__ volatile("emms");
    return check;
}

#ifdef _WIN32
int __attribute__((stdcall)) DllMain(void* instance, kernel_u32 reason, void* reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
#endif
