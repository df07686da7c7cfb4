/*
 * memkernels_test.cpp - every CRC-32, word-sum and hex path, forced, against
 * independent models (zlib's crc32, 64-bit sums, snprintf("%02x"), strtol);
 * then the handlers whose offsets and memory failures no script can reach.
 */
#include "memkernels.h"
#include "vodUdid.h"

#include <gtest/gtest.h>
#include <lua.hpp>
#include <sys/mman.h>
#include <zlib.h>

#include <cctype>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace vud;

namespace {

#if defined(__SANITIZE_ADDRESS__)
const int kRandomCases = 300; /* the sanitizer build is unoptimised */
#else
const int kRandomCases = 3000;
#endif
const size_t kMaxLen = 70000;

bool Anywhere() { return true; }

/* One row per path of a kernel: its name, the function, whether this CPU runs it. */
template <typename Fn>
struct Path { const char* name; Fn fn; bool (*runs)(); };

const Path<decltype(&Crc32)> kCrcPaths[] = {
    {"dispatched", Crc32, Anywhere}, {"portable", Crc32Portable, Anywhere}, {"clmul", Crc32Clmul, CpuHasClmul},
    {"vpclmul256", Crc32Vpclmul256, CpuHasVpclmul256}, {"vpclmul512", Crc32Vpclmul512, CpuHasVpclmul512}};
const Path<decltype(&WordSum)> kSumPaths[] = {
    {"dispatched", WordSum, Anywhere}, {"portable", WordSumPortable, Anywhere}, {"avx2", WordSumAvx2, CpuHasAvx2}};
const Path<decltype(&HexEncode)> kEncodePaths[] = {
    {"dispatched", HexEncode, Anywhere}, {"portable", HexEncodePortable, Anywhere},
    {"ssse3", HexEncodeSsse3, CpuHasSsse3}};
const Path<decltype(&HexDecodePairs)> kDecodePaths[] = {
    {"dispatched", HexDecodePairs, Anywhere}, {"portable", HexDecodePairsPortable, Anywhere},
    {"ssse3", HexDecodePairsSsse3, CpuHasSsse3}, {"avx512", HexDecodePairsAvx512, CpuHasAvx512Bw}};

/* check(fn, align, n) on every path this CPU runs (the others are named on
 * standard output): every length to nShort at every alignment below nAligns,
 * which reaches each threshold, step and tail of the vector loops, then
 * nRandom random lengths up to kMaxLen. */
template <typename Fn, size_t K, typename Check>
void Sweep(const Path<Fn> (&rows)[K], size_t nAligns, size_t nShort, int nRandom, Check check)
{
    std::mt19937 rng(7);
    for (const auto& row : rows) {
        if (!row.runs()) {
            printf("path %s: not on this CPU, not tested\n", row.name);
            continue;
        }
        SCOPED_TRACE(row.name);
        auto failed = testing::Test::HasFatalFailure;
        for (size_t n = 0; n <= nShort; ++n)
            for (size_t align = 0; align < nAligns && !failed(); ++align) check(row.fn, align, n);
        for (int i = 0; i < nRandom && !failed(); ++i) check(row.fn, rng() % 64, rng() % (kMaxLen + 1));
    }
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = (uint8_t)rng();
    return v;
}
const std::vector<uint8_t> kData = RandomBytes(kMaxLen + 64, 11);

} // namespace

TEST(Kernels, EveryCrcPathMatchesZlib)
{
    Sweep(kCrcPaths, 64, 400, kRandomCases, [](auto fn, size_t align, size_t n) {
        ASSERT_EQ(fn(&kData[align], n), (uint32_t)crc32(0L, &kData[align], (uInt)n)) << "n=" << n << " align=" << align;
    });
}

TEST(Kernels, EverySumPathMatchesSixtyFourBitArithmeticWholeAndSplitAtAWord)
{
    std::mt19937 rng(22);
    Sweep(kSumPaths, 32, 300, kRandomCases / 3, [&](auto fn, size_t align, size_t n) {
        /* org plus the little-endian words, the tail word from its low byte up */
        const uint8_t* p = &kData[align];
        const uint32_t org = rng();
        uint64_t sum = org;
        for (size_t i = 0; i < n; ++i) sum += (uint64_t)p[i] << (8 * (i % 4));
        const size_t first = (rng() % (n + 1)) / 4 * 4;
        ASSERT_EQ(fn(p, n, org), (uint32_t)sum) << "n=" << n << " align=" << align;
        ASSERT_EQ(fn(p + first, n - first, fn(p, first, org)), (uint32_t)sum) << "n=" << n << " split at " << first;
    });
}

TEST(Kernels, EveryHexPathEncodesAsPrintfAndDecodesAsStrtol)
{
    std::vector<char> text(2 * kData.size() + 1), want(2 * kData.size() + 1);
    std::vector<uint8_t> back(kData.size() + 1);
    for (size_t k = 0; k < kData.size(); ++k) snprintf(&want[2 * k], 3, "%02x", kData[k]);
    Sweep(kEncodePaths, 16, 100, kRandomCases / 10, [&](auto fn, size_t align, size_t n) {
        std::fill(&text[align], &text[align + 2 * n + 1], '#');
        fn(&kData[align], n, &text[align]);
        ASSERT_EQ(std::string(&text[align], 2 * n), std::string(&want[2 * align], 2 * n)) << "n=" << n;
        ASSERT_EQ(text[align + 2 * n], '#') << "wrote past the text, n=" << n;
    });
    /* Every 37th pair is the next of all 65536 byte pairs in turn, so that each
     * meets the vector blocks and the scalar rule on every path; its model is strtol. */
    unsigned next = 0;
    Sweep(kDecodePaths, 16, 100, kRandomCases / 10, [&](auto fn, size_t align, size_t n) {
        std::vector<uint8_t> model(kData.begin() + align, kData.begin() + align + n + 1);
        for (size_t k = 0; k < 2 * n; ++k) /* every seventh digit in upper case */
            text[align + k] = k % 7 ? want[2 * align + k] : (char)toupper((unsigned char)want[2 * align + k]);
        for (size_t k = 0; k < n; k += 37, ++next) {
            char pair[3] = {(char)(next >> 8), (char)next, 0};
            memcpy(&text[align + 2 * k], pair, 2);
            model[k] = (uint8_t)strtol(pair, nullptr, 16);
        }
        back[align + n] = model[n] = 0xA5;
        fn(&text[align], n, &back[align]);
        ASSERT_EQ(0, memcmp(&back[align], model.data(), n + 1)) << "n=" << n << ", or wrote past the bytes";
    });
}

/* Calls handler with a light userdata and integers; the status of lua_pcall. */
static int Call(lua_State* L, lua_CFunction handler, void* p, std::initializer_list<lua_Integer> args)
{
    lua_settop(L, 0);
    lua_pushcfunction(L, handler);
    lua_pushlightuserdata(L, p);
    for (lua_Integer a : args) lua_pushinteger(L, a);
    return lua_pcall(L, (int)args.size() + 1, 1, 0);
}

TEST(Offsets, GetMemValueWrapsPast2147483647AndMidBufferTakesTheLow32Bits)
{
    lua_State* L = luaL_newstate();
    char block[16];
    for (int off : {-4, 0, 5, -1}) { /* MidBuffer: exported for hosts to register themselves */
        ASSERT_EQ(0, Call(L, l_MidBuffer, block + 8, {off + 4294967296LL * 3}));
        EXPECT_EQ(block + 8 + off, lua_touserdata(L, -1));
    }
    /* Byte i is at h + (nOffset + i), the sum an int: from h + 2147483647 the
     * next byte is h - 2147483648. Both live; what lies after the first is too. */
    const size_t kPage = 4096, k4G = (size_t)1 << 32, kSize = k4G + 2 * kPage;
    void* r = mmap(nullptr, kSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (r == MAP_FAILED) GTEST_SKIP() << "no 4 GiB of address space";
    uint8_t* const h = (uint8_t*)r + k4G / 2 + kPage;
    ASSERT_EQ(0, mprotect(h - k4G / 2, kPage, PROT_READ | PROT_WRITE));
    ASSERT_EQ(0, mprotect(h + k4G / 2 - kPage, 2 * kPage, PROT_READ | PROT_WRITE));
    memcpy(h + 2147483646, "\x11\x22\xee\xee", 4), memcpy(h - k4G / 2, "\x33\x44", 2);
    ASSERT_EQ(0, Call(L, l_GetMemValue, h, {2147483646, 4}));
    EXPECT_STREQ("11223344", lua_tostring(L, -1));
    lua_close(L);
    munmap(r, kSize);
}

/* A Lua allocator that counts live blocks and refuses to grow any block to
 * refuseFrom bytes or more (shrinking must never fail). */
struct CountingAlloc { long live = 0; size_t refuseFrom = SIZE_MAX; };
static void* CountingRealloc(void* ud, void* p, size_t osize, size_t nsize)
{
    auto* a = (CountingAlloc*)ud;
    if (nsize == 0) return p ? (--a->live, free(p), nullptr) : nullptr;
    if (nsize >= a->refuseFrom && nsize > osize) return nullptr;
    void* q = realloc(p, nsize);
    return q && !p ? (++a->live, q) : q;
}

TEST(HexOutput, LeaksNothingWhenLuaCannotMakeTheResult)
{
    /* 1000 bytes need 2000 bytes of working memory and a result string of 2001 bytes plus its header. */
    const size_t n = 1000;
    auto bytes = RandomBytes(n, 61);
    void* p = bytes.data();
    std::string hex;
    for (uint8_t b : bytes) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
    const struct { const char* name; size_t refuseFrom; int status; const char* want; } rows[] = {
        {"all memory given", SIZE_MAX, 0, hex.c_str()},
        {"no result string: Lua's memory error", 2 * n + 1, LUA_ERRMEM, nullptr},
        {"no working memory: nil", 2 * n, 0, nullptr}};
    for (const auto& row : rows)
        for (bool bMem : {false, true}) {
            CountingAlloc counts;
            lua_State* L = lua_newstate(CountingRealloc, &counts);
            auto call = [&] { return bMem ? Call(L, l_GetMemValue, p, {0, n}) : Call(L, l_BufferToString, p, {n}); };
            call(); /* the first call leaves what every later one shares */
            lua_settop(L, 0);
            lua_gc(L, LUA_GCCOLLECT, 0);
            const long before = counts.live;
            counts.refuseFrom = row.refuseFrom;
            EXPECT_EQ(call(), row.status) << row.name;
            if (row.status == 0) { EXPECT_STREQ(lua_tostring(L, -1), row.want) << row.name; } /* nullptr: nil */
            lua_settop(L, 0);
            counts.refuseFrom = SIZE_MAX;
            lua_gc(L, LUA_GCCOLLECT, 0);
            EXPECT_EQ(counts.live, before) << row.name << ": blocks left after a full collection";
            lua_close(L);
            EXPECT_EQ(counts.live, 0) << row.name;
        }
}
