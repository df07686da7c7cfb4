/*
 * kernels/hex.cpp - hex text in both directions: lower-case digits out, as
 * "%02x" writes them, and pairs in, as strtol reads them. The portable paths
 * go a byte or a pair at a time through compile-time tables; the SSSE3 and
 * AVX-512BW paths take whole blocks of bytes or of digits, and hand every
 * other block to the same pair rule.
 */
#include "memkernels.h"

#include <string.h>

#include <immintrin.h>

namespace vud {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

/* "%02x" of every byte value, the two characters in memory order. */
struct HexPairTable {
    char c[256][2];
};

constexpr HexPairTable MakeHexPairs()
{
    HexPairTable tb{};
    for (int i = 0; i < 256; ++i) {
        tb.c[i][0] = kDigits[i >> 4];
        tb.c[i][1] = kDigits[i & 15];
    }
    return tb;
}

constexpr HexPairTable kHexPairs = MakeHexPairs();

/* Character classes for hex input: 0..15 a digit's value, then the rest. */
enum : uint8_t { kSpace = 16, kPlus = 17, kMinus = 18, kOther = 19 };

struct HexClassTable {
    uint8_t c[256];
};

/* White space is what isspace() accepts in the "C" locale, the one a
 * process runs in unless it calls setlocale. */
constexpr HexClassTable MakeHexClass()
{
    HexClassTable tb{};
    for (int i = 0; i < 256; ++i) {
        uint8_t v = kOther;
        if (i >= '0' && i <= '9') v = (uint8_t)(i - '0');
        else if (i >= 'a' && i <= 'f') v = (uint8_t)(i - 'a' + 10);
        else if (i >= 'A' && i <= 'F') v = (uint8_t)(i - 'A' + 10);
        else if (i == ' ' || (i >= '\t' && i <= '\r')) v = kSpace;
        else if (i == '+') v = kPlus;
        else if (i == '-') v = kMinus;
        tb.c[i] = v;
    }
    return tb;
}

constexpr HexClassTable kHexClass = MakeHexClass();

/* One two-character pair, converted as strtol(base 16) converts it, low
 * 8 bits kept. With only two characters the cases are few: a digit first
 * reads one or two digits; white space or a sign first leaves one character,
 * which counts only if it is a digit ("0x" alone reads as 0, like "0" and a
 * stray x). Anything else converts nothing and gives 0. */
inline uint8_t DecodePair(uint8_t a, uint8_t b)
{
    const uint8_t ca = kHexClass.c[a], cb = kHexClass.c[b];
    if (ca < 16) return (uint8_t)(cb < 16 ? (ca << 4) | cb : ca);
    if (cb >= 16) return 0;
    if (ca == kSpace || ca == kPlus) return cb;
    if (ca == kMinus) return (uint8_t)(0u - cb);
    return 0;
}

void HexEncodeScalar(const uint8_t* src, size_t n, char* dst)
{
    for (size_t i = 0; i < n; ++i)
        memcpy(dst + 2 * i, kHexPairs.c[src[i]], 2);
}

void HexDecodeScalar(const uint8_t* t, size_t nPairs, uint8_t* dst)
{
    for (size_t k = 0; k < nPairs; ++k)
        dst[k] = DecodePair(t[2 * k], t[2 * k + 1]);
}

/* Bulk of the encoder: 16 bytes at a time, each nibble looked up in the
 * digit string with PSHUFB, high and low digits interleaved. Returns the
 * number of bytes done (a multiple of 16). */
VUD_TARGET_SSSE3 size_t HexEncodeBulkSsse3(const uint8_t* src, size_t n, char* dst)
{
    const __m128i lut = _mm_loadu_si128((const __m128i*)kDigits);
    const __m128i low4 = _mm_set1_epi8(0x0F);
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128((const __m128i*)(src + i));
        const __m128i hi = _mm_shuffle_epi8(lut, _mm_and_si128(_mm_srli_epi16(v, 4), low4));
        const __m128i lo = _mm_shuffle_epi8(lut, _mm_and_si128(v, low4));
        _mm_storeu_si128((__m128i*)(dst + 2 * i), _mm_unpacklo_epi8(hi, lo));
        _mm_storeu_si128((__m128i*)(dst + 2 * i + 16), _mm_unpackhi_epi8(hi, lo));
    }
    return i;
}

/*
 * Hex input in bulk. A block of pairs whose characters are all hex digits
 * converts by arithmetic: byte = 16 * value of the first + value of the
 * second (PMADDUBSW with the weights 16 and 1, then a narrowing to bytes).
 * Every other block goes through the exact pair rule. A digit is never a
 * zero byte, which HexDecodeText relies on.
 *
 * A "digit blocks" function converts whole blocks from the start and stops
 * at the first block holding any other character (or when fewer than a
 * block's pairs remain), returning the number of pairs done.
 */

/* Digit values of 16 characters and a mask of those that are hex digits. */
VUD_TARGET_SSSE3 inline __m128i HexValues(__m128i c, __m128i* ok)
{
    const __m128i d = _mm_sub_epi8(c, _mm_set1_epi8('0'));
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
    /* OR 0x20 folds A-F onto a-f and nothing else onto them. */
    const __m128i l = _mm_sub_epi8(_mm_or_si128(c, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(l, _mm_set1_epi8(5)), l);
    *ok = _mm_or_si128(isDigit, isLetter);
    return _mm_or_si128(_mm_and_si128(isDigit, d),
                        _mm_and_si128(isLetter, _mm_add_epi8(l, _mm_set1_epi8(10))));
}

const size_t kSsse3BlockPairs = 16;

VUD_TARGET_SSSE3 size_t DigitBlocksSsse3(const uint8_t* t, size_t nPairs, uint8_t* dst)
{
    const __m128i weights = _mm_set1_epi16(0x0110); /* bytes 16, 1 */
    size_t k = 0;
    for (; k + kSsse3BlockPairs <= nPairs; k += kSsse3BlockPairs) {
        __m128i ok0, ok1;
        const __m128i v0 = HexValues(_mm_loadu_si128((const __m128i*)(t + 2 * k)), &ok0);
        const __m128i v1 = HexValues(_mm_loadu_si128((const __m128i*)(t + 2 * k + 16)), &ok1);
        if (_mm_movemask_epi8(_mm_and_si128(ok0, ok1)) != 0xFFFF)
            break;
        const __m128i b = _mm_packus_epi16(_mm_maddubs_epi16(v0, weights),
                                           _mm_maddubs_epi16(v1, weights));
        _mm_storeu_si128((__m128i*)(dst + k), b);
    }
    return k;
}

const size_t kAvx512BlockPairs = 32;

/* The same on 64 characters: unsigned compares give the two masks
 * directly, and VPMOVWB narrows the 32 words without a lane shuffle. */
VUD_TARGET_AVX512BW size_t DigitBlocksAvx512(const uint8_t* t, size_t nPairs, uint8_t* dst)
{
    const __m512i weights = _mm512_set1_epi16(0x0110);
    size_t k = 0;
    for (; k + kAvx512BlockPairs <= nPairs; k += kAvx512BlockPairs) {
        const __m512i c = _mm512_loadu_si512((const void*)(t + 2 * k));
        const __m512i d = _mm512_sub_epi8(c, _mm512_set1_epi8('0'));
        const __m512i l = _mm512_sub_epi8(_mm512_or_si512(c, _mm512_set1_epi8(0x20)),
                                          _mm512_set1_epi8('a'));
        const __mmask64 isDigit = _mm512_cmple_epu8_mask(d, _mm512_set1_epi8(9));
        const __mmask64 isLetter = _mm512_cmple_epu8_mask(l, _mm512_set1_epi8(5));
        if ((isDigit | isLetter) != ~(__mmask64)0)
            break;
        const __m512i v = _mm512_mask_blend_epi8(isLetter, d,
                                                 _mm512_add_epi8(l, _mm512_set1_epi8(10)));
        /* Zero-masked narrowing: the same bytes, without GCC 12's warning
         * about the plain form's undefined start value. */
        _mm256_storeu_si256((__m256i*)(dst + k),
                            _mm512_maskz_cvtepi16_epi8(~(__mmask32)0, _mm512_maddubs_epi16(v, weights)));
    }
    return k;
}

/* Every pair exactly: digit blocks where they come, the pair rule for each
 * block that is not one and for the tail. */
template <size_t (*DigitBlocks)(const uint8_t*, size_t, uint8_t*), size_t kBlockPairs>
inline void DecodePairsInBlocks(const uint8_t* t, size_t nPairs, uint8_t* dst)
{
    size_t k = 0;
    for (;;) {
        k += DigitBlocks(t + 2 * k, nPairs - k, dst + k);
        const size_t step = nPairs - k < kBlockPairs ? nPairs - k : kBlockPairs;
        HexDecodeScalar(t + 2 * k, step, dst + k);
        k += step;
        if (k == nPairs)
            return;
    }
}

/* The digit blocks of the widest path this CPU has. */
size_t DigitBlocks(const uint8_t* t, size_t nPairs, uint8_t* dst)
{
    if (CpuHasAvx512Bw())
        return DigitBlocksAvx512(t, nPairs, dst);
    if (CpuHasSsse3())
        return DigitBlocksSsse3(t, nPairs, dst);
    return 0;
}

} // namespace

void HexEncodePortable(const uint8_t* src, size_t n, char* dst)
{
    HexEncodeScalar(src, n, dst);
}

void HexEncodeSsse3(const uint8_t* src, size_t n, char* dst)
{
    const size_t done = HexEncodeBulkSsse3(src, n, dst);
    HexEncodeScalar(src + done, n - done, dst + 2 * done);
}

void HexEncode(const uint8_t* src, size_t n, char* dst)
{
    if (CpuHasSsse3())
        HexEncodeSsse3(src, n, dst);
    else
        HexEncodePortable(src, n, dst);
}

void HexDecodePairsPortable(const char* text, size_t nPairs, uint8_t* dst)
{
    HexDecodeScalar((const uint8_t*)text, nPairs, dst);
}

void HexDecodePairsSsse3(const char* text, size_t nPairs, uint8_t* dst)
{
    DecodePairsInBlocks<DigitBlocksSsse3, kSsse3BlockPairs>((const uint8_t*)text, nPairs, dst);
}

void HexDecodePairsAvx512(const char* text, size_t nPairs, uint8_t* dst)
{
    DecodePairsInBlocks<DigitBlocksAvx512, kAvx512BlockPairs>((const uint8_t*)text, nPairs, dst);
}

void HexDecodePairs(const char* text, size_t nPairs, uint8_t* dst)
{
    if (CpuHasAvx512Bw())
        HexDecodePairsAvx512(text, nPairs, dst);
    else if (CpuHasSsse3())
        HexDecodePairsSsse3(text, nPairs, dst);
    else
        HexDecodePairsPortable(text, nPairs, dst);
}

/*
 * A script's text is a Lua string: its length is known, and it almost never
 * holds a zero byte, but the text ends at the first one. Measuring it first
 * would read the whole text twice. Instead the pairing is guessed from the
 * Lua length and the leading digit blocks are converted at once; only what
 * follows them (usually less than one block) is searched for a zero byte.
 * If the true length has the other parity, every pair was cut wrong and the
 * text is converted again from the start. The guess never writes outside
 * the bytes the true text fills: a stored pair holds no zero byte, so it
 * lies wholly before the true end, and the byte it went to is one the true
 * text writes as well (with an even guess and an odd true length n, the
 * pairs before n end by byte (n - 3) / 2; with an odd guess and an even n,
 * by byte n / 2 - 1).
 */
size_t HexDecodeText(const char* text, size_t nMax, uint8_t* dst)
{
    const uint8_t* t = (const uint8_t*)text;
    if (nMax == 0 || t[0] == 0)
        return 0;
    const size_t pad = nMax & 1; /* an odd text has a digit 0 put in front */
    const size_t guessed = DigitBlocks(t + pad, nMax / 2, dst + pad);
    const size_t known = pad + 2 * guessed; /* characters known not to be zero */
    const void* zero = memchr(t + known, 0, nMax - known);
    const size_t n = zero != NULL ? (size_t)((const uint8_t*)zero - t) : nMax;
    const size_t nPad = n & 1;
    const size_t from = nPad == pad ? guessed : 0; /* pairs that stand */
    if (nPad)
        dst[0] = DecodePair('0', t[0]);
    HexDecodePairs(text + nPad + 2 * from, n / 2 - from, dst + nPad + from);
    return n / 2 + nPad;
}

} // namespace vud
