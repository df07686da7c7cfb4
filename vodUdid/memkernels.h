/*
 * memkernels.h - the byte-crunching loops behind the buffer family: CRC-32,
 * the 32-bit word sum and hex text in both directions.
 *
 * They live apart from the Lua handlers so that the C++ tests and benchmarks
 * can call every code path directly, without exporting anything: each
 * kernel has its dispatching entry, which takes the widest path this CPU
 * offers, and one function per path. A path may be called only where the
 * CpuHas... check named beside it (kernels/cpu.h) is true; the portable
 * paths run anywhere. Every path gives bit-identical results.
 *
 * The code is in kernels/, one file per algorithm, and for CRC-32 one more
 * per instruction-set family, since its folding paths are the bulk of it.
 *
 * No kernel keeps state, takes a lock or allocates: tables are compile-time
 * constants and the CPU path is chosen on each call.
 */
#ifndef VODUDID_MEMKERNELS_H
#define VODUDID_MEMKERNELS_H

#include <stddef.h>
#include <stdint.h>

#include "kernels/cpu.h"

namespace vud {

/* CRC-32/ISO-HDLC (reflected 0xEDB88320, init and final complement) of n
 * bytes at p; 0 for n == 0. The paths: slicing-by-16 tables, and folding
 * with carry-less multiplication 128, 256 or 512 bits at a time; a folding
 * path hands a range too short for it to the next narrower one. */
uint32_t Crc32(const uint8_t* p, size_t n);
uint32_t Crc32Portable(const uint8_t* p, size_t n);
uint32_t Crc32Clmul(const uint8_t* p, size_t n);      /* CpuHasClmul() */
uint32_t Crc32Vpclmul256(const uint8_t* p, size_t n); /* CpuHasVpclmul256() */
uint32_t Crc32Vpclmul512(const uint8_t* p, size_t n); /* CpuHasVpclmul512() */

/* org plus the little-endian 32-bit words of the n bytes at p, modulo 2^32;
 * a tail of n % 4 bytes forms one more word, its bytes from the low end up.
 * The portable path uses SSE2, which every x86-64 has. */
uint32_t WordSum(const uint8_t* p, size_t n, uint32_t org);
uint32_t WordSumPortable(const uint8_t* p, size_t n, uint32_t org);
uint32_t WordSumAvx2(const uint8_t* p, size_t n, uint32_t org); /* CpuHasAvx2() */

/* Writes the 2 * n lower-case hex digits of the n bytes at src to dst, high
 * nibble first, as "%02x" would. No terminator is written. */
void HexEncode(const uint8_t* src, size_t n, char* dst);
void HexEncodePortable(const uint8_t* src, size_t n, char* dst);
void HexEncodeSsse3(const uint8_t* src, size_t n, char* dst); /* CpuHasSsse3() */

/* Converts nPairs character pairs at text into nPairs bytes at dst, byte k
 * from characters 2k and 2k + 1. Each pair converts exactly as strtol in
 * base 16 would convert that two-character text (leading white space, one
 * sign, digits of either case up to the first non-digit; no digit gives 0),
 * keeping the low 8 bits; white space is that of the "C" locale. A zero
 * byte ends nothing here (a pair holding one converts like the C string it
 * would cut short). */
void HexDecodePairs(const char* text, size_t nPairs, uint8_t* dst);
void HexDecodePairsPortable(const char* text, size_t nPairs, uint8_t* dst);
void HexDecodePairsSsse3(const char* text, size_t nPairs, uint8_t* dst);  /* CpuHasSsse3() */
void HexDecodePairsAvx512(const char* text, size_t nPairs, uint8_t* dst); /* CpuHasAvx512Bw() */

/* Converts the hex text at text, which ends at its first zero byte or after
 * nMax characters, whichever comes first: an odd text reads as if a digit 0
 * stood in front of it, and its pairs convert as HexDecodePairs converts
 * them, byte k to dst + k. Returns the number of bytes stored, (length + 1)
 * / 2. nMax is meant to be a Lua string's length, which makes the measuring
 * of the text nearly free (it reads text[nMax] never). */
size_t HexDecodeText(const char* text, size_t nMax, uint8_t* dst);

} // namespace vud

#endif /* VODUDID_MEMKERNELS_H */
