/*
 * kernels/crc32_vpclmul.cpp - CRC-32 by folding with VPCLMULQDQ, on AVX2's
 * 256-bit registers and on AVX-512's 512-bit ones. The method is described
 * in crc32.h; both paths end in its FinishFold, as the 128-bit path does.
 */
#include "memkernels.h"
#include "crc32.h"

namespace vud {

using namespace crc;

namespace {

VUD_TARGET_VPCLMUL256 inline __m256i Load256(const uint8_t* p)
{
    return _mm256_loadu_si256((const __m256i*)p);
}

/* x moved forward by the distance of k, plus add. */
VUD_TARGET_VPCLMUL256 inline __m256i Fold256(__m256i x, __m256i k, __m256i add)
{
    return _mm256_xor_si256(_mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00),
                                             _mm256_clmulepi64_epi128(x, k, 0x11)),
                            add);
}

VUD_TARGET_VPCLMUL256 inline __m256i FoldConst256(FoldPair k)
{
    return _mm256_broadcastsi128_si256(FoldConstVec(k));
}

VUD_TARGET_VPCLMUL512 inline __m512i Load512(const uint8_t* p)
{
    return _mm512_loadu_si512((const void*)p);
}

/* 256-bit half i of x. (The zero-masked form: the plain one makes GCC 12
 * warn about the undefined value it starts from.) */
#define Half512(x, i) _mm512_maskz_extracti64x4_epi64(0xF, (x), (i))

/* x moved forward by the distance of k, plus add: the three-way XOR is one
 * VPTERNLOGQ (truth table 0x96). */
VUD_TARGET_VPCLMUL512 inline __m512i Fold512(__m512i x, __m512i k, __m512i add)
{
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), add, 0x96);
}

VUD_TARGET_VPCLMUL512 inline __m512i FoldConst512(FoldPair k)
{
    const long long lo = (long long)k.lo, hi = (long long)k.hi;
    return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

} // namespace

VUD_TARGET_VPCLMUL256 uint32_t Crc32Vpclmul256(const uint8_t* p, size_t n)
{
    if (n < kVpclmul256MinBytes)
        return Crc32Clmul(p, n);

    __m256i x0 = _mm256_xor_si256(Load256(p), _mm256_set_epi64x(0, 0, 0, 0xFFFFFFFF));
    __m256i x1 = Load256(p + 32);
    __m256i x2 = Load256(p + 64);
    __m256i x3 = Load256(p + 96);
    p += 128;
    n -= 128;

    const __m256i k1024 = FoldConst256(kFold1024);
    while (n >= 128) {
        x0 = Fold256(x0, k1024, Load256(p));
        x1 = Fold256(x1, k1024, Load256(p + 32));
        x2 = Fold256(x2, k1024, Load256(p + 64));
        x3 = Fold256(x3, k1024, Load256(p + 96));
        p += 128;
        n -= 128;
    }

    const __m256i k256 = FoldConst256(kFold256);
    __m256i x = Fold256(x0, FoldConst256(kFold768),
                        Fold256(x1, FoldConst256(kFold512), Fold256(x2, k256, x3)));
    while (n >= 32) {
        x = Fold256(x, k256, Load256(p));
        p += 32;
        n -= 32;
    }

    const __m128i lane1 = _mm256_extracti128_si256(x, 1);
    return FinishFold(_mm_xor_si128(Fold(_mm256_castsi256_si128(x), FoldConstVec(kFold128)),
                                    lane1),
                      p, n);
}

VUD_TARGET_VPCLMUL512 uint32_t Crc32Vpclmul512(const uint8_t* p, size_t n)
{
    if (n < kVpclmul512MinBytes)
        return Crc32Clmul(p, n);

    __m512i x = _mm512_xor_si512(Load512(p), _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, 0xFFFFFFFF));
    p += 64;
    n -= 64;

    const __m512i k512 = FoldConst512(kFold512);
    if (n >= 192) {
        /* Four registers in flight, 256 bytes a round, folded onto the last. */
        __m512i x0 = x;
        __m512i x1 = Load512(p);
        __m512i x2 = Load512(p + 64);
        __m512i x3 = Load512(p + 128);
        p += 192;
        n -= 192;
        const __m512i k2048 = FoldConst512(kFold2048);
        while (n >= 256) {
            x0 = Fold512(x0, k2048, Load512(p));
            x1 = Fold512(x1, k2048, Load512(p + 64));
            x2 = Fold512(x2, k2048, Load512(p + 128));
            x3 = Fold512(x3, k2048, Load512(p + 192));
            p += 256;
            n -= 256;
        }
        x = Fold512(x0, FoldConst512(kFold1536),
                    Fold512(x1, FoldConst512(kFold1024), Fold512(x2, k512, x3)));
    }
    while (n >= 64) {
        x = Fold512(x, k512, Load512(p));
        p += 64;
        n -= 64;
    }

    /* Lanes 0, 1, 2 moved forward by 384, 256, 128 bits onto lane 3, whose
     * constants are zero: it is added as it stands. */
    const __m512i kLanes = _mm512_set_epi64(0, 0, (long long)kFold128.hi, (long long)kFold128.lo,
                                            (long long)kFold256.hi, (long long)kFold256.lo,
                                            (long long)kFold384.hi, (long long)kFold384.lo);
    const __m512i y = Fold512(x, kLanes, _mm512_maskz_mov_epi64(0xC0, x));
    const __m256i y2 = _mm256_xor_si256(Half512(y, 0), Half512(y, 1));
    return FinishFold(_mm_xor_si128(_mm256_castsi256_si128(y2), _mm256_extracti128_si256(y2, 1)), p, n);
}

} // namespace vud
