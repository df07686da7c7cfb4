/* standalone.cpp - a fuzz target as a plain test, with any compiler and no
 * libFuzzer: every seed file, then COUNT inputs, by turns a seed with one byte
 * in 16 changed and some appended, or pseudo-random bytes (the same on every
 * run). The target's model checks abort on a difference.
 *   <target>_run SEED_DIR COUNT */
#include <dirent.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv)
{
    DIR* d = argc == 3 ? opendir(argv[1]) : nullptr;
    std::vector<std::string> seeds;
    for (dirent* e; d != nullptr && (e = readdir(d)) != nullptr;)
        if (e->d_name[0] != '.') {
            std::ifstream f(std::string(argv[1]) + "/" + e->d_name, std::ios::binary);
            seeds.push_back((std::ostringstream() << f.rdbuf()).str());
        }
    if (d == nullptr || seeds.empty() || closedir(d) != 0)
        return 2;
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::sort(seeds.begin(), seeds.end()); // directory order is the file system's
    uint64_t x = 0x9E3779B97F4A7C15u; // xorshift64
    auto next = [&x] { return x ^= x << 13, x ^= x >> 7, x ^= x << 17; };
    for (long i = -(long)seeds.size(); i < atol(argv[2]); ++i) {
        std::string in = seeds[i < 0 ? -i - 1 : next() % seeds.size()];
        const size_t nKeep = i < 0 || i % 2 ? in.size() : 0; // seed bytes that may stay
        if (i >= 0)
            in.resize(nKeep + next() % (i % 2 ? 64 : 1500));
        for (size_t k = 0; i >= 0 && k < in.size(); ++k)
            if (k >= nKeep || next() % 16 == 0)
                in[k] = (char)next();
        alarm(30); // an input that hangs ends the run, long before the test's timeout would
        LLVMFuzzerTestOneInput((const uint8_t*)in.data(), in.size());
    }
    return 0;
}
