/*
 * memkernels_test.cpp - the CRC-32, word-sum and hex kernels against
 * independent models: zlib's crc32, 64-bit integer arithmetic,
 * snprintf("%02x") and strtol. Also GetMemValue's 32-bit offset sum,
 * which needs two live pages 4 GiB apart that no script can arrange.
 */
#include "memkernels.h"
#include "vodUdid.h"

#include <gtest/gtest.h>
#include <lua.hpp>
#include <sys/mman.h>
#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = (uint8_t)rng();
    return v;
}

bool Anywhere() { return true; }

/* One row per path of a kernel: its name, the function, and whether this
 * CPU can run it. Each sweep below runs over every row; a row this CPU
 * cannot run is named on standard output. */
template <typename Fn>
struct Path {
    const char* name;
    Fn fn;
    bool (*runs)();
};

template <typename Fn, size_t N>
std::vector<Path<Fn>> Runnable(const Path<Fn> (&rows)[N])
{
    std::vector<Path<Fn>> v;
    for (const auto& row : rows) {
        if (row.runs()) v.push_back(row);
        else printf("path %s: not on this CPU, not tested\n", row.name);
    }
    return v;
}

const Path<decltype(&Crc32)> kCrcPaths[] = {
    {"dispatched", Crc32, Anywhere}, {"portable", Crc32Portable, Anywhere}, {"clmul", Crc32Clmul, CpuHasClmul},
    {"vpclmul256", Crc32Vpclmul256, CpuHasVpclmul256}, {"vpclmul512", Crc32Vpclmul512, CpuHasVpclmul512}};
const Path<decltype(&WordSum)> kSumPaths[] = {
    {"dispatched", WordSum, Anywhere}, {"portable", WordSumPortable, Anywhere}, {"avx2", WordSumAvx2, CpuHasAvx2}};
const Path<decltype(&HexEncode)> kEncodePaths[] = {
    {"dispatched", HexEncode, Anywhere}, {"portable", HexEncodePortable, Anywhere}, {"ssse3", HexEncodeSsse3, CpuHasSsse3}};
const Path<decltype(&HexDecodePairs)> kDecodePaths[] = {
    {"dispatched", HexDecodePairs, Anywhere}, {"portable", HexDecodePairsPortable, Anywhere},
    {"ssse3", HexDecodePairsSsse3, CpuHasSsse3}, {"avx512", HexDecodePairsAvx512, CpuHasAvx512Bw}};

/* org plus the little-endian words (byte i weighs 2^(8 * (i % 4)), so the
 * tail word counts from its low byte up), in 64 bits, cut at the end. */
uint32_t ModelSum(const uint8_t* p, size_t n, uint32_t org)
{
    uint64_t sum = org;
    for (size_t i = 0; i < n; ++i) sum += (uint64_t)p[i] << (8 * (i % 4));
    return (uint32_t)sum;
}

/* The hex input rule with strtol: the text up to its first zero byte (at
 * most nMax characters), a 0 in front when odd, each pair a C string. */
std::vector<uint8_t> ModelHexText(const char* text, size_t nMax)
{
    const std::string t(text, strnlen(text, nMax)), padded = (t.size() % 2 ? "0" : "") + t;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < padded.size(); i += 2)
        out.push_back((uint8_t)strtol(padded.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

/* A Lua allocator that counts live blocks and refuses to grow any block to
 * refuseFrom bytes or more (shrinking must never fail). */
struct CountingAlloc { long live = 0; size_t refuseFrom = SIZE_MAX; };

void* CountingRealloc(void* ud, void* p, size_t osize, size_t nsize)
{
    auto* a = (CountingAlloc*)ud;
    if (nsize == 0) {
        if (p) --a->live, free(p);
        return nullptr;
    }
    if (nsize >= a->refuseFrom && nsize > osize) return nullptr;
    void* q = realloc(p, nsize);
    if (q && !p) ++a->live;
    return q;
}

} // namespace

TEST(Crc32, EveryPathMatchesZlibAtAnyLengthAndAlignment)
{
    const auto data = RandomBytes(kMaxLen + 64, 11);
    std::mt19937 rng(13);
    for (const auto& path : Runnable(kCrcPaths)) {
        /* Every length to 400 at each alignment reaches each threshold of
         * every folding path (each one's four registers, its single-register
         * steps, the 16-byte steps, each tail); then random lengths to 70000. */
        auto check = [&](size_t align, size_t n) {
            const uint8_t* p = data.data() + align;
            ASSERT_EQ(path.fn(p, n), (uint32_t)crc32(0L, p, (uInt)n))
                << path.name << ", n=" << n << " align=" << align;
        };
        for (size_t align = 0; align < 64; ++align)
            for (size_t n = 0; n <= 400 && !HasFatalFailure(); ++n) check(align, n);
        for (int i = 0; i < kRandomCases && !HasFatalFailure(); ++i) check(rng() % 64, rng() % (kMaxLen + 1));
    }
}

TEST(WordSum, EveryPathMatchesSixtyFourBitModelWholeAndSplitAtAWord)
{
    const auto data = RandomBytes(kMaxLen + 64, 21);
    std::mt19937 rng(22);
    for (const auto& path : Runnable(kSumPaths)) {
        auto check = [&](size_t align, size_t n) {
            const uint8_t* p = data.data() + align;
            const uint32_t org = rng(), want = ModelSum(p, n, org);
            const size_t first = (rng() % (n + 1)) / 4 * 4;
            ASSERT_EQ(path.fn(p, n, org), want) << path.name << ", n=" << n << " align=" << align;
            ASSERT_EQ(path.fn(p + first, n - first, path.fn(p, first, org)), want)
                << path.name << ", split at " << first;
        };
        /* Every length to 300 (each stage and tail) at 32 alignments, then random ones. */
        for (size_t align = 0; align < 32; ++align)
            for (size_t n = 0; n <= 300 && !HasFatalFailure(); ++n) check(align, n);
        for (int i = 0; i < kRandomCases / 3 && !HasFatalFailure(); ++i) check(rng() % 64, rng() % (kMaxLen + 1));
    }
}

TEST(Hex, EveryPathEncodesAsPrintfAndDecodesBackInMixedCase)
{
    const auto data = RandomBytes(kMaxLen + 16, 41);
    std::vector<char> text(2 * kMaxLen + 33), want(2 * kMaxLen + 1);
    std::vector<uint8_t> back(kMaxLen + 17);
    std::mt19937 rng(42);
    /* Every length to 100 at 16 alignments (the vector steps and their
     * tails), then random ones; encoder and decoder paths taken in turn. */
    const auto encoders = Runnable(kEncodePaths);
    const auto decoders = Runnable(kDecodePaths);
    const int kShort = 16 * 101;
    for (int i = 0; i < kShort + kRandomCases / 10; ++i) {
        const auto& enc = encoders[i % encoders.size()];
        const auto& dec = decoders[i % decoders.size()];
        const size_t align = i % 16, n = i < kShort ? i / 16 : rng() % (kMaxLen + 1);
        const uint8_t* src = data.data() + align;
        for (size_t k = 0; k < n; ++k) snprintf(&want[2 * k], 3, "%02x", src[k]);
        std::fill(&text[align], &text[align + 2 * n + 1], '#');
        enc.fn(src, n, &text[align]);
        ASSERT_EQ(std::string(&text[align], 2 * n), std::string(want.data(), 2 * n)) << enc.name << ", n=" << n;
        ASSERT_EQ(text[align + 2 * n], '#') << enc.name << " wrote past the text, n=" << n;
        for (size_t k = 0; k < 2 * n; k += 2 * (rng() % 64) + 1) /* mixed case */
            text[align + k] = (char)toupper((unsigned char)text[align + k]);
        back[align + n] = 0xA5;
        dec.fn(&text[align], n, &back[align]);
        ASSERT_EQ(0, memcmp(&back[align], src, n)) << dec.name << ", n=" << n;
        ASSERT_EQ(back[align + n], 0xA5) << dec.name << " wrote past the bytes, n=" << n;
    }
}

TEST(Hex, EveryPairDecodesAsStrtolOnEveryPath)
{
    /* Each of the 65536 pairs, at a moving place among valid pairs so that
     * it meets both the vector blocks and the scalar rule. */
    const char* fill[] = {"7f", "A0", "0c", "eE", "99"};
    const size_t nPairs = 67;
    for (const auto& path : Runnable(kDecodePaths))
        for (int ab = 0; ab < 65536; ++ab) {
            char text[2 * nPairs];
            uint8_t want[nPairs], got[nPairs + 1];
            for (size_t k = 0; k < nPairs; ++k) {
                /* Converted as the hex handlers convert a pair: a three-byte C string. */
                char pair[3] = {fill[k % 5][0], fill[k % 5][1], 0};
                if (k == (size_t)ab % nPairs) pair[0] = (char)(ab >> 8), pair[1] = (char)ab;
                memcpy(text + 2 * k, pair, 2);
                want[k] = (uint8_t)strtol(pair, nullptr, 16);
            }
            got[nPairs] = 0xA5;
            path.fn(text, nPairs, got);
            ASSERT_EQ(0, memcmp(got, want, nPairs)) << path.name << ", pair " << (ab >> 8) << "," << (ab & 255);
            ASSERT_EQ(got[nPairs], 0xA5) << path.name << " wrote past the bytes";
        }
}

TEST(Hex, TextEndsAtItsFirstZeroByteWithEitherParity)
{
    /* Texts of digits (and, in some, one other character) with a zero byte
     * anywhere or nowhere, so that the guessed length is right, wrong with
     * the same parity or wrong with the other. Nothing beyond the bytes the
     * text fills may change. */
    std::mt19937 rng(51);
    const char kChars[] = "0123456789abcdefABCDEF";
    for (int i = 0; i < 4000; ++i) {
        const size_t nMax = i < 2000 ? i / 10 : rng() % 600;
        std::string text(nMax + 1, '\0');
        for (size_t k = 0; k < nMax; ++k) text[k] = kChars[rng() % 22];
        if (nMax && i % 3) text[rng() % nMax] = "\0 g-\0"[i % 5];
        const auto want = ModelHexText(text.c_str(), nMax);
        std::vector<uint8_t> got(nMax + 8, 0xA5);
        ASSERT_EQ(HexDecodeText(text.c_str(), nMax, got.data()), want.size()) << "i=" << i;
        ASSERT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + want.size()), want) << "i=" << i;
        for (size_t k = want.size(); k < got.size(); ++k) ASSERT_EQ(got[k], 0xA5) << "i=" << i << " k=" << k;
    }
}

TEST(GetMemValue, OffsetSumWrapsPast2147483647)
{
    /* Byte i is at h + (nOffset + i), the sum an int: from h + 2147483647 the
     * next byte is h - 2147483648. Both live; what lies after the first is too. */
    const size_t kPage = 4096, k4G = (size_t)1 << 32, kSize = k4G + 2 * kPage;
    void* r = mmap(nullptr, kSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (r == MAP_FAILED) GTEST_SKIP() << "no 4 GiB of address space";
    uint8_t* const h = (uint8_t*)r + k4G / 2 + kPage;
    ASSERT_EQ(0, mprotect(h - k4G / 2, kPage, PROT_READ | PROT_WRITE));
    ASSERT_EQ(0, mprotect(h + k4G / 2 - kPage, 2 * kPage, PROT_READ | PROT_WRITE));
    memcpy(h + 2147483646, "\x11\x22\xee\xee", 4);
    memcpy(h - k4G / 2, "\x33\x44", 2);
    lua_State* L = luaL_newstate();
    lua_pushcfunction(L, l_GetMemValue);
    lua_pushlightuserdata(L, h);
    lua_pushinteger(L, 2147483646);
    lua_pushinteger(L, 4);
    lua_call(L, 3, 1);
    EXPECT_STREQ("11223344", lua_tostring(L, -1));
    lua_close(L);
    munmap(r, kSize);
}

TEST(HexOutput, LeaksNothingWhenLuaCannotMakeTheResult)
{
    /* 1000 bytes need 2000 bytes of working memory and a result string of
     * 2001 bytes plus its header. */
    const size_t n = 1000;
    const auto bytes = RandomBytes(n, 61);
    std::string hex;
    for (uint8_t b : bytes) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
    const struct { const char* name; size_t refuseFrom; int pcallStatus; const char* want; } rows[] = {{"all memory given", SIZE_MAX, 0, hex.c_str()},
                {"no result string: Lua's memory error", 2 * n + 1, LUA_ERRMEM, nullptr},
                {"no working memory: nil", 2 * n, 0, nullptr}};
    for (const auto& row : rows)
        for (lua_CFunction handler : {l_BufferToString, l_GetMemValue}) {
            CountingAlloc counts;
            lua_State* L = lua_newstate(CountingRealloc, &counts);
            auto call = [&] {
                lua_settop(L, 0);
                lua_pushcfunction(L, handler);
                lua_pushlightuserdata(L, (void*)bytes.data());
                if (handler == l_GetMemValue) lua_pushinteger(L, 0);
                return lua_pushinteger(L, n), lua_pcall(L, lua_gettop(L) - 1, 1, 0);
            };
            call(); /* the first call leaves what every later one shares */
            lua_settop(L, 0);
            lua_gc(L, LUA_GCCOLLECT, 0);
            const long before = counts.live;
            counts.refuseFrom = row.refuseFrom;
            EXPECT_EQ(call(), row.pcallStatus) << row.name;
            if (row.pcallStatus == 0) { EXPECT_STREQ(lua_tostring(L, -1), row.want) << row.name; } /* nullptr: nil */
            lua_settop(L, 0);
            counts.refuseFrom = SIZE_MAX;
            lua_gc(L, LUA_GCCOLLECT, 0);
            EXPECT_EQ(counts.live, before) << row.name << ": blocks left after a full collection";
            lua_close(L);
            EXPECT_EQ(counts.live, 0) << row.name;
        }
}
