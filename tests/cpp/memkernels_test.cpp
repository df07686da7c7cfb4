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

/* Both CRC paths (the fast one where this CPU has it) and the dispatcher
 * give zlib's value. */
void ExpectCrcPaths(const uint8_t* p, size_t n)
{
    const uint32_t want = (uint32_t)crc32(0L, p, (uInt)n);
    ASSERT_EQ(Crc32Portable(p, n), want) << "portable, n=" << n;
    ASSERT_EQ(Crc32(p, n), want) << "dispatched, n=" << n;
    if (CpuHasClmul()) {
        ASSERT_EQ(Crc32Clmul(p, n), want) << "clmul, n=" << n;
    }
}

/* org plus the little-endian words (byte i weighs 2^(8 * (i % 4)), so the
 * tail word counts from its low byte up), in 64 bits, cut at the end. */
uint32_t ModelSum(const uint8_t* p, size_t n, uint32_t org)
{
    uint64_t sum = org;
    for (size_t i = 0; i < n; ++i) sum += (uint64_t)p[i] << (8 * (i % 4));
    return (uint32_t)sum;
}

} // namespace

TEST(Crc32, BothPathsMatchZlibAtAnyLengthAndAlignment)
{
    const auto data = RandomBytes(kMaxLen + 64, 11);
    /* Every length to 400 at each alignment reaches each threshold of the
     * fast path (below one 64-byte block, the four-way fold, the 16-byte
     * steps, each tail); then random lengths to 70000. */
    for (size_t align = 0; align < 64; ++align)
        for (size_t n = 0; n <= 400 && !HasFatalFailure(); ++n) ExpectCrcPaths(data.data() + align, n);
    std::mt19937 rng(13);
    for (int i = 0; i < kRandomCases && !HasFatalFailure(); ++i) {
        const size_t n = rng() % (kMaxLen + 1), align = rng() % 64;
        ExpectCrcPaths(data.data() + align, n);
    }
}

TEST(WordSum, MatchesSixtyFourBitModelWholeAndSplitAtAWord)
{
    const auto data = RandomBytes(kMaxLen + 64, 21);
    std::mt19937 rng(22);
    auto check = [&](size_t align, size_t n) {
        const uint8_t* p = data.data() + align;
        const uint32_t org = rng(), want = ModelSum(p, n, org);
        const size_t first = (rng() % (n + 1)) / 4 * 4;
        ASSERT_EQ(WordSum(p, n, org), want) << "n=" << n << " align=" << align;
        ASSERT_EQ(WordSum(p + first, n - first, WordSum(p, first, org)), want) << "split at " << first;
    };
    /* Every length to 300 (each stage and tail) at 32 alignments, then random ones. */
    for (size_t align = 0; align < 32; ++align)
        for (size_t n = 0; n <= 300 && !HasFatalFailure(); ++n) check(align, n);
    for (int i = 0; i < kRandomCases / 3 && !HasFatalFailure(); ++i) {
        const size_t n = rng() % (kMaxLen + 1), align = rng() % 64;
        check(align, n);
    }
}

TEST(Hex, BlocksEncodeAsPrintfAndDecodeBackInMixedCase)
{
    const auto data = RandomBytes(kMaxLen + 16, 41);
    std::vector<char> text(2 * kMaxLen + 33), want(2 * kMaxLen + 1);
    std::vector<uint8_t> back(kMaxLen + 17);
    std::mt19937 rng(42);
    /* Every length to 100 at 16 alignments (the vector steps and their tails), then random ones. */
    const int kShort = 16 * 101;
    for (int i = 0; i < kShort + kRandomCases / 30; ++i) {
        const size_t align = i % 16, n = i < kShort ? i / 16 : rng() % (kMaxLen + 1);
        const uint8_t* src = data.data() + align;
        for (size_t k = 0; k < n; ++k) snprintf(&want[2 * k], 3, "%02x", src[k]);
        std::fill(&text[align], &text[align + 2 * n + 1], '#');
        HexEncode(src, n, &text[align]);
        ASSERT_EQ(std::string(&text[align], 2 * n), std::string(want.data(), 2 * n)) << "n=" << n;
        ASSERT_EQ(text[align + 2 * n], '#') << "wrote past the text, n=" << n;
        for (size_t k = 0; k < 2 * n; k += 2 * (rng() % 64) + 1) /* mixed case */
            text[align + k] = (char)toupper((unsigned char)text[align + k]);
        back[align + n] = 0xA5;
        HexDecodePairs(&text[align], n, &back[align]);
        ASSERT_EQ(0, memcmp(&back[align], src, n)) << "n=" << n;
        ASSERT_EQ(back[align + n], 0xA5) << "wrote past the bytes, n=" << n;
    }
}

TEST(Hex, EveryPairDecodesAsStrtol)
{
    /* Each of the 65536 pairs, at a moving place among valid pairs so that
     * it meets both the vector blocks and the scalar rule. */
    const char* fill[] = {"7f", "A0", "0c", "eE", "99"};
    const size_t nPairs = 33;
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
        HexDecodePairs(text, nPairs, got);
        ASSERT_EQ(0, memcmp(got, want, nPairs)) << "pair " << (ab >> 8) << "," << (ab & 255);
        ASSERT_EQ(got[nPairs], 0xA5) << "wrote past the bytes";
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
