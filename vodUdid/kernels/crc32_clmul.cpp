/*
 * kernels/crc32_clmul.cpp - CRC-32 by folding with 128-bit PCLMULQDQ. The
 * method, and the end every folding path shares, are in crc32.h.
 */
#include "memkernels.h"
#include "crc32.h"

namespace vud {

using namespace crc;

VUD_TARGET_CLMUL uint32_t Crc32Clmul(const uint8_t* p, size_t n)
{
    if (n < kClmulMinBytes)
        return Crc32Portable(p, n);

    /* The initial all-ones register is the same as complementing the
     * first 32 message bits and starting from zero. */
    const __m128i x = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(-1));
    if (n < 64)
        return FinishFold(x, p + 16, n - 16);

    __m128i x0 = x;
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

    return FinishFold(_mm_xor_si128(_mm_xor_si128(Fold(x0, FoldConstVec(kFold384)),
                                                  Fold(x1, FoldConstVec(kFold256))),
                                    _mm_xor_si128(Fold(x2, FoldConstVec(kFold128)), x3)),
                      p, n);
}

} // namespace vud
