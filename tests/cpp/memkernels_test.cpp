/*
 * memkernels_test.cpp - the CRC-32, word-sum and hex kernels against
 * independent models: zlib's crc32 and the textbook per-call table CRC,
 * 64-bit integer arithmetic, snprintf("%02x") and strtol.
 */
#include "memkernels.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
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

/* The CRC as a textbook writes it: build the byte table, then one look-up
 * per byte. */
uint32_t NaiveCrc(const uint8_t* p, size_t n)
{
    uint32_t tbl[256];
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        tbl[i] = c;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) crc = tbl[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return n ? ~crc : 0;
}

uint32_t ZlibCrc(const uint8_t* p, size_t n)
{
    return (uint32_t)crc32(0L, p, (uInt)n);
}

/* Every CRC path must give zlib's value; the fast one only where it runs. */
void ExpectCrcPaths(const uint8_t* p, size_t n)
{
    const uint32_t want = ZlibCrc(p, n);
    ASSERT_EQ(Crc32Portable(p, n), want) << "portable, n=" << n;
    ASSERT_EQ(Crc32(p, n), want) << "dispatched, n=" << n;
    if (CpuHasClmul()) {
        ASSERT_EQ(Crc32Clmul(p, n), want) << "clmul, n=" << n;
    }
}

} // namespace

TEST(Crc32, CheckValuesAndTheTextbookAlgorithm)
{
    const struct {
        const char* text;
        uint32_t crc; /* catalogue values of CRC-32/ISO-HDLC */
    } rows[] = {{"", 0}, {"123456789", 0xCBF43926u}, {"abc", 0x352441C2u}};
    for (const auto& r : rows) {
        const uint8_t* p = (const uint8_t*)r.text;
        EXPECT_EQ(Crc32(p, strlen(r.text)), r.crc) << r.text;
        EXPECT_EQ(NaiveCrc(p, strlen(r.text)), r.crc) << r.text;
    }
    const auto data = RandomBytes(kMaxLen, 7);
    for (size_t n : {size_t(1), size_t(63), size_t(64), size_t(65), size_t(4096 + 17), kMaxLen})
        EXPECT_EQ(Crc32(data.data(), n), NaiveCrc(data.data(), n)) << n;
}

TEST(Crc32, EverySmallLengthAtEveryAlignment)
{
    /* Covers each threshold of the fast path: below one 64-byte block, the
     * four-way fold, the 16-byte steps and each tail length. */
    const auto data = RandomBytes(64 + 400, 11);
    for (size_t align = 0; align < 64; ++align)
        for (size_t n = 0; n <= 400; ++n) ExpectCrcPaths(data.data() + align, n);
}

TEST(Crc32, RandomLengthsAndAlignmentsAgainstZlib)
{
    const auto data = RandomBytes(kMaxLen + 64, 12);
    std::mt19937 rng(13);
    for (int i = 0; i < kRandomCases; ++i) {
        const size_t n = rng() % (kMaxLen + 1), align = rng() % 64;
        ExpectCrcPaths(data.data() + align, n);
    }
    /* Uniform data: all ones meets the initial register head on. */
    for (uint8_t fill : {0x00, 0xFF}) {
        const std::vector<uint8_t> same(5000, fill);
        for (size_t n : {64, 100, 4999}) ExpectCrcPaths(same.data(), n);
    }
}

namespace {

uint32_t ModelSum(const uint8_t* p, size_t n, uint32_t org)
{
    uint64_t sum = org;
    for (size_t i = 0; i < n; i += 4) {
        uint64_t w = 0;
        for (size_t k = 0; k < 4 && i + k < n; ++k) w += (uint64_t)p[i + k] << (8 * k);
        sum += w;
    }
    return (uint32_t)(sum % 0x100000000ull);
}

} // namespace

TEST(WordSum, MatchesSixtyFourBitModel)
{
    const auto data = RandomBytes(kMaxLen + 64, 21);
    std::mt19937 rng(22);
    /* Every length up to 300 (all three stages and each tail) at 32
     * alignments, then random lengths and alignments. */
    for (size_t align = 0; align < 32; ++align)
        for (size_t n = 0; n <= 300; ++n) {
            const uint32_t org = rng();
            ASSERT_EQ(WordSum(data.data() + align, n, org), ModelSum(data.data() + align, n, org))
                << "n=" << n << " align=" << align;
        }
    for (int i = 0; i < kRandomCases / 3; ++i) {
        const size_t n = rng() % (kMaxLen + 1), align = rng() % 64;
        const uint32_t org = rng();
        ASSERT_EQ(WordSum(data.data() + align, n, org), ModelSum(data.data() + align, n, org))
            << "n=" << n << " align=" << align;
    }
    /* All-ones words wrap the sum at every addition. */
    const std::vector<uint8_t> ones(4099, 0xFF);
    EXPECT_EQ(WordSum(ones.data(), ones.size(), 5), ModelSum(ones.data(), ones.size(), 5));
}

TEST(WordSum, ContinuesAcrossSplitRanges)
{
    const auto data = RandomBytes(20000, 23);
    std::mt19937 rng(24);
    for (int i = 0; i < 500; ++i) {
        const size_t n = rng() % data.size();
        const size_t first = (rng() % (n + 1)) / 4 * 4; /* whole words only */
        const uint32_t org = rng();
        const uint32_t part = WordSum(data.data(), first, org);
        ASSERT_EQ(WordSum(data.data() + first, n - first, part), WordSum(data.data(), n, org))
            << "n=" << n << " first=" << first;
    }
}

TEST(Hex, EncodeMatchesPrintfAndStaysInItsRange)
{
    const auto data = RandomBytes(5000, 31);
    std::vector<char> out(2 * data.size() + 64);
    char want[2 * 5000 + 1];
    for (size_t align = 0; align < 16; ++align)
        for (size_t n : {0, 1, 15, 16, 17, 31, 32, 33, 100, 4900}) {
            for (size_t i = 0; i < n; ++i) snprintf(want + 2 * i, 3, "%02x", data[align + i]);
            std::fill(out.begin(), out.end(), '#');
            HexEncode(data.data() + align, n, out.data() + align);
            ASSERT_EQ(std::string(out.data() + align, 2 * n), std::string(want, 2 * n))
                << "n=" << n << " align=" << align;
            ASSERT_EQ(out[align + 2 * n], '#') << "wrote past the text, n=" << n;
        }
}

TEST(Hex, EveryPairDecodesAsStrtol)
{
    /* Each of the 65536 pairs, placed at a moving position among valid
     * pairs so that it meets both the vector blocks and the scalar rule. */
    const char* fill[] = {"7f", "A0", "0c", "eE", "99"};
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            const size_t nPairs = 33, at = (size_t)(a * 256 + b) % nPairs;
            char text[2 * 33];
            uint8_t want[33], got[33 + 1];
            for (size_t k = 0; k < nPairs; ++k) {
                char pair[3] = {0, 0, 0};
                if (k == at) pair[0] = (char)a, pair[1] = (char)b;
                else memcpy(pair, fill[k % 5], 2);
                memcpy(text + 2 * k, pair, 2);
                /* Converted the way the hex handlers convert one pair: a
                 * three-byte C string handed to strtol. */
                want[k] = (uint8_t)strtol(pair, nullptr, 16);
            }
            got[nPairs] = 0xA5;
            HexDecodePairs(text, nPairs, got);
            ASSERT_EQ(0, memcmp(got, want, nPairs)) << "pair " << a << "," << b;
            ASSERT_EQ(got[nPairs], 0xA5) << "wrote past the bytes";
        }
}

TEST(Hex, RandomRoundTrips)
{
    const auto data = RandomBytes(kMaxLen + 16, 41);
    std::mt19937 rng(42);
    std::vector<char> text(2 * kMaxLen + 32);
    std::vector<uint8_t> back(kMaxLen + 16);
    for (int i = 0; i < kRandomCases / 10; ++i) {
        const size_t n = rng() % (kMaxLen + 1), align = rng() % 16;
        HexEncode(data.data() + align, n, text.data() + align);
        for (size_t k = 0; k < 2 * n; k += 2 * (rng() % 64 + 1)) /* mixed case */
            text[align + k] = (char)toupper((unsigned char)text[align + k]);
        HexDecodePairs(text.data() + align, n, back.data() + align);
        ASSERT_EQ(0, memcmp(back.data() + align, data.data() + align, n)) << "n=" << n;
    }
}
