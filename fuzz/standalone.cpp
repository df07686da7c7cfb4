/*
 * standalone.cpp - runs a fuzz target as a plain test, with any compiler and
 * no libFuzzer: every file of the seed directory, then each seed with a few
 * bytes changed, then inputs of pseudo-random bytes. The target's own model
 * checks abort on a difference, which fails the test.
 *   <target>_run SEED_DIR COUNT
 */
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv)
{
    if (argc != 3)
        return fprintf(stderr, "usage: %s SEED_DIR COUNT\n", argv[0]), 2;
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::string> seeds;
    if (DIR* d = opendir(argv[1])) {
        for (dirent* e; (e = readdir(d)) != nullptr;)
            if (e->d_name[0] != '.') {
                std::ifstream f(std::string(argv[1]) + "/" + e->d_name, std::ios::binary);
                seeds.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
            }
        closedir(d);
    }
    uint64_t x = 0x9E3779B97F4A7C15u; // xorshift64: the same inputs on every run
    auto next = [&x] { return x ^= x << 13, x ^= x >> 7, x ^= x << 17; };
    const long nCount = atol(argv[2]);
    for (long i = -(long)seeds.size(); i < nCount; ++i) {
        std::string in;
        if (i < 0) {
            in = seeds[-i - 1];
        } else if (!seeds.empty() && i % 2 == 0) { // a seed, a few bytes changed and some added
            in = seeds[next() % seeds.size()];
            for (int k = next() % 8; k > 0 && !in.empty(); --k)
                in[next() % in.size()] = (char)next();
            for (int k = next() % 64; k > 0; --k)
                in += (char)next();
        } else {
            in.resize(next() % 1500);
            for (char& c : in)
                c = (char)next();
        }
        LLVMFuzzerTestOneInput((const uint8_t*)in.data(), in.size());
    }
    printf("%zu seeds, %ld generated inputs\n", seeds.size(), nCount);
    return 0;
}
