/*
 * kernels/crc32.cpp - CRC-32: the slicing tables, which take ranges too
 * short to fold, the portable path, and the entry that picks the widest
 * path the CPU has.
 * The folding paths are in crc32_clmul.cpp (128-bit PCLMULQDQ) and
 * crc32_vpclmul.cpp (VPCLMULQDQ on 256- and 512-bit registers).
 */
#include "memkernels.h"
#include "crc32.h"

#include <string.h>

namespace vud {
namespace crc {

namespace {

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

} // namespace
} // namespace crc

using namespace crc;

uint32_t Crc32Portable(const uint8_t* p, size_t n)
{
    /* n == 0 leaves the register at all ones, whose complement is 0. */
    return ~CrcUpdate(0xFFFFFFFFu, p, n);
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

} // namespace vud
