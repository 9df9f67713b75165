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

#ifdef _WIN32
int __attribute__((stdcall)) DllMain(void* instance, kernel_u32 reason, void* reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
#endif
