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

/* Advances the raw register crc (no initial value, no final complement)
 * over n bytes with the slicing tables. */
uint32_t CrcUpdate(uint32_t crc, const uint8_t* p, size_t n);

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

/* The end every folding path shares: whole 16-byte blocks folded in with
 * D = 128, then the 128-bit remainder reduced by the byte tables from a zero
 * register, and the last n < 16 bytes through the tables too. */
VUD_TARGET_CLMUL uint32_t FinishFold(__m128i x, const uint8_t* p, size_t n);

} // namespace crc
} // namespace vud

#endif /* VODUDID_KERNELS_CRC32_H */
