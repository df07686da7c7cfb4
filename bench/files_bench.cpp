/*
 * files_bench.cpp - block reads of 64 KiB from the page cache: the plain C
 * loops that "fread" and "LFread" are judged by, and the same reads driven
 * from Lua through the library's globals in an embedded Lua state.
 *
 * The file is the one named by VODUDID_BENCH_FILE (bench/files_bench.lua
 * passes its own), or else a 100 MiB file made in /tmp for this run and
 * removed at exit. Every benchmark reports bytes_per_second, so a ratio is
 * the quotient of two lines.
 */
#include "vodUdid.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

const size_t kBlock = 64 * 1024;
const size_t kMadeSize = 100 * 1024 * 1024;

/* The file every benchmark reads: named by the environment, or made here. */
class BenchFile {
public:
    BenchFile()
    {
        if (const char* p = getenv("VODUDID_BENCH_FILE")) {
            path_ = p;
            return;
        }
        char tmpl[] = "/tmp/vodudid_files_bench_XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0) {
            perror("mkstemp");
            exit(1);
        }
        path_ = tmpl;
        owned_ = true;
        std::vector<char> block(kBlock);
        std::mt19937 rng(1);
        for (size_t done = 0; done < kMadeSize; done += kBlock) {
            for (auto& c : block) c = (char)rng();
            if (write(fd, block.data(), kBlock) != (ssize_t)kBlock) {
                perror("write");
                exit(1);
            }
        }
        close(fd);
    }
    ~BenchFile()
    {
        if (owned_) unlink(path_.c_str());
    }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
    bool owned_ = false;
};

const BenchFile& File()
{
    static BenchFile file; /* benchmark scaffolding, single thread */
    return file;
}

void BM_CFread64K(benchmark::State& state)
{
    std::vector<char> buf(kBlock);
    int64_t total = 0;
    for (auto _ : state) {
        FILE* f = fopen(File().path(), "rb");
        size_t n;
        while ((n = fread(buf.data(), 1, kBlock, f)) > 0) total += (int64_t)n;
        fclose(f);
    }
    state.SetBytesProcessed(total);
}
BENCHMARK(BM_CFread64K)->Unit(benchmark::kMillisecond);

void BM_CRead64K(benchmark::State& state)
{
    std::vector<char> buf(kBlock);
    int64_t total = 0;
    for (auto _ : state) {
        int fd = open(File().path(), O_RDONLY);
        ssize_t n;
        while ((n = read(fd, buf.data(), kBlock)) > 0) total += n;
        close(fd);
    }
    state.SetBytesProcessed(total);
}
BENCHMARK(BM_CRead64K)->Unit(benchmark::kMillisecond);

/* The same loops as a script would write them; each returns the bytes read. */
const char kLuaFread[] =
    "local path = ...\n"
    "local b, h, total = MallocBuffer(65536), fopen(path, 'rb'), 0\n"
    "while true do\n"
    "  local n = fread(h, b, 65536)\n"
    "  if n == 0 then break end\n"
    "  total = total + n\n"
    "end\n"
    "fclose(h) FreeBuffer(b)\n"
    "return total\n";

/* LFread pushes the requested length, so the calls are counted. */
const char kLuaLFread[] =
    "local path = ...\n"
    "local b, fd, calls = MallocBuffer(65536), LFopen(path, 0), 0\n"
    "while LFread(fd, b, 65536) do calls = calls + 1 end\n"
    "LFclose(fd) FreeBuffer(b)\n"
    "return calls\n";

/* Runs the chunk once per iteration; countsCalls says whether it returns
 * the bytes read or the number of 64 KiB calls that read something. Either
 * must match the whole file. */
void RunLua(benchmark::State& state, const char* code, bool countsCalls)
{
    struct stat st;
    if (stat(File().path(), &st) != 0) {
        state.SkipWithError("cannot stat the file");
        return;
    }
    const int64_t size = st.st_size;
    const int64_t expected = countsCalls ? (size + (int64_t)kBlock - 1) / (int64_t)kBlock : size;
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    l_RegAllFun(L);
    if (luaL_loadstring(L, code) != 0) {
        state.SkipWithError(lua_tostring(L, -1));
        lua_close(L);
        return;
    }
    int fn = lua_gettop(L);
    for (auto _ : state) {
        lua_pushvalue(L, fn);
        lua_pushstring(L, File().path());
        lua_call(L, 1, 1);
        int64_t n = (int64_t)lua_tonumber(L, -1);
        lua_pop(L, 1);
        if (n != expected) {
            state.SkipWithError("the loop did not read the whole file");
            break;
        }
    }
    state.SetBytesProcessed(size * (int64_t)state.iterations());
    lua_close(L);
}

void BM_LuaFread64K(benchmark::State& state) { RunLua(state, kLuaFread, false); }
BENCHMARK(BM_LuaFread64K)->Unit(benchmark::kMillisecond);

void BM_LuaLFread64K(benchmark::State& state) { RunLua(state, kLuaLFread, true); }
BENCHMARK(BM_LuaLFread64K)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
