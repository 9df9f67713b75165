// The execution core against native code, in one run: the cost of a
// host-to-module call and of a module-to-host import call, and two compute
// kernels (CRC-32 over 16 MB, a 64-tap FIR filter over 4 M samples, the
// latter with x87 and with SSE arithmetic, and in 16-bit fixed point on MMX) built once for the
// emulator with mingw and once natively from the same source (the FIR filter natively for the
// x87 FPU too). Prints emulated/native. Module code runs as in the codec host:
// the window guarded, the emulator's reads checked by the host's faults.
#include "platform/kernel/ModuleSpace.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/loader/pe_add_on.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

extern "C" {
unsigned int Crc32(const unsigned char* data, unsigned int length);
unsigned int Fir64(const float* in, float* out, unsigned int count, const float* taps);
unsigned int Fir64Mmx(const short* in, short* out, unsigned int count, const short* reversedTaps);
#if REELMOTH_BENCH_X87_NATIVE
unsigned int Fir64X87(const float* in, float* out, unsigned int count, const float* taps);
#endif
}

namespace
{

constexpr uint32 kCrcBytes = 16 * 1024 * 1024;
constexpr uint32 kFirSamples = 4 * 1024 * 1024;
constexpr int kImportCallsPerRound = 100000;

struct bench_data {
    pe_add_on_t* callLoop = nullptr;
    pe_add_on_t* x87 = nullptr;
    pe_add_on_t* sse = nullptr;
    uint8* bytes = nullptr;
    float* samples = nullptr;
    float* filtered = nullptr;
    float* taps = nullptr;
    int16* pcm = nullptr; // the samples in 16-bit fixed point, for MMX
    int16* pcmFiltered = nullptr;
    int16* reversedTaps = nullptr; // Q15
};

bench_data gData;

uint32 symbol(pe_add_on_t* addOn, const char* name)
{
    void* address = nullptr;
    if (addOn == nullptr || pe_get_image_symbol(addOn, name, &address) != B_OK)
        return 0;
    return uint32(reinterpret_cast<uintptr_t>(address));
}

uint32 address_of(const void* pointer)
{
    return module_address(pointer);
}

__attribute__((noinline)) int native_identity(int value)
{
    benchmark::DoNotOptimize(value);
    return value;
}

void BM_HostToModuleCall_Native(benchmark::State& state)
{
    int value = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(value = native_identity(value + 1));
}

void BM_HostToModuleCall_Emulated(benchmark::State& state)
{
    uint32 identity = symbol(gData.callLoop, "Identity");
    uint32 value = 0;
    for (auto _ : state) {
        if (call_module(identity, {value + 1}, &value) != B_OK)
            state.SkipWithError("call failed");
    }
}

void BM_ModuleToHostCall_Native(benchmark::State& state)
{
    for (auto _ : state) {
        int sum = 0;
        for (int i = 0; i < kImportCallsPerRound; i++)
            sum += native_identity(1);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kImportCallsPerRound);
}

void BM_ModuleToHostCall_Emulated(benchmark::State& state)
{
    uint32 loop = symbol(gData.callLoop, "ImportCalls");
    for (auto _ : state) {
        uint32 sum = 0;
        if (call_module(loop, {uint32(kImportCallsPerRound)}, &sum) != B_OK)
            state.SkipWithError("call failed");
    }
    state.SetItemsProcessed(state.iterations() * kImportCallsPerRound);
}

// HeapAlloc/HeapFree pairs from module code: the module heap's cost as a
// module sees it, import calls included (compare ModuleToHostCall).
void BM_ModuleHeapPairs(benchmark::State& state)
{
    uint32 loop = symbol(gData.callLoop, "HeapPairs");
    for (auto _ : state) {
        uint32 failed = 0;
        if (call_module(loop, {uint32(kImportCallsPerRound)}, &failed) != B_OK || failed != 0)
            state.SkipWithError("heap calls failed");
    }
    state.SetItemsProcessed(state.iterations() * kImportCallsPerRound);
}

void BM_Crc32_Native(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc32(gData.bytes, kCrcBytes));
    state.SetBytesProcessed(state.iterations() * kCrcBytes);
}

void BM_Crc32_Emulated(benchmark::State& state)
{
    uint32 crc = symbol(gData.sse, "Crc32");
    uint32 expected = Crc32(gData.bytes, kCrcBytes);
    for (auto _ : state) {
        uint32 result = 0;
        call_module(crc, {address_of(gData.bytes), kCrcBytes}, &result);
        if (result != expected)
            state.SkipWithError("emulated CRC differs");
    }
    state.SetBytesProcessed(state.iterations() * kCrcBytes);
}

void BM_Fir64_Native(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Fir64(gData.samples, gData.filtered, kFirSamples, gData.taps));
    state.SetItemsProcessed(state.iterations() * kFirSamples);
}

#if REELMOTH_BENCH_X87_NATIVE
// The same filter natively on the x87 FPU: the instructions the x87 module
// runs, without the emulator.
void BM_Fir64_NativeX87(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Fir64X87(gData.samples, gData.filtered, kFirSamples, gData.taps));
    state.SetItemsProcessed(state.iterations() * kFirSamples);
}
BENCHMARK(BM_Fir64_NativeX87)->Unit(benchmark::kMillisecond);
#endif

void fir_emulated(benchmark::State& state, pe_add_on_t* addOn)
{
    uint32 fir = symbol(addOn, "Fir64");
    for (auto _ : state) {
        uint32 result = 0;
        if (call_module(fir,
                        {address_of(gData.samples), address_of(gData.filtered), kFirSamples,
                         address_of(gData.taps)},
                        &result) != B_OK)
            state.SkipWithError("call failed");
        benchmark::DoNotOptimize(result);
    }
    state.SetItemsProcessed(state.iterations() * kFirSamples);
}

void BM_Fir64_EmulatedX87(benchmark::State& state)
{
    fir_emulated(state, gData.x87);
}

void BM_Fir64_EmulatedSSE(benchmark::State& state)
{
    fir_emulated(state, gData.sse);
}

void BM_Fir64Mmx_Native(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(
            Fir64Mmx(gData.pcm, gData.pcmFiltered, kFirSamples, gData.reversedTaps));
    state.SetItemsProcessed(state.iterations() * kFirSamples);
}

void BM_Fir64Mmx_Emulated(benchmark::State& state)
{
    uint32 fir = symbol(gData.sse, "Fir64Mmx");
    uint32 expected = Fir64Mmx(gData.pcm, gData.pcmFiltered, kFirSamples, gData.reversedTaps);
    for (auto _ : state) {
        uint32 result = 0;
        if (call_module(fir,
                        {address_of(gData.pcm), address_of(gData.pcmFiltered), kFirSamples,
                         address_of(gData.reversedTaps)},
                        &result) != B_OK ||
            result != expected)
            state.SkipWithError("emulated MMX filter failed or differs");
    }
    state.SetItemsProcessed(state.iterations() * kFirSamples);
}

// The same module code in a bare emulator: what Unicorn costs by itself.
void bare(benchmark::State& state, pe_add_on_t* addOn, const char* name,
          std::initializer_list<uint32> args)
{
    uint32 function = symbol(addOn, name);
    for (auto _ : state) {
        uint32 result = 0;
        if (call_module_bare(function, args.begin(), args.size(), &result) != B_OK)
            state.SkipWithError("call failed");
        benchmark::DoNotOptimize(result);
    }
}

void BM_HostToModuleCall_Bare(benchmark::State& state)
{
    bare(state, gData.callLoop, "Identity", {1});
}

void BM_Crc32_Bare(benchmark::State& state)
{
    bare(state, gData.sse, "Crc32", {address_of(gData.bytes), kCrcBytes});
}

void BM_Fir64_BareX87(benchmark::State& state)
{
    bare(state, gData.x87, "Fir64",
         {address_of(gData.samples), address_of(gData.filtered), kFirSamples,
          address_of(gData.taps)});
}

void BM_Fir64_BareSSE(benchmark::State& state)
{
    bare(state, gData.sse, "Fir64",
         {address_of(gData.samples), address_of(gData.filtered), kFirSamples,
          address_of(gData.taps)});
}

BENCHMARK(BM_HostToModuleCall_Native);
BENCHMARK(BM_HostToModuleCall_Bare);
BENCHMARK(BM_HostToModuleCall_Emulated);
BENCHMARK(BM_ModuleToHostCall_Native);
BENCHMARK(BM_ModuleHeapPairs);
BENCHMARK(BM_ModuleToHostCall_Emulated);
BENCHMARK(BM_Crc32_Native)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Emulated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Bare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fir64_Native)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fir64_EmulatedX87)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fir64_EmulatedSSE)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fir64_BareX87)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fir64_BareSSE)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fir64Mmx_Native)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fir64Mmx_Emulated)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration for the ratios printed at the end.
class CRatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                // Processor time: the machine is shared, wall time is noisy.
                fSeconds[run.benchmark_name()] = run.cpu_accumulated_time / run.iterations;
        }
    }

    void PrintRatios() const
    {
        auto time = [this](const char* name) {
            auto found = fSeconds.find(name);
            return found != fSeconds.end() ? found->second : 0.0;
        };
        printf("\n");
        printf("host-to-module call: %.0f ns (bare emulator %.0f ns, native call %.1f ns)\n",
               time("BM_HostToModuleCall_Emulated") * 1e9, time("BM_HostToModuleCall_Bare") * 1e9,
               time("BM_HostToModuleCall_Native") * 1e9);
        printf("module-to-host import call: %.0f ns (native call %.1f ns)\n",
               time("BM_ModuleToHostCall_Emulated") * 1e9 / kImportCallsPerRound,
               time("BM_ModuleToHostCall_Native") * 1e9 / kImportCallsPerRound);
        printf("HeapFree + HeapAlloc from module code: %.0f ns a pair (two import calls)\n",
               time("BM_ModuleHeapPairs") * 1e9 / kImportCallsPerRound);
        auto ratio = [&](const char* label, const char* emulated, const char* bare,
                         const char* native, double goal) {
            double native_time = time(native);
            double bare_time = time(bare);
            printf("%-20s emulated/native = %6.2f (goal: at most %.2f), "
                   "ours/bare emulator = %4.2f\n",
                   label, native_time > 0 ? time(emulated) / native_time : 0, goal,
                   bare_time > 0 ? time(emulated) / bare_time : 0);
        };
        ratio("CRC-32, 16 MB:", "BM_Crc32_Emulated", "BM_Crc32_Bare", "BM_Crc32_Native", 1.15);
        ratio("FIR 64 taps, x87:", "BM_Fir64_EmulatedX87", "BM_Fir64_BareX87", "BM_Fir64_Native",
              3);
        // Native is the host compiler's SSE build; the x87 unit alone makes
        // the same filter slower on the host.
        double x87 = time("BM_Fir64_NativeX87");
        if (x87 > 0)
            printf("%-20s emulated/native x87 code = %6.2f (native x87: %.2f of the SSE "
                   "build's time)\n",
                   "", time("BM_Fir64_EmulatedX87") / x87,
                   time("BM_Fir64_Native") > 0 ? x87 / time("BM_Fir64_Native") : 0);
        ratio("FIR 64 taps, SSE:", "BM_Fir64_EmulatedSSE", "BM_Fir64_BareSSE", "BM_Fir64_Native",
              5);
        // Its native peer is the same MMX code.
        double mmx = time("BM_Fir64Mmx_Native");
        printf("%-20s emulated/native = %6.2f (native MMX: %.2f of the float filter's time)\n",
               "FIR 64 taps, MMX:", mmx > 0 ? time("BM_Fir64Mmx_Emulated") / mmx : 0,
               time("BM_Fir64_Native") > 0 ? mmx / time("BM_Fir64_Native") : 0);
    }

private:
    std::map<std::string, double> fSeconds;
};

bool set_up(const char* modules)
{
    std::string folder = modules;
    gData.callLoop = pe_load_add_on_from_path((folder + "/callloop.dll").c_str(), "callloop.dll");
    gData.x87 = pe_load_add_on_from_path((folder + "/kernels-x87.dll").c_str(), "kernels-x87.dll");
    gData.sse = pe_load_add_on_from_path((folder + "/kernels-sse.dll").c_str(), "kernels-sse.dll");
    gData.bytes = static_cast<uint8*>(module_malloc(kCrcBytes));
    gData.samples = static_cast<float*>(module_malloc(kFirSamples * sizeof(float)));
    gData.filtered = static_cast<float*>(module_calloc(kFirSamples, sizeof(float)));
    gData.taps = static_cast<float*>(module_malloc(64 * sizeof(float)));
    gData.pcm = static_cast<int16*>(module_malloc(kFirSamples * sizeof(int16)));
    gData.pcmFiltered = static_cast<int16*>(module_calloc(kFirSamples, sizeof(int16)));
    gData.reversedTaps = static_cast<int16*>(module_malloc(64 * sizeof(int16)));
    if (gData.callLoop == nullptr || gData.x87 == nullptr || gData.sse == nullptr ||
        gData.bytes == nullptr || gData.samples == nullptr || gData.filtered == nullptr ||
        gData.taps == nullptr || gData.pcm == nullptr || gData.pcmFiltered == nullptr ||
        gData.reversedTaps == nullptr)
        return false;
    uint32 seed = 12345;
    for (uint32 i = 0; i < kCrcBytes; i++) {
        seed = seed * 1103515245u + 12345u;
        gData.bytes[i] = uint8(seed >> 16);
    }
    for (uint32 i = 0; i < kFirSamples; i++)
        gData.samples[i] =
            float(int32(gData.bytes[i] | gData.bytes[i + 1] << 8) - 32768) / 32768.0f;
    for (int t = 0; t < 64; t++)
        gData.taps[t] = 1.0f / float(t + 2);
    for (uint32 i = 0; i < kFirSamples; i++)
        gData.pcm[i] = int16(gData.samples[i] * 32767.0f);
    // Q15, a quarter of the float taps (which add up to about 3.8), so that
    // sums seldom saturate.
    for (int t = 0; t < 64; t++)
        gData.reversedTaps[63 - t] = int16(gData.taps[t] * 0.25f * 32768.0f);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const char* modules = REELMOTH_BENCH_MODULES;
    for (int i = 1; i < argc; i++) {
        if (strncmp(argv[i], "--modules=", 10) == 0)
            modules = argv[i] + 10;
    }
    if (module_space_guard() != B_OK || install_module_fault_handler() != B_OK) {
        fprintf(stderr, "cannot guard the module window\n");
        return 1;
    }
    if (!set_up(modules)) {
        fprintf(stderr, "cannot load the benchmark modules from %s (build the tests first)\n",
                modules);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
