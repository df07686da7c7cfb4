/*
 * kernels/crc32.h - what the CRC-32 files share: the polynomial, the slicing
 * tables, the folding distances of the carry-less paths and the 128-bit
 * steps they all end with. Every constant is derived from the polynomial by
 * the compiler and tied to the others by static_assert, so a maintainer can
 * follow each number instead of trusting it.
 */
#ifndef VODUDID_KERNELS_CRC32_H
#define VODUDID_KERNELS_CRC32_H

#include <stddef.h>
#include <stdint.h>

#include <immintrin.h>

#include "cpu.h"

namespace vud {
namespace crc {

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

inline constexpr CrcTables kCrc = MakeCrcTables();

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
 * blocks follow with D = 128, and a last partial block of n < 16 bytes is
 * met by moving the register's first n bytes forward one block and
 * appending the n bytes to the rest (two byte shuffles, one fold). What is
 * left is a 128-bit X, and the CRC of a message ending in it is
 * (X * x^32) mod P, which four more multiplications give (Reduce128 below):
 * two shorten it to 64 bits, and Barrett's method divides those by P with
 * two multiplications instead of a loop: for T of degree < 64,
 * floor(T / P) = floor(floor(T / x^32) * floor(x^64 / P) / x^32) exactly,
 * carry-less arithmetic having no rounding error to correct.
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

/* The shortest range each folding path takes. A shorter range goes one
 * path down, and below 16 bytes the tables do it all. */
constexpr size_t kClmulMinBytes = 16;
constexpr size_t kVpclmul256MinBytes = 128;
constexpr size_t kVpclmul512MinBytes = 64;

constexpr FoldPair kFold512 = FoldBy(512);
constexpr FoldPair kFold384 = FoldBy(384);
constexpr FoldPair kFold256 = FoldBy(256);
constexpr FoldPair kFold128 = FoldBy(128);

/*
 * VPCLMULQDQ runs the same 64 x 64-bit multiplication in every 128-bit lane
 * of a 256- or 512-bit register, so a wide register is two or four of the
 * registers above side by side, each lane with its own pair of constants.
 * Four wide registers fold in parallel as before, now 128 or 256 bytes apart
 * (D = 1024 or 2048); they are folded onto the last one, whole wide blocks
 * follow, and the lanes of the one register left are folded onto its last
 * lane (lane i of m moved forward by 128 * (m - 1 - i) bits), which
 * FinishFold takes from there. The 512-bit path folds a range too short
 * for four registers in one, 64 bytes a step: below 256 bytes the setup
 * and the end cost more than four chains in flight save. A range too short
 * for one wide register goes to the 128-bit path, which shares every edge
 * case below that.
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

/* Barrett's constants, in the layout of the fold constants (coefficient
 * of x^j at bit 32 - j): floor(x^64 / P), and P itself with its x^32 term.
 * The quotient comes from long division in normal bit order (bit i the
 * coefficient of x^i), whose remainder must be x^64 mod P. */
constexpr uint32_t Reverse32(uint32_t v)
{
    uint32_t r = 0;
    for (int i = 0; i < 32; ++i)
        r |= ((v >> i) & 1u) << (31 - i);
    return r;
}

struct Division {
    uint64_t quotient, remainder;
};

constexpr Division X64DividedByP()
{
    const uint64_t p = ((uint64_t)1 << 32) | Reverse32(kCrcPoly);
    /* x^64 needs 65 bits: take the first quotient term, x^32, at once,
     * leaving x^64 - x^32 * P, which is P's low terms times x^32. */
    Division d{(uint64_t)1 << 32, (uint64_t)Reverse32(kCrcPoly) << 32};
    for (int i = 31; i >= 0; --i)
        if ((d.remainder >> (32 + i)) & 1u) {
            d.quotient |= (uint64_t)1 << i;
            d.remainder ^= p << i;
        }
    return d;
}

constexpr uint64_t Reflect33(uint64_t v)
{
    uint64_t r = 0;
    for (int i = 0; i <= 32; ++i)
        r |= ((v >> i) & 1u) << (32 - i);
    return r;
}

constexpr uint64_t kBarrettMu = Reflect33(X64DividedByP().quotient);
constexpr uint64_t kBarrettPoly = Reflect33(((uint64_t)1 << 32) | Reverse32(kCrcPoly));
static_assert(Reverse32((uint32_t)X64DividedByP().remainder) == XPowModP(64),
              "the division's remainder is x^64 mod P");
static_assert(kBarrettPoly == ((uint64_t)kCrcPoly << 1 | 1u), "P in the fold layout");

/* 128 to 96 bits, then 96 to 64: X's upper half times x^96, the 32
 * highest bits of the rest times x^64. */
constexpr uint64_t kReduce96 = FoldConst(96);
constexpr uint64_t kReduce64 = FoldConst(64);

VUD_TARGET_CLMUL inline __m128i FoldConstVec(FoldPair k)
{
    return _mm_set_epi64x((long long)k.hi, (long long)k.lo);
}

/* x moved forward by the distance k stands for, not yet added to anything. */
VUD_TARGET_CLMUL inline __m128i Fold(__m128i x, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00),
                         _mm_clmulepi64_si128(x, k, 0x11));
}

VUD_TARGET_CLMUL inline __m128i Load128(const uint8_t* p)
{
    return _mm_loadu_si128((const __m128i*)p);
}

/* PSHUFB controls for a last block of n < 16 bytes, read from byte n on:
 * byte i of the control is i + n - 16 where that is a register byte, and has
 * its top bit set (a zero, and for PBLENDVB the other source) where it is
 * not. With the top bits flipped, it picks byte i + n instead. */
struct TailShuffle {
    uint8_t b[32];
};

constexpr TailShuffle MakeTailShuffle()
{
    TailShuffle t{};
    for (int k = 0; k < 32; ++k)
        t.b[k] = (uint8_t)(k < 16 ? 0x80 | k : k - 16);
    return t;
}

inline constexpr TailShuffle kTailShuffle = MakeTailShuffle();

/* (X * x^32) mod P for the 128-bit X in x, as the 32-bit reflected register.
 * Each product's layout is that of the folds: the 64-bit operand's bit j is
 * x^(63 - j) (or x^(31 - j) where only 32 bits are left), the constant's bit
 * j is x^(32 - j), so product bit k is x^(95 - k) or x^(63 - k). */
VUD_TARGET_CLMUL inline uint32_t Reduce128(__m128i x)
{
    const __m128i low32 = _mm_cvtsi32_si128(-1);
    const __m128i k = _mm_set_epi64x((long long)kReduce64, (long long)kReduce96);
    /* S = upper half * x^96 + lower half * x^32: 96 bits, bit k is x^(95 - k). */
    const __m128i s = _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_srli_si128(x, 8));
    /* T = S's top 32 bits * x^64 + the other 64: bit k is x^(63 - k). */
    const __m128i t = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(s, low32), k, 0x10),
                                    _mm_srli_si128(s, 4));
    /* Barrett: q = floor(T / P) from T's top 32 bits, then T - q * P, of
     * which only the 32 lowest terms (bits 32 to 63) can be nonzero. */
    const __m128i b = _mm_set_epi64x((long long)kBarrettPoly, (long long)kBarrettMu);
    const __m128i q = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(t, low32), b, 0x00), low32);
    return (uint32_t)_mm_extract_epi32(_mm_xor_si128(t, _mm_clmulepi64_si128(q, b, 0x10)), 1);
}

/* The end every folding path shares: the 128-bit register x, which holds
 * the message up to p, folded on over the n bytes at p, and the CRC. Inline,
 * so that each path runs it in its own instruction encoding: a call from
 * AVX code into SSE code would have to clear the wide registers' upper
 * halves first. */
VUD_TARGET_CLMUL inline uint32_t FinishFold(__m128i x, const uint8_t* p, size_t n)
{
    const __m128i k128 = FoldConstVec(kFold128);
    while (n >= 16) {
        x = _mm_xor_si128(Fold(x, k128), Load128(p));
        p += 16;
        n -= 16;
    }
    if (n > 0) {
        /* The message so far and the n bytes are x's 16 bytes followed by
         * the n: x's first n bytes, moved forward one block, plus a last
         * block of x's other 16 - n bytes and the n. Those are the last 16
         * bytes of the range, read again from memory, x's bytes put over
         * the first 16 - n of them. */
        const __m128i ctl = _mm_loadu_si128((const __m128i*)(kTailShuffle.b + n));
        const __m128i head = _mm_shuffle_epi8(x, ctl);
        const __m128i rest = _mm_shuffle_epi8(x, _mm_xor_si128(ctl, _mm_set1_epi8(-128)));
        x = _mm_xor_si128(Fold(head, k128), _mm_blendv_epi8(Load128(p + n - 16), rest, ctl));
    }
    return ~Reduce128(x);
}

} // namespace crc
} // namespace vud

#endif /* VODUDID_KERNELS_CRC32_H */
