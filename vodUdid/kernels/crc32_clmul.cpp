/*
 * kernels/crc32_clmul.cpp - CRC-32 by folding with 128-bit PCLMULQDQ, and the
 * end every folding path shares. The method is described in crc32.h.
 */
#include "memkernels.h"
#include "crc32.h"

namespace vud {
namespace crc {

/* The end every folding path shares: whole 16-byte blocks folded in with
 * D = 128, then the 128-bit remainder reduced by the byte tables from a zero
 * register, and the last n < 16 bytes through the tables too. */
VUD_TARGET_CLMUL uint32_t FinishFold(__m128i x, const uint8_t* p, size_t n)
{
    const __m128i k128 = FoldConstVec(kFold128);
    while (n >= 16) {
        x = _mm_xor_si128(Fold(x, k128), Load128(p));
        p += 16;
        n -= 16;
    }
    uint8_t rest[16];
    _mm_storeu_si128((__m128i*)rest, x);
    const uint32_t crc = CrcUpdate(0, rest, 16);
    return ~CrcUpdate(crc, p, n);
}

} // namespace crc

using namespace crc;

VUD_TARGET_CLMUL uint32_t Crc32Clmul(const uint8_t* p, size_t n)
{
    if (n < kClmulMinBytes)
        return Crc32Portable(p, n);

    /* The initial all-ones register is the same as complementing the
     * first 32 message bits and starting from zero. */
    __m128i x0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(-1));
    __m128i x1 = Load128(p + 16);
    __m128i x2 = Load128(p + 32);
    __m128i x3 = Load128(p + 48);
    p += 64;
    n -= 64;

    const __m128i k512 = FoldConstVec(kFold512);
    while (n >= 64) {
        x0 = _mm_xor_si128(Fold(x0, k512), Load128(p));
        x1 = _mm_xor_si128(Fold(x1, k512), Load128(p + 16));
        x2 = _mm_xor_si128(Fold(x2, k512), Load128(p + 32));
        x3 = _mm_xor_si128(Fold(x3, k512), Load128(p + 48));
        p += 64;
        n -= 64;
    }

    const __m128i x = _mm_xor_si128(_mm_xor_si128(Fold(x0, FoldConstVec(kFold384)),
                                                  Fold(x1, FoldConstVec(kFold256))),
                                    _mm_xor_si128(Fold(x2, FoldConstVec(kFold128)), x3));
    return FinishFold(x, p, n);
}

} // namespace vud
