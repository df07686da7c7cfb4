/* CRC-32 against zlib and the word sum against a plain sum of little-endian
 * words, at every start alignment of the input. */
#include <zlib.h>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    unsigned int org = size < 4 ? 0 : data[0] | data[1] << 8 | data[2] << 16 | (unsigned)data[3] << 24;
    for (size_t skip = 4; skip < size && skip < 12; ++skip) {
        // A copy of exactly the bytes checked, so ASan sees any over-read.
        std::vector<unsigned char> b(data + skip, data + size);
        unsigned int n = (unsigned int)b.size(), sum = org;
        for (unsigned int i = 0; i < n; ++i)
            sum += (unsigned int)b[i] << (8 * (i % 4));
        if (calc_crc32(b.data(), n) != (unsigned)crc32(0, b.data(), n) || AddSum(b.data(), n, org) != sum)
            abort();
    }
    return 0;
}
