/*
 * CRC-32 against zlib and the word sum against a plain sum of
 * little-endian words, at every start alignment of the input.
 */
#include <zlib.h>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    unsigned int org;
    memcpy(&org, data, 4);
    for (size_t skip = 4; skip < size && skip < 12; ++skip) {
        // A copy of exactly the bytes checked, so ASan sees any over-read.
        std::vector<unsigned char> bytes(data + skip, data + size);
        unsigned int n = (unsigned int)bytes.size();
        if (calc_crc32(bytes.data(), n) != (unsigned int)crc32(0, bytes.data(), n))
            abort();
        unsigned int sum = org;
        for (unsigned int i = 0; i < n; i += 4) {
            unsigned int word = 0;
            for (unsigned int b = 0; b < 4 && i + b < n; ++b)
                word |= (unsigned int)bytes[i + b] << (8 * b);
            sum += word;
        }
        if (AddSum(bytes.data(), n, org) != sum)
            abort();
    }
    return 0;
}
