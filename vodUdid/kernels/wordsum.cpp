/*
 * kernels/wordsum.cpp - the 32-bit word sum: a portable path on SSE2, which
 * every x86-64 has, and an AVX2 path for longer ranges.
 *
 * The byte order of words read through memcpy is the machine's, which is
 * little-endian on every target this library builds for (x86-64).
 */
#include "memkernels.h"

#include <string.h>

#include <immintrin.h>

namespace vud {

namespace {

/* The sum is modulo 2^32, so lanes of 32-bit additions followed by a sum of
 * the lanes give exactly the same result as one running sum. */

uint32_t WordSumScalar(const uint8_t* p, size_t n, uint32_t sum)
{
    const size_t words = n / 4;
    for (size_t i = 0; i < words; ++i) {
        uint32_t w;
        memcpy(&w, p + 4 * i, 4);
        sum += w;
    }
    const size_t rest = n % 4;
    if (rest) {
        /* The tail bytes fill a word from its low end, the rest zero. */
        uint32_t last = 0;
        for (size_t k = 0; k < rest; ++k)
            last |= (uint32_t)p[4 * words + k] << (8 * k);
        sum += last;
    }
    return sum;
}

inline uint32_t LaneSum128(__m128i v)
{
    uint32_t lanes[4];
    _mm_storeu_si128((__m128i*)lanes, v);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

/* SSE2 bulk, available on every x86-64: 64 bytes a round. Adds the words of
 * the first (n / 64) * 64 bytes into *sum and returns that count. */
size_t WordSumSse2(const uint8_t* p, size_t n, uint32_t* sum)
{
    __m128i a0 = _mm_setzero_si128(), a1 = a0, a2 = a0, a3 = a0;
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        a0 = _mm_add_epi32(a0, _mm_loadu_si128((const __m128i*)(p + i)));
        a1 = _mm_add_epi32(a1, _mm_loadu_si128((const __m128i*)(p + i + 16)));
        a2 = _mm_add_epi32(a2, _mm_loadu_si128((const __m128i*)(p + i + 32)));
        a3 = _mm_add_epi32(a3, _mm_loadu_si128((const __m128i*)(p + i + 48)));
    }
    *sum += LaneSum128(_mm_add_epi32(_mm_add_epi32(a0, a1), _mm_add_epi32(a2, a3)));
    return i;
}

/*
 * Seen byte by byte, the sum is that of every byte j of the range times
 * 256^(j mod 4), modulo 2^32: the tail word obeys the same rule. So the
 * vector loop need not load whole words of the range. It loads 32-byte
 * aligned blocks, whatever the start, and turns each 4-byte lane into the
 * word the range would see by moving its bytes: a lane byte k, with the
 * block starting at range index phase (mod 4), weighs 256^((k + phase) mod 4).
 * One PSHUFB a vector does that, and no load straddles two cache lines:
 * unaligned loads made a range in cache that starts off a word boundary
 * run at about half the speed of an aligned one.
 */

/* The byte-weighted sum of n bytes whose first has range index phase. */
uint32_t ByteWeightedSum(const uint8_t* p, size_t n, unsigned phase)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += (uint32_t)p[i] << (8 * ((phase + i) & 3u));
    return sum;
}

/* PSHUFB controls: for phase s, result byte m of each lane takes lane byte
 * (m - s) mod 4. */
struct LaneRotations {
    uint8_t m[4][32];
};

constexpr LaneRotations MakeLaneRotations()
{
    LaneRotations r{};
    for (unsigned s = 0; s < 4; ++s)
        for (unsigned i = 0; i < 32; ++i)
            r.m[s][i] = (uint8_t)((i & ~3u) | ((i - s) & 3u));
    return r;
}

constexpr LaneRotations kLaneRotations = MakeLaneRotations();

/* One aligned 32-byte block as the range's words (see above); at phase 0
 * the lanes are the words already and the shuffle is left out. */
template <bool kRotate>
VUD_TARGET_AVX2 inline __m256i LoadWords(const uint8_t* p, __m256i rot)
{
    const __m256i v = _mm256_load_si256((const __m256i*)p);
    return kRotate ? _mm256_shuffle_epi8(v, rot) : v;
}

/* AVX2 bulk: 128 bytes a round in four independent accumulators, then
 * 32 at a time, from p, which is 32-byte aligned and stands at range index
 * phase (mod 4). Returns the count done, a multiple of 32. */
template <bool kRotate>
VUD_TARGET_AVX2 size_t WordSumAvx2Bulk(const uint8_t* p, size_t n, unsigned phase, uint32_t* sum)
{
    const __m256i rot = _mm256_loadu_si256((const __m256i*)kLaneRotations.m[phase & 3u]);
    __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0;
    size_t i = 0;
    for (; i + 128 <= n; i += 128) {
        a0 = _mm256_add_epi32(a0, LoadWords<kRotate>(p + i, rot));
        a1 = _mm256_add_epi32(a1, LoadWords<kRotate>(p + i + 32, rot));
        a2 = _mm256_add_epi32(a2, LoadWords<kRotate>(p + i + 64, rot));
        a3 = _mm256_add_epi32(a3, LoadWords<kRotate>(p + i + 96, rot));
    }
    for (; i + 32 <= n; i += 32)
        a0 = _mm256_add_epi32(a0, LoadWords<kRotate>(p + i, rot));
    const __m256i a = _mm256_add_epi32(_mm256_add_epi32(a0, a1), _mm256_add_epi32(a2, a3));
    *sum += LaneSum128(_mm_add_epi32(_mm256_castsi256_si128(a),
                                     _mm256_extracti128_si256(a, 1)));
    return i;
}

} // namespace

/* Below this many bytes the AVX2 sum costs more than it saves: it first
 * sums up to 31 bytes one at a time to reach a 32-byte boundary, then loads
 * its rotation control, and it has 32 bytes of tail at the end. From 256
 * bytes on, its 128-byte rounds run more than half the range. */
const size_t kWordSumAvx2MinBytes = 256;

uint32_t WordSumPortable(const uint8_t* p, size_t n, uint32_t org)
{
    /* SSE2 takes whole 64-byte blocks; the count done is a multiple of 4,
     * so the remaining words keep their places. */
    uint32_t sum = org;
    const size_t done = WordSumSse2(p, n, &sum);
    return WordSumScalar(p + done, n - done, sum);
}

uint32_t WordSumAvx2(const uint8_t* p, size_t n, uint32_t org)
{
    /* Bytes up to the first 32-byte boundary, the aligned blocks, then the
     * fewer than 32 bytes left, by the byte-weighted rule. */
    uint32_t sum = org;
    const size_t head = n < 32 ? n : (size_t)(0u - (uintptr_t)p) & 31u;
    const unsigned phase = (unsigned)(head & 3u);
    sum += ByteWeightedSum(p, head, 0);
    const size_t done = head + (phase ? WordSumAvx2Bulk<true>(p + head, n - head, phase, &sum)
                                      : WordSumAvx2Bulk<false>(p + head, n - head, 0, &sum));
    return sum + ByteWeightedSum(p + done, n - done, phase);
}

uint32_t WordSum(const uint8_t* p, size_t n, uint32_t org)
{
    if (n >= kWordSumAvx2MinBytes && CpuHasAvx2())
        return WordSumAvx2(p, n, org);
    return WordSumPortable(p, n, org);
}

} // namespace vud
