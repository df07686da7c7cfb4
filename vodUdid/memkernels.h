/*
 * memkernels.h - the byte-crunching loops behind the buffer family: CRC-32,
 * the 32-bit word sum and hex text in both directions.
 *
 * They live apart from the Lua handlers so that the C++ tests and benchmarks
 * can call every code path directly (both CRC paths run on any machine that
 * has the carry-less multiply), without exporting anything.
 *
 * No kernel keeps state, takes a lock or allocates: tables are compile-time
 * constants and the CPU path is chosen on each call.
 */
#ifndef VODUDID_MEMKERNELS_H
#define VODUDID_MEMKERNELS_H

#include <stddef.h>
#include <stdint.h>

namespace vud {

/* CRC-32/ISO-HDLC (reflected 0xEDB88320, init and final complement) of n
 * bytes at p; 0 for n == 0. Crc32 picks the fastest path this CPU offers;
 * the other two are the paths themselves, bit-identical: slicing-by-16
 * tables, and folding with carry-less multiplication (which hands ranges
 * shorter than 64 bytes to the tables). */
uint32_t Crc32(const uint8_t* p, size_t n);
uint32_t Crc32Portable(const uint8_t* p, size_t n);
uint32_t Crc32Clmul(const uint8_t* p, size_t n); /* only where CpuHasClmul() */
bool CpuHasClmul();

/* org plus the little-endian 32-bit words of the n bytes at p, modulo 2^32;
 * a tail of n % 4 bytes forms one more word, its bytes from the low end up. */
uint32_t WordSum(const uint8_t* p, size_t n, uint32_t org);

/* Writes the 2 * n lower-case hex digits of the n bytes at src to dst, high
 * nibble first, as "%02x" would. No terminator is written. */
void HexEncode(const uint8_t* src, size_t n, char* dst);

/* Converts nPairs character pairs at text into nPairs bytes at dst, byte k
 * from characters 2k and 2k + 1. Each pair converts exactly as strtol in
 * base 16 would convert that two-character text (leading white space, one
 * sign, digits of either case up to the first non-digit; no digit gives 0),
 * keeping the low 8 bits; white space is that of the "C" locale. A zero
 * byte ends nothing here (a pair holding one converts like the C string it
 * would cut short): the caller passes the padded text's exact length. */
void HexDecodePairs(const char* text, size_t nPairs, uint8_t* dst);

} // namespace vud

#endif /* VODUDID_MEMKERNELS_H */
