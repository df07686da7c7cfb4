/*
 * memkernels.cpp - CRC-32, the 32-bit word sum and hex text conversion.
 *
 * Every kernel has a portable path written for any x86-64 (SSE2 is part of
 * the base instruction set) and, where it pays, paths for wider instruction
 * sets, compiled with target attributes so that the library still loads and
 * runs on a CPU without them. The widest path the CPU has is chosen on each
 * call through the CpuHas... checks, which read the CPU model that libgcc
 * filled in at load time: a load and a test, no lock and no state of our
 * own. The target-attributed code does only the bulk of the work; heads and
 * tails go through narrower or portable code, so every path shares every
 * edge case.
 *
 * Tables are constexpr arrays computed by the compiler: nothing runs at load
 * time, nothing is written afterwards.
 *
 * The byte order of words read through memcpy is the machine's, which is
 * little-endian on every target this library builds for (x86-64).
 */
#include "stdafx.h"

#include "memkernels.h"

#include <string.h>

#include <immintrin.h>

namespace vud {

namespace {

/* ===================================================================== */
/* CRC-32                                                                 */
/* ===================================================================== */

/* The generator 0x04C11DB7 with its bits reversed: in this "reflected" form
 * bit 31 holds the coefficient of x^0 and bit 0 that of x^31, so that the
 * first bit of a byte stream (bit 0 of byte 0) is the highest power. */
constexpr uint32_t kCrcPoly = 0xEDB88320u;

/* Slicing-by-16 tables: t[0][n] is the register after eight single-bit
 * steps from n (the classic byte table); t[k][n] is t[k-1][n] advanced by
 * one more zero byte, so sixteen bytes are folded in with sixteen
 * independent look-ups instead of a chain of sixteen dependent ones. */
const int kSlices = 16;

struct CrcTables {
    uint32_t t[kSlices][256];
};

constexpr CrcTables MakeCrcTables()
{
    CrcTables tb{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? (c >> 1) ^ kCrcPoly : (c >> 1);
        tb.t[0][n] = c;
    }
    for (int k = 1; k < kSlices; ++k)
        for (uint32_t n = 0; n < 256; ++n) {
            const uint32_t prev = tb.t[k - 1][n];
            tb.t[k][n] = (prev >> 8) ^ tb.t[0][prev & 0xFFu];
        }
    return tb;
}

constexpr CrcTables kCrc = MakeCrcTables();

/* The four bytes of the little-endian word w, seen from k + 3 down to k
 * zero bytes before the end of a 16-byte block. */
inline uint32_t Slice4(uint32_t w, int k)
{
    return kCrc.t[k + 3][w & 0xFFu] ^ kCrc.t[k + 2][(w >> 8) & 0xFFu] ^
           kCrc.t[k + 1][(w >> 16) & 0xFFu] ^ kCrc.t[k][w >> 24];
}

/* Advances the raw register crc (no initial value, no final complement)
 * over n bytes. */
uint32_t CrcUpdate(uint32_t crc, const uint8_t* p, size_t n)
{
    while (n >= 16) {
        uint32_t w0, w1, w2, w3;
        memcpy(&w0, p, 4);
        memcpy(&w1, p + 4, 4);
        memcpy(&w2, p + 8, 4);
        memcpy(&w3, p + 12, 4);
        crc = Slice4(w0 ^ crc, 12) ^ Slice4(w1, 8) ^ Slice4(w2, 4) ^ Slice4(w3, 0);
        p += 16;
        n -= 16;
    }
    while (n--)
        crc = kCrc.t[0][(crc ^ *p++) & 0xFFu] ^ (crc >> 8);
    return crc;
}

/*
 * Folding with carry-less multiplication.
 *
 * A 128-bit register loaded from 16 message bytes holds a polynomial X of
 * degree < 128 in reflected order: bit i is the coefficient of x^(127 - i).
 * Its low quadword is the upper half H (the first eight bytes), its high
 * quadword the lower half L, each reflected in 64 bits. Moving X forward by
 * D bits, so that it can be added (XORed) to the block that starts D bits
 * later, means replacing X by X * x^D, and modulo the generator P
 *
 *     X * x^D = H * x^(D+64) + L * x^D  ==  H * (x^(D+64) mod P) + L * (x^D mod P)
 *
 * which has degree < 96 and fits a register again. PCLMULQDQ multiplies two
 * 64-bit reflected operands into a 127-bit reflected product: a coefficient
 * of x^a at bit 63 - a times one of x^b at bit 63 - b lands at bit
 * 126 - (a + b). A constant K stored as a 33-bit value, coefficient of x^j at
 * bit 32 - j (the reflected 32-bit residue shifted left by one), puts the
 * product's x^(a+b) at bit 95 - (a + b), which the 128-bit reflected reading
 * takes as x^(a+b+32). So the constants are the residues x^(D+32) mod P for
 * the high half and x^(D-32) mod P for the low half, computed below by the
 * compiler and checked against the byte table by static_assert.
 *
 * Four registers fold in parallel, 64 bytes apart (D = 512), so four
 * multiplications are in flight while each one's latency runs. At the end
 * they are folded onto the last one (D = 384, 256, 128), whole 16-byte
 * blocks follow with D = 128, and the 128-bit remainder is reduced by
 * running the byte tables over its 16 bytes from a zero register: the table
 * update from zero computes exactly (bytes * x^32) mod P, the value the CRC
 * of a message ending in those bytes needs. The last n mod 16 bytes then go
 * through the tables too.
 */

/* x^n mod P in reflected form: x^0 is bit 31, and one multiplication by x
 * shifts right, folding x^32 back in as P's low terms. */
constexpr uint32_t XPowModP(unsigned n)
{
    uint32_t r = 0x80000000u;
    for (unsigned i = 0; i < n; ++i)
        r = (r & 1u) ? (r >> 1) ^ kCrcPoly : (r >> 1);
    return r;
}

/* The 33-bit operand for PCLMULQDQ described above. */
constexpr uint64_t FoldConst(unsigned n)
{
    return (uint64_t)XPowModP(n) << 1;
}

/* x^32 mod P is P without its top term; and the byte table's entry for
 * 0x80 (x^24) advanced eight steps is x^32 mod P as well. */
static_assert(XPowModP(32) == kCrcPoly, "x^32 mod P");
static_assert(kCrc.t[0][0x80] == XPowModP(32), "byte table and x^n agree");
/* x^(32 + 8k) mod P, seen through the slicing tables: t[k][0x80]. */
static_assert(kCrc.t[kSlices - 1][0x80] == XPowModP(32 + 8 * (kSlices - 1)),
              "slicing tables and x^n agree");

struct FoldPair {
    uint64_t lo; /* multiplies the low quadword, the polynomial's upper half */
    uint64_t hi; /* multiplies the high quadword, its lower half */
};

constexpr FoldPair FoldBy(unsigned bits)
{
    return FoldPair{FoldConst(bits + 32), FoldConst(bits - 32)};
}

/* The shortest range each folding path takes: it starts by loading four
 * registers, 4 x 16 bytes for PCLMULQDQ, 4 x 32 and 4 x 64 for the wide
 * paths. A shorter range goes one path down, and below 64 bytes folding has
 * nothing to fold: the tables do it all. */
constexpr size_t kClmulMinBytes = 64;
constexpr size_t kVpclmul256MinBytes = 128;
constexpr size_t kVpclmul512MinBytes = 256;

constexpr FoldPair kFold512 = FoldBy(512);
constexpr FoldPair kFold384 = FoldBy(384);
constexpr FoldPair kFold256 = FoldBy(256);
constexpr FoldPair kFold128 = FoldBy(128);

__attribute__((target("pclmul,sse4.1"))) inline __m128i
FoldConstVec(FoldPair k)
{
    return _mm_set_epi64x((long long)k.hi, (long long)k.lo);
}

/* x moved forward by the distance k stands for, not yet added to anything. */
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00),
                         _mm_clmulepi64_si128(x, k, 0x11));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load128(const uint8_t* p)
{
    return _mm_loadu_si128((const __m128i*)p);
}

/* The end every folding path shares: whole 16-byte blocks folded in with
 * D = 128, then the 128-bit remainder reduced by the byte tables from a zero
 * register, and the last n < 16 bytes through the tables too. */
__attribute__((target("pclmul,sse4.1"))) uint32_t FinishFold(__m128i x, const uint8_t* p,
                                                              size_t n)
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

/*
 * VPCLMULQDQ runs the same 64 x 64-bit multiplication in every 128-bit lane
 * of a 256- or 512-bit register, so a wide register is two or four of the
 * registers above side by side, each lane with its own pair of constants.
 * Four wide registers fold in parallel as before, now 128 or 256 bytes apart
 * (D = 1024 or 2048); they are folded onto the last one, whole wide blocks
 * follow, and the lanes of the one register left are folded onto its last
 * lane (lane i of m moved forward by 128 * (m - 1 - i) bits), which
 * FinishFold takes from there. Ranges too short to fill the four registers
 * go to the 128-bit path, which shares every edge case below that.
 */
constexpr FoldPair kFold768 = FoldBy(768);
constexpr FoldPair kFold1024 = FoldBy(1024);
constexpr FoldPair kFold1536 = FoldBy(1536);
constexpr FoldPair kFold2048 = FoldBy(2048);

/* The longest distance still tied to the tables: 2048 + 32 bits is
 * 260 bytes, and t[k][0x80] only reaches 8 * 15 bits past x^32, so check
 * the residue by stepping the byte table over zero bytes instead. */
constexpr uint32_t AdvanceByZeroBytes(uint32_t r, unsigned nBytes)
{
    for (unsigned i = 0; i < nBytes; ++i)
        r = kCrc.t[0][r & 0xFFu] ^ (r >> 8);
    return r;
}
static_assert(AdvanceByZeroBytes(XPowModP(32), 256) == XPowModP(32 + 2048),
              "x^2080 mod P, by the byte table and by x^n");

#define VUD_TARGET_VPCLMUL256 "avx2,vpclmulqdq,pclmul,sse4.1"
#define VUD_TARGET_VPCLMUL512 "avx512f,vpclmulqdq,pclmul,sse4.1"

__attribute__((target(VUD_TARGET_VPCLMUL256))) inline __m256i Load256(const uint8_t* p)
{
    return _mm256_loadu_si256((const __m256i*)p);
}

/* x moved forward by the distance of k, plus add. */
__attribute__((target(VUD_TARGET_VPCLMUL256))) inline __m256i Fold256(__m256i x, __m256i k,
                                                                      __m256i add)
{
    return _mm256_xor_si256(_mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00),
                                             _mm256_clmulepi64_epi128(x, k, 0x11)),
                            add);
}

__attribute__((target(VUD_TARGET_VPCLMUL256))) inline __m256i FoldConst256(FoldPair k)
{
    return _mm256_broadcastsi128_si256(FoldConstVec(k));
}

__attribute__((target(VUD_TARGET_VPCLMUL512))) inline __m512i Load512(const uint8_t* p)
{
    return _mm512_loadu_si512((const void*)p);
}

/* 128-bit lane i of x. (The zero-masked form: the plain one makes GCC 12
 * warn about the undefined value it starts from.) */
#define Lane512(x, i) _mm512_maskz_extracti32x4_epi32(0xF, (x), (i))

/* x moved forward by the distance of k, plus add: the three-way XOR is one
 * VPTERNLOGQ (truth table 0x96). */
__attribute__((target(VUD_TARGET_VPCLMUL512))) inline __m512i Fold512(__m512i x, __m512i k,
                                                                      __m512i add)
{
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), add, 0x96);
}

__attribute__((target(VUD_TARGET_VPCLMUL512))) inline __m512i FoldConst512(FoldPair k)
{
    const long long lo = (long long)k.lo, hi = (long long)k.hi;
    return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

/* ===================================================================== */
/* Hex text                                                               */
/* ===================================================================== */

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
__attribute__((target("ssse3"))) size_t HexEncodeBulkSsse3(const uint8_t* src, size_t n,
                                                          char* dst)
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
__attribute__((target("ssse3"))) inline __m128i HexValues(__m128i c, __m128i* ok)
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

__attribute__((target("ssse3"))) size_t DigitBlocksSsse3(const uint8_t* t, size_t nPairs,
                                                        uint8_t* dst)
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
__attribute__((target("avx512bw"))) size_t DigitBlocksAvx512(const uint8_t* t, size_t nPairs,
                                                            uint8_t* dst)
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

/* ===================================================================== */
/* Word sum                                                               */
/* ===================================================================== */

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
__attribute__((target("avx2"))) inline __m256i LoadWords(const uint8_t* p, __m256i rot)
{
    const __m256i v = _mm256_load_si256((const __m256i*)p);
    return kRotate ? _mm256_shuffle_epi8(v, rot) : v;
}

/* AVX2 bulk: 128 bytes a round in four independent accumulators, then
 * 32 at a time, from p, which is 32-byte aligned and stands at range index
 * phase (mod 4). Returns the count done, a multiple of 32. */
template <bool kRotate>
__attribute__((target("avx2"))) size_t WordSumAvx2Bulk(const uint8_t* p, size_t n,
                                                   unsigned phase, uint32_t* sum)
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

/* ===================================================================== */
/* Entry points                                                           */
/* ===================================================================== */

/* Each CPU check names one instruction-set feature a path needs. libgcc
 * reads CPUID (and whether the kernel saves the wide registers) once at load
 * time, so a check is a load and a test. */
bool CpuHasSsse3()
{
    return __builtin_cpu_supports("ssse3");
}

bool CpuHasAvx2()
{
    return __builtin_cpu_supports("avx2");
}

bool CpuHasAvx512Bw()
{
    return __builtin_cpu_supports("avx512bw");
}

bool CpuHasClmul()
{
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

bool CpuHasVpclmul256()
{
    return CpuHasClmul() && CpuHasAvx2() && __builtin_cpu_supports("vpclmulqdq");
}

bool CpuHasVpclmul512()
{
    return CpuHasClmul() && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("vpclmulqdq");
}

uint32_t Crc32Portable(const uint8_t* p, size_t n)
{
    /* n == 0 leaves the register at all ones, whose complement is 0. */
    return ~CrcUpdate(0xFFFFFFFFu, p, n);
}

__attribute__((target("pclmul,sse4.1"))) uint32_t Crc32Clmul(const uint8_t* p, size_t n)
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

__attribute__((target(VUD_TARGET_VPCLMUL256))) uint32_t Crc32Vpclmul256(const uint8_t* p,
                                                                        size_t n)
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

__attribute__((target(VUD_TARGET_VPCLMUL512))) uint32_t Crc32Vpclmul512(const uint8_t* p,
                                                                        size_t n)
{
    if (n < kVpclmul512MinBytes)
        return Crc32Clmul(p, n);

    __m512i x0 = _mm512_xor_si512(Load512(p), _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, 0xFFFFFFFF));
    __m512i x1 = Load512(p + 64);
    __m512i x2 = Load512(p + 128);
    __m512i x3 = Load512(p + 192);
    p += 256;
    n -= 256;

    const __m512i k2048 = FoldConst512(kFold2048);
    while (n >= 256) {
        x0 = Fold512(x0, k2048, Load512(p));
        x1 = Fold512(x1, k2048, Load512(p + 64));
        x2 = Fold512(x2, k2048, Load512(p + 128));
        x3 = Fold512(x3, k2048, Load512(p + 192));
        p += 256;
        n -= 256;
    }

    const __m512i k512 = FoldConst512(kFold512);
    __m512i x = Fold512(x0, FoldConst512(kFold1536),
                        Fold512(x1, FoldConst512(kFold1024), Fold512(x2, k512, x3)));
    while (n >= 64) {
        x = Fold512(x, k512, Load512(p));
        p += 64;
        n -= 64;
    }

    /* Lanes 0, 1, 2 moved forward by 384, 256, 128 bits; lane 3's constants
     * are zero, so only its own value (added below) remains of it. */
    const __m512i kLanes = _mm512_set_epi64(0, 0, (long long)kFold128.hi, (long long)kFold128.lo,
                                            (long long)kFold256.hi, (long long)kFold256.lo,
                                            (long long)kFold384.hi, (long long)kFold384.lo);
    const __m512i y = Fold512(x, kLanes, _mm512_setzero_si512());
    const __m128i r = _mm_xor_si128(
        _mm_xor_si128(Lane512(y, 0), Lane512(y, 1)), _mm_xor_si128(Lane512(y, 2), Lane512(x, 3)));
    return FinishFold(r, p, n);
}

uint32_t Crc32(const uint8_t* p, size_t n)
{
    /* Below kClmulMinBytes every path ends in the tables anyway; skip the
     * CPU checks. */
    if (n < kClmulMinBytes)
        return Crc32Portable(p, n);
    if (CpuHasVpclmul512())
        return Crc32Vpclmul512(p, n);
    if (CpuHasVpclmul256())
        return Crc32Vpclmul256(p, n);
    if (CpuHasClmul())
        return Crc32Clmul(p, n);
    return Crc32Portable(p, n);
}

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
