/*
 * memkernels.cpp - CRC-32, the 32-bit word sum and hex text conversion.
 *
 * First, plain version: table CRC, one word per addition, table hex.
 */
#include "stdafx.h"

#include "memkernels.h"

#include <string.h>

namespace vud {

namespace {

constexpr uint32_t kCrcPoly = 0xEDB88320u; /* reflected 0x04C11DB7 */

struct CrcTable {
    uint32_t t[256];
};

constexpr CrcTable MakeCrcTable()
{
    CrcTable tb{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? (c >> 1) ^ kCrcPoly : (c >> 1);
        tb.t[n] = c;
    }
    return tb;
}

constexpr CrcTable kCrc = MakeCrcTable();

/* Character classes for hex input: 0..15 a digit's value, then the rest. */
enum : uint8_t { kSpace = 16, kPlus = 17, kMinus = 18, kOther = 19 };

struct HexClassTable {
    uint8_t c[256];
};

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

constexpr char kDigits[] = "0123456789abcdef";

/* One two-character pair, converted as strtol(base 16) converts it. */
inline uint8_t DecodePairSlow(uint8_t a, uint8_t b)
{
    const uint8_t ca = kHexClass.c[a], cb = kHexClass.c[b];
    if (ca < 16) return (uint8_t)(cb < 16 ? (ca << 4) | cb : ca);
    if (cb >= 16) return 0; /* no digit at all */
    if (ca == kSpace || ca == kPlus) return cb;
    if (ca == kMinus) return (uint8_t)(0u - cb);
    return 0;
}

} // namespace

uint32_t Crc32Portable(const uint8_t* p, size_t n)
{
    if (n == 0) return 0;
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i)
        crc = kCrc.t[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

uint32_t Crc32Clmul(const uint8_t* p, size_t n)
{
    return Crc32Portable(p, n);
}

bool CpuHasClmul()
{
    return __builtin_cpu_supports("pclmul");
}

uint32_t Crc32(const uint8_t* p, size_t n)
{
    return Crc32Portable(p, n);
}

uint32_t WordSum(const uint8_t* p, size_t n, uint32_t org)
{
    uint32_t sum = org;
    size_t words = n / 4;
    for (size_t i = 0; i < words; ++i) {
        uint32_t w;
        memcpy(&w, p + 4 * i, 4);
        sum += w;
    }
    size_t rest = n % 4;
    if (rest) {
        uint32_t last = 0;
        for (size_t k = 0; k < rest; ++k)
            last |= (uint32_t)p[4 * words + k] << (8 * k);
        sum += last;
    }
    return sum;
}

void HexEncode(const uint8_t* src, size_t n, char* dst)
{
    for (size_t i = 0; i < n; ++i) {
        dst[2 * i] = kDigits[src[i] >> 4];
        dst[2 * i + 1] = kDigits[src[i] & 15];
    }
}

void HexDecodePairs(const char* text, size_t nPairs, uint8_t* dst)
{
    const uint8_t* t = (const uint8_t*)text;
    for (size_t k = 0; k < nPairs; ++k)
        dst[k] = DecodePairSlow(t[2 * k], t[2 * k + 1]);
}

} // namespace vud
