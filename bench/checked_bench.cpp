/*
 * checked_bench.cpp - what checked mode costs, both ways in one run: two Lua
 * states in this process, one registered plainly and one with
 * VODUDID_CHECKED=1 and 1,000 live blocks, run the same Lua loops in turn.
 *
 *   GetInt32FrmMem, checked against plain: within 1.5x on one block again
 *   and again (the case loops over one buffer make), within 2x round robin
 *   over the 1,000 blocks (every call a fresh lookup); against a C function
 *   that does nothing, registered the same way, off: within 1.5x;
 *   a MallocBuffer + FreeBuffer pair, checked against plain: within 3x;
 *   Memcpy and BufferToString of 64 KiB, checked against plain: within 1.2x.
 * Then resident memory: 10^6 pairs of 16-byte blocks in the checked state
 * may leave it at most 16 MiB above where it stood.
 *
 * Times are CPU times of Lua loops (clock_gettime of the process), the
 * median of 9 rounds; the two states take turns going first.
 */
#include "vodUdid.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <vector>

#include <malloc.h>

#include <lua.hpp>

namespace {

const int kRounds = 9;
const int kLiveBlocks = 1000;

int EmptyFn(lua_State* L)
{
    (void)L;
    return 1;
}

/* Prepares the globals every loop uses: w (16 bytes), blocks (1,000 of 16
 * to 256 bytes, w among them), src and dst (64 KiB each). */
const char kSetup[] =
    "w = MallocBuffer(16) SetInt32FrmMem(w, 0, 123456789)\n"
    "blocks = { w }\n"
    "for i = 2, 1000 do blocks[i] = MallocBuffer(16 * (i % 16 + 1)) end\n"
    "src, dst = MallocBuffer(65536), MallocBuffer(65536)\n"
    "for i = 0, 65532, 4 do SetInt32FrmMem(src, i, (i * 2654435761) % 4294967296) end\n"
    "stamp = 0\n";

struct Loop {
    const char* szName;
    int nReps;
    const char* szCode; /* a chunk run with the repetition count as ... */
};

const Loop kLoops[] = {
    {"EmptyFn(w, 0)", 2000000, "local n = ... local f, p = EmptyFn, w for _ = 1, n do f(p, 0) end"},
    {"GetInt32FrmMem(w, 0)", 2000000,
     "local n = ... local f, p = GetInt32FrmMem, w for _ = 1, n do f(p, 0) end"},
    {"EmptyFn(blocks[k], 0)", 2000000,
     "local n = ... local f, t = EmptyFn, blocks for i = 1, n do f(t[i % 1000 + 1], 0) end"},
    {"GetInt32FrmMem(blocks[k], 0)", 2000000,
     "local n = ... local f, t = GetInt32FrmMem, blocks for i = 1, n do f(t[i % 1000 + 1], 0) end"},
    {"FreeBuffer(MallocBuffer(16))", 500000,
     "local n = ... local m, f = MallocBuffer, FreeBuffer for _ = 1, n do f(m(16)) end"},
    {"Memcpy(dst, src, 64 KiB)", 20000,
     "local n = ... local f, d, s = Memcpy, dst, src for _ = 1, n do f(d, s, 65536) end"},
    // A fresh first word each call: Lua interns strings, an equal one is not
    // built again.
    {"BufferToString(src, 64 KiB)", 2000,
     "local n = ... for _ = 1, n do stamp = stamp + 1 SetInt32FrmMem(src, 0, stamp) "
     "local s = BufferToString(src, 65536) end"},
};
const int kLoopCount = sizeof kLoops / sizeof kLoops[0];

double CpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

void Check(lua_State* L, int status)
{
    if (status != 0) {
        fprintf(stderr, "checked_bench: %s\n", lua_tostring(L, -1));
        exit(1);
    }
}

lua_State* NewState(bool bChecked)
{
    if (bChecked)
        setenv("VODUDID_CHECKED", "1", 1);
    else
        unsetenv("VODUDID_CHECKED");
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    l_RegAllFun(L);
    lua_pushcclosure(L, EmptyFn, 0);
    lua_setfield(L, LUA_GLOBALSINDEX, "EmptyFn");
    Check(L, luaL_dostring(L, kSetup));
    return L;
}

/* Seconds per call of one run of loop k in L. */
double PerCall(lua_State* L, int k)
{
    Check(L, luaL_loadstring(L, kLoops[k].szCode));
    lua_pushinteger(L, kLoops[k].nReps);
    lua_gc(L, LUA_GCCOLLECT, 0);
    double t0 = CpuSeconds();
    Check(L, lua_pcall(L, 1, 0, 0));
    return (CpuSeconds() - t0) / kLoops[k].nReps;
}

/* The process's resident set, from the kernel's own account. */
long ResidentKiB()
{
    long nKiB = -1;
    FILE* f = fopen("/proc/self/status", "r");
    char szLine[256];
    while (f != NULL && fgets(szLine, sizeof szLine, f) != NULL)
        if (sscanf(szLine, "VmRSS: %ld kB", &nKiB) == 1)
            break;
    if (f != NULL)
        fclose(f);
    return nKiB;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    // glibc would serve the 128 KiB hex scratch and strings with mmap, or
    // trim the heap after them, in one state's layout and not in the
    // other's: page faults that have nothing to do with checking.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    lua_State* states[2] = {NewState(false), NewState(true)};
    double t[2][kLoopCount];
    for (int k = 0; k < kLoopCount; ++k) {
        std::vector<double> runs[2];
        for (int r = 0; r < kRounds; ++r)
            for (int i = 0; i < 2; ++i) {
                int s = (r + i) % 2; // each state goes first in every other round
                runs[s].push_back(PerCall(states[s], k));
            }
        for (int s = 0; s < 2; ++s)
            t[s][k] = Median(runs[s]);
        printf("%-32s off %9.2f ns   on %9.2f ns\n", kLoops[k].szName, t[0][k] * 1e9,
               t[1][k] * 1e9);
    }
    printf("off: GetInt32FrmMem / EmptyFn                 %.2fx (target <= 1.5x)\n", t[0][1] / t[0][0]);
    printf("GetInt32FrmMem on / off, one block            %.2fx (target <= 1.5x)\n", t[1][1] / t[0][1]);
    printf("GetInt32FrmMem on / off, 1,000 round robin    %.2fx (target <= 2x)\n", t[1][3] / t[0][3]);
    printf("MallocBuffer + FreeBuffer on / off            %.2fx (target <= 3x)\n", t[1][4] / t[0][4]);
    printf("Memcpy 64 KiB on / off                        %.2fx (target <= 1.2x)\n", t[1][5] / t[0][5]);
    printf("BufferToString 64 KiB on / off                %.2fx (target <= 1.2x)\n", t[1][6] / t[0][6]);
    long nBefore = ResidentKiB();
    Check(states[1], luaL_dostring(states[1], "for _ = 1, 1000000 do FreeBuffer(MallocBuffer(16)) end"));
    long nAfter = ResidentKiB();
    printf("resident after 10^6 checked pairs             %+.1f MiB (target <= 16 MiB)\n",
           (double)(nAfter - nBefore) / 1024);
    for (lua_State* L : states) { // freed, so that the checked state reports no leak
        Check(L, luaL_dostring(L, "for _, b in ipairs(blocks) do FreeBuffer(b) end FreeBuffer(src) FreeBuffer(dst)"));
        lua_close(L);
    }
    return 0;
}
