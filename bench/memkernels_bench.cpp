/*
 * memkernels_bench.cpp - throughput of the CRC-32, word-sum and hex kernels
 * next to the yardsticks they are judged by: zlib's crc32 and the textbook
 * table-per-call CRC, a scalar one-word-per-addition loop, glibc memchr
 * over the same memory, and a strtol call per hex pair. Each path of each
 * kernel is measured on its own as well (a path the CPU lacks is reported
 * as skipped), and the Sweep_* rows give throughput against size for the
 * plot on the performance page.
 *
 * Every benchmark reports bytes_per_second of input, so a ratio is the
 * quotient of two lines.
 */
#include "memkernels.h"

#include <benchmark/benchmark.h>
#include <zlib.h>
#ifdef VODUDID_BENCH_ISAL
#include <isa-l/crc.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

using namespace vud;

namespace {

const size_t k64K = 64 * 1024;
const size_t k1M = 1024 * 1024;
const size_t k64M = 64 * 1024 * 1024;

/* Random bytes that never contain kAbsent, so memchr scans the whole range. */
const uint8_t kAbsent = 0xA5;

/* n random bytes (and 64 more) starting on a 64-byte boundary, so that an
 * offset argument states the alignment exactly. One buffer per size, kept
 * for the whole run. */
const uint8_t* Data(size_t n)
{
    static std::map<size_t, std::unique_ptr<uint8_t[]>> buffers;
    std::unique_ptr<uint8_t[]>& raw = buffers[n];
    if (!raw) {
        raw.reset(new uint8_t[n + 128]);
        std::mt19937 rng(1);
        for (size_t i = 0; i < n + 128; ++i) {
            const uint8_t b = (uint8_t)rng();
            raw[i] = b == kAbsent ? 0 : b;
        }
    }
    return raw.get() + (64 - (uintptr_t)raw.get() % 64);
}

/* The CRC as a textbook writes it, table rebuilt on every call. */
__attribute__((noinline)) uint32_t NaiveCrcTablePerCall(const uint8_t* p, size_t n)
{
    uint32_t tbl[256];
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        tbl[i] = c;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) crc = tbl[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

/* One word per addition, kept scalar whatever the build flags say. */
__attribute__((noinline, optimize("O2", "no-tree-vectorize"))) uint32_t
ScalarWordSum(const uint8_t* p, size_t n, uint32_t sum)
{
    for (size_t i = 0; i + 4 <= n; i += 4) {
        uint32_t w;
        memcpy(&w, p + i, 4);
        sum += w;
    }
    return sum;
}

/* The pair conversion done naively: a three-byte C string per pair. */
__attribute__((noinline)) void StrtolPairs(const char* text, size_t nPairs, uint8_t* dst)
{
    for (size_t k = 0; k < nPairs; ++k) {
        char tmp[3] = {text[2 * k], text[2 * k + 1], 0};
        dst[k] = (uint8_t)strtol(tmp, nullptr, 16);
    }
}

template <uint32_t (*F)(const uint8_t*, size_t)>
void BM_Crc(benchmark::State& state)
{
    const size_t n = (size_t)state.range(0);
    const uint8_t* p = Data(n);
    for (auto _ : state) benchmark::DoNotOptimize(F(p, n));
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)n);
}

uint32_t ZlibCrc(const uint8_t* p, size_t n)
{
    return (uint32_t)crc32(0L, p, (uInt)n);
}

#ifdef VODUDID_BENCH_ISAL
/* ISA-L's CRC-32 of gzip, its fastest path for this CPU chosen at run time:
 * the same function as ours (initial register and final complement inside). */
uint32_t IsalCrc(const uint8_t* p, size_t n)
{
    return crc32_gzip_refl(0, p, n);
}

/* Ours and ISA-L's side by side on the same bytes. Each benchmark iteration
 * is one round per side, the sides taking turns to go first, each round
 * enough calls for about 256 KiB of input (at least 16) timed with the
 * steady clock; each side's best round counts. A shared machine slows
 * rounds down but never speeds them up, so the best of many rounds, taken
 * in the same stretch of time for both, is the fairest figure it gives.
 * Reports both throughputs in GB/s and ours / ISA-L. */
void BM_Crc32VsIsal(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    const size_t n = (size_t)state.range(0);
    const uint8_t* p = Data(n);
    if (Crc32(p, n) != IsalCrc(p, n)) {
        state.SkipWithError("ISA-L and calc_crc32 disagree");
        return;
    }
    const size_t calls = std::max<size_t>(16, (256 << 10) / n);
    double best[2] = {1e30, 1e30};
    int first = 0;
    for (auto _ : state) {
        for (int side : {first, 1 - first}) {
            const auto t0 = Clock::now();
            for (size_t i = 0; i < calls; ++i)
                benchmark::DoNotOptimize(side ? IsalCrc(p, n) : Crc32(p, n));
            best[side] = std::min(best[side], std::chrono::duration<double>(Clock::now() - t0).count());
        }
        first = 1 - first;
    }
    const double bytes = (double)(calls * n);
    state.counters["ours_GBps"] = bytes / best[0] / 1e9;
    state.counters["isal_GBps"] = bytes / best[1] / 1e9;
    state.counters["ratio"] = best[1] / best[0];
}
#endif

/* A path this CPU lacks is reported as skipped, not measured. */
template <uint32_t (*F)(const uint8_t*, size_t), bool (*Runs)()>
void BM_CrcPath(benchmark::State& state)
{
    if (!Runs()) {
        state.SkipWithError("path not on this CPU");
        return;
    }
    BM_Crc<F>(state);
}

/* Arguments: length, then the start's distance from a 64-byte boundary. */
void BM_WordSum(benchmark::State& state)
{
    const size_t n = (size_t)state.range(0);
    const uint8_t* p = Data(n) + state.range(1);
    for (auto _ : state) benchmark::DoNotOptimize(WordSum(p, n, 0));
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)n);
}

/* One word-sum path at 64 KiB, aligned; skipped where the CPU lacks it. */
template <uint32_t (*F)(const uint8_t*, size_t, uint32_t), bool (*Runs)()>
void BM_WordSumPath(benchmark::State& state)
{
    if (!Runs()) {
        state.SkipWithError("path not on this CPU");
        return;
    }
    const size_t n = (size_t)state.range(0);
    const uint8_t* p = Data(n);
    for (auto _ : state) benchmark::DoNotOptimize(F(p, n, 0));
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)n);
}

bool Always() { return true; }

void BM_WordSum_ScalarBaseline(benchmark::State& state)
{
    const size_t n = (size_t)state.range(0);
    const uint8_t* p = Data(n) + state.range(1);
    for (auto _ : state) benchmark::DoNotOptimize(ScalarWordSum(p, n, 0));
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)n);
}

void BM_Memchr_Absent(benchmark::State& state)
{
    const size_t n = (size_t)state.range(0);
    const uint8_t* p = Data(n);
    for (auto _ : state) {
        const void* hit = memchr(p, kAbsent, n);
        benchmark::DoNotOptimize(hit);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)n);
}

template <void (*F)(const uint8_t*, size_t, char*) = HexEncode, bool (*Runs)() = Always>
void BM_HexEncode(benchmark::State& state)
{
    if (!Runs()) {
        state.SkipWithError("path not on this CPU");
        return;
    }
    const size_t n = (size_t)state.range(0);
    const uint8_t* p = Data(n);
    std::vector<char> out(2 * n);
    for (auto _ : state) {
        F(p, n, out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)n);
}

/* A 2 MiB hex text of random bytes, digits in mixed case. */
std::vector<char> HexText(size_t nPairs)
{
    std::vector<char> t(2 * nPairs);
    HexEncode(Data(nPairs), nPairs, t.data());
    for (size_t i = 0; i < t.size(); i += 7) t[i] = (char)toupper((unsigned char)t[i]);
    return t;
}

template <void (*F)(const char*, size_t, uint8_t*), bool (*Runs)() = Always>
void BM_HexDecode(benchmark::State& state)
{
    if (!Runs()) {
        state.SkipWithError("path not on this CPU");
        return;
    }
    const size_t nPairs = (size_t)state.range(0);
    const std::vector<char> text = HexText(nPairs);
    std::vector<uint8_t> out(nPairs);
    for (auto _ : state) {
        F(text.data(), nPairs, out.data());
        benchmark::ClobberMemory();
    }
    /* Counted in text bytes: 2 MiB of text per call. */
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)(2 * nPairs));
}

} // namespace

BENCHMARK_TEMPLATE(BM_CrcPath, Crc32Vpclmul512, CpuHasVpclmul512)->Name("BM_Crc32_Vpclmul512")->Arg(k64K);
BENCHMARK_TEMPLATE(BM_CrcPath, Crc32Vpclmul256, CpuHasVpclmul256)->Name("BM_Crc32_Vpclmul256")->Arg(k64K);
BENCHMARK_TEMPLATE(BM_CrcPath, Crc32Clmul, CpuHasClmul)->Name("BM_Crc32_Clmul")->Arg(k64K);
BENCHMARK_TEMPLATE(BM_Crc, Crc32)->Name("BM_Crc32_Dispatched")->Arg(k64K);
BENCHMARK_TEMPLATE(BM_Crc, Crc32Portable)->Name("BM_Crc32_Portable")->Arg(k64K);
BENCHMARK_TEMPLATE(BM_Crc, ZlibCrc)->Name("BM_Crc32_Zlib")->Arg(k64K);
BENCHMARK_TEMPLATE(BM_Crc, NaiveCrcTablePerCall)->Name("BM_Crc32_NaiveTablePerCall")->Arg(k64K);
#ifdef VODUDID_BENCH_ISAL
/* The sizes scripts checksum most, then two where both run at the
 * multiplier's limit; 200 rounds a side. */
BENCHMARK(BM_Crc32VsIsal)->Arg(64)->Arg(256)->Arg(1 << 10)->Arg(4 << 10)->Arg(k64K)->Arg(k1M)
    ->Iterations(200);
#endif

BENCHMARK(BM_WordSum)->Args({k64K, 0})->Args({k64K, 16})->Args({k64K, 1});
BENCHMARK_TEMPLATE(BM_WordSumPath, WordSumAvx2, CpuHasAvx2)->Name("BM_WordSum_Avx2")->Arg(k64K);
BENCHMARK_TEMPLATE(BM_WordSumPath, WordSumPortable, Always)->Name("BM_WordSum_Portable")->Arg(k64K);
BENCHMARK(BM_WordSum_ScalarBaseline)->Args({k64K, 0})->Args({k64K, 1});
BENCHMARK(BM_WordSum)->Args({k64M, 0})->Args({k64M, 1});
BENCHMARK(BM_Memchr_Absent)->Arg(k64M);

BENCHMARK(BM_HexEncode<>)->Name("BM_HexEncode")->Arg(k64K)->Arg(k1M);
BENCHMARK_TEMPLATE(BM_HexEncode, HexEncodeSsse3, CpuHasSsse3)->Name("BM_HexEncode_Ssse3")->Arg(k1M);
BENCHMARK_TEMPLATE(BM_HexEncode, HexEncodePortable)->Name("BM_HexEncode_Portable")->Arg(k1M);
BENCHMARK_TEMPLATE(BM_HexDecode, HexDecodePairs)->Name("BM_HexDecodePairs")->Arg(k1M);
BENCHMARK_TEMPLATE(BM_HexDecode, HexDecodePairsAvx512, CpuHasAvx512Bw)->Name("BM_HexDecodePairs_Avx512")->Arg(k1M);
BENCHMARK_TEMPLATE(BM_HexDecode, HexDecodePairsSsse3, CpuHasSsse3)->Name("BM_HexDecodePairs_Ssse3")->Arg(k1M);
BENCHMARK_TEMPLATE(BM_HexDecode, HexDecodePairsPortable)->Name("BM_HexDecodePairs_Portable")->Arg(k1M);
BENCHMARK_TEMPLATE(BM_HexDecode, StrtolPairs)->Name("BM_HexDecode_StrtolLoop")->Arg(k1M);

/* Size sweeps for the throughput plot of docs/performance.md (made by
 * scripts/plot-bench.py): 64 B to 64 MiB of input, a step of 4. Hex decode
 * counts text bytes, so its pairs run from 32 to 32 Mi. */
const int64_t kSweepMin = 64;
const int64_t kSweepMax = 64 << 20;
BENCHMARK_TEMPLATE(BM_Crc, Crc32)->Name("Sweep_Crc32")->RangeMultiplier(4)->Range(kSweepMin, kSweepMax);
/* Each CRC path on its own, so the plot can draw one line per path. */
BENCHMARK_TEMPLATE(BM_CrcPath, Crc32Vpclmul512, CpuHasVpclmul512)->Name("Sweep_Crc32_Vpclmul512")
    ->RangeMultiplier(4)->Range(kSweepMin, kSweepMax);
BENCHMARK_TEMPLATE(BM_CrcPath, Crc32Vpclmul256, CpuHasVpclmul256)->Name("Sweep_Crc32_Vpclmul256")
    ->RangeMultiplier(4)->Range(kSweepMin, kSweepMax);
BENCHMARK_TEMPLATE(BM_CrcPath, Crc32Clmul, CpuHasClmul)->Name("Sweep_Crc32_Clmul")
    ->RangeMultiplier(4)->Range(kSweepMin, kSweepMax);
BENCHMARK_TEMPLATE(BM_Crc, Crc32Portable)->Name("Sweep_Crc32_Portable")
    ->RangeMultiplier(4)->Range(kSweepMin, kSweepMax);
#ifdef VODUDID_BENCH_ISAL
BENCHMARK_TEMPLATE(BM_Crc, IsalCrc)->Name("Sweep_Crc32_Isal")->RangeMultiplier(4)->Range(kSweepMin, kSweepMax);
#endif
BENCHMARK(BM_WordSum)->Name("Sweep_WordSum")
    ->ArgsProduct({benchmark::CreateRange(kSweepMin, kSweepMax, 4), {0}});
BENCHMARK(BM_HexEncode<>)->Name("Sweep_HexEncode")->RangeMultiplier(4)->Range(kSweepMin, kSweepMax);
BENCHMARK_TEMPLATE(BM_HexDecode, HexDecodePairs)->Name("Sweep_HexDecode")
    ->RangeMultiplier(4)->Range(kSweepMin / 2, kSweepMax / 2);

BENCHMARK_MAIN();
