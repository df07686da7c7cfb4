/*
 * Every global through lua_pcall, arguments drawn by role: handles only from
 * the blocks this input made (offset and count kept inside them, or no
 * handle at all), streams and descriptors only those it opened, paths only
 * from a fixed set inside a private temporary directory (CopyFile runs a
 * shell, as root). Every other argument comes from the whole pool. No call
 * may fault, and none but MessageBox may raise a Lua error.
 *
 * VODUDID_FUZZ_MISUSE (off): in the checked mode, also hand out freed
 * blocks and ranges reaching past a block; each must then come back as a
 * Lua error. VODUDID_FUZZ_LUA_FILES (off): also pass io.stdout where a
 * stream belongs. Both wait for the library to refuse these cases.
 */
#include <sys/stat.h>

#include <map>

#include "fuzz_common.h"

#ifndef VODUDID_FUZZ_MISUSE
#define VODUDID_FUZZ_MISUSE 0
#endif
#ifndef VODUDID_FUZZ_LUA_FILES
#define VODUDID_FUZZ_LUA_FILES 0
#endif

using namespace fz;

namespace {

/* Roles: x any value; h handle (sets the room); o offset leaving `need`
 * bytes; q word index for a 4-byte field; n count within the room; N the
 * same or negative; t text within the room; X hex text within it; z block
 * size; f block to free; p path; m mode; s stream; c stream to close; d
 * descriptor; k descriptor to close. */
struct Global { const char* name; const char* roles; int need; };
const Global kGlobals[] = {
    {"MessageBox", "xxx", 0}, {"Exit", "xx", 0}, {"DebugTrace", "x", 0}, {"TraceBuffer", "hN", 0},
    {"CompareInt64", "xxxx", 0}, {"Int64Add", "xxxx", 0}, {"Int64Dec", "xxxx", 0},
    {"GetExecPath", "", 0}, {"GetCurrentDirectory", "", 0}, {"SetCurrentDirectory", "p", 0},
    {"GetFileNameFromPath", "x", 0}, {"MallocBuffer", "z", 0}, {"FreeBuffer", "f", 0},
    {"GetBuffer", "ho", 0}, {"Memcpy", "hhN", 0}, {"Memset", "hxN", 0}, {"Memcmp", "hhN", 0},
    {"BufferToString", "hN", 0}, {"StringtoBuffer", "hX", 0}, {"GetMemValue", "hoN", 0},
    {"SetMemValue", "hoX", 0}, {"BufferToChars", "hoN", 0}, {"CharsToBuffer", "ht", 0},
    {"GetInt32FrmMem", "ho", 4}, {"SetInt32FrmMem", "hox", 4}, {"GetInt16FrmMem", "ho", 2},
    {"SetInt16FrmMem", "hox", 2}, {"GetByteBitsFrmMem", "hoxx", 1},
    {"SetByteBitsFrmMem", "hoxxx", 1}, {"GetIntBitsFrmMem", "hqxx", 4},
    {"SetIntBitsFrmMem", "hqxxx", 4}, {"GetInt8FrmMem", "ho", 1}, {"SetInt8FrmMem", "hox", 1},
    {"calc_crc32", "hn", 0}, {"add_sum", "hnx", 0}, {"fopen", "pm", 0}, {"fseek", "sxx", 0},
    {"fwrite", "shN", 0}, {"fread", "shN", 0}, {"fclose", "c", 0}, {"fgetALine", "s", 0},
    {"LFopen", "px", 0}, {"LFseek", "dxxx", 0}, {"LFwrite", "dhN", 0}, {"LFread", "dhN", 0},
    {"LFclose", "k", 0}, {"DeleteFile", "p", 0}, {"CopyFile", "pp", 0},
};
const char* const kPaths[] = {"a", "b", "d", "d/c", "", "none/x", "a b"};
const char* const kModes[] = {"r", "rb", "w", "a+", "r+", "wb+", "zz", ""};

std::string g_dir; // the private directory; every input starts in it

struct Run {
    lua_State* L;
    FuzzedDataProvider& in;
    std::map<unsigned char*, long long> blocks; // live blocks and their usable sizes
    std::vector<void*> streams;
    std::vector<int> fds;
    bool bChecked;
    long long room = -1; // bytes from the chosen handles on; -1: no live handle
    long long nSize = 0; // the size MallocBuffer was asked for

    template <typename T> T Take(std::vector<T>& v) // removes one, or none
    {
        if (v.empty() || in.ConsumeBool())
            return T();
        size_t i = in.ConsumeIntegralInRange<size_t>(0, v.size() - 1);
        T x = v[i];
        v.erase(v.begin() + (long)i);
        return x;
    }
    void PushHandle(int need)
    {
        if (blocks.empty() || in.ConsumeIntegralInRange(0, 7) == 0)
            return PushPoolValue(L, in);
        auto it = std::next(blocks.begin(), in.ConsumeIntegralInRange<long>(0, (long)blocks.size() - 1));
        if (it->second < need)
            return lua_pushnil(L); // no room for the field: no handle
        long long nBack = in.ConsumeIntegralInRange<long long>(0, it->second - need);
        bool bMisuse = VODUDID_FUZZ_MISUSE && bChecked && in.ConsumeBool();
        lua_pushlightuserdata(L, it->first + (bMisuse ? it->second + 1 : 0) + nBack);
        room = std::min(room < 0 ? it->second : room, it->second - nBack);
    }
    void PushCount(bool bNegative, long long nMax)
    {
        if (room < 0 || (bNegative && in.ConsumeIntegralInRange(0, 7) == 0))
            return room < 0 ? PushPoolValue(L, in) : PushCut32(L, in, -in.ConsumeIntegralInRange(1, 100));
        PushCut32(L, in, in.ConsumeIntegralInRange<long long>(0, std::max(nMax, 0LL)));
    }
    void PushArg(char role, int need)
    {
        long long nOff;
        std::string s;
        switch (role) {
        case 'h': return PushHandle(need);
        case 'o': case 'q':
            if (room < 0)
                return PushPoolValue(L, in);
            nOff = in.ConsumeIntegralInRange<long long>(0, role == 'q' ? room / 4 - 1 : room - need);
            PushCut32(L, in, nOff);
            room = role == 'q' ? 0 : room - nOff;
            return;
        case 'n': case 'N': return PushCount(role == 'N', room);
        case 't': case 'X':
            if (room < 0)
                return PushPoolValue(L, in);
            s = in.ConsumeRandomLengthString((size_t)room * (role == 'X' ? 2 : 1));
            lua_pushlstring(L, s.data(), s.size());
            return;
        case 'z': nSize = in.ConsumeIntegralInRange(-40, 4096); return PushCut32(L, in, nSize);
        case 'f': {
            unsigned char* p = NULL;
            if (!blocks.empty() && in.ConsumeBool()) {
                auto it = std::next(blocks.begin(), in.ConsumeIntegralInRange<long>(0, (long)blocks.size() - 1));
                p = it->first;
                blocks.erase(it);
            }
            return lua_pushlightuserdata(L, p);
        }
        case 'p': lua_pushstring(L, in.PickValueInArray(kPaths)); return;
        case 'm': lua_pushstring(L, in.PickValueInArray(kModes)); return;
        case 's': case 'c': {
#if VODUDID_FUZZ_LUA_FILES
            if (in.ConsumeIntegralInRange(0, 15) == 0) {
                lua_getfield(L, LUA_GLOBALSINDEX, "__stdout");
                return;
            }
#endif
            if (role == 'c')
                return lua_pushlightuserdata(L, Take(streams));
            return lua_pushlightuserdata(L, streams.empty() || in.ConsumeBool() ? NULL
                                            : streams[in.ConsumeIntegralInRange<size_t>(0, streams.size() - 1)]);
        }
        case 'd': lua_pushinteger(L, fds.empty() ? -1 : fds[in.ConsumeIntegralInRange<size_t>(0, fds.size() - 1)]); return;
        case 'k': { int fd = Take(fds); lua_pushinteger(L, fd > 0 ? fd : -1); return; }
        default: return PushPoolValue(L, in);
        }
    }
    void CallOne()
    {
        const Global& g = in.PickValueInArray(kGlobals);
        if (!strcmp(g.name, "CopyFile") && in.ConsumeIntegralInRange(0, 7) != 0)
            return; // a shell per call would slow every input down to it
        room = -1;
        int n = (int)strlen(g.roles);
        for (int i = 0; i < n; ++i)
            PushArg(g.roles[i], g.need);
        int rc = CallGlobal(L, g.name, n);
        if (rc != 0 && !bChecked && strcmp(g.name, "MessageBox") != 0)
            abort(); // a Lua error where no handler raises one
        if (rc == 0 && g.roles[0] == 'z' && lua_touserdata(L, -1) != NULL)
            blocks[(unsigned char*)lua_touserdata(L, -1)] = std::max(nSize, 0LL);
        if (rc == 0 && !strcmp(g.name, "fopen") && lua_touserdata(L, -1) != NULL)
            streams.push_back(lua_touserdata(L, -1));
        if (rc == 0 && !strcmp(g.name, "LFopen") && lua_tointeger(L, -1) >= 0)
            fds.push_back((int)lua_tointeger(L, -1));
        lua_settop(L, 0);
    }
    void Release() // through the globals: the checked mode owns its blocks
    {
        for (auto& b : blocks) { lua_pushlightuserdata(L, b.first); CallGlobal(L, "FreeBuffer", 1); }
        for (void* s : streams) { lua_pushlightuserdata(L, s); CallGlobal(L, "fclose", 1); }
        for (int fd : fds) { lua_pushinteger(L, fd); CallGlobal(L, "LFclose", 1); }
        lua_settop(L, 0);
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fz::SilenceStdout();
    char szTemplate[] = "/tmp/vodudid-fuzz-XXXXXX";
    g_dir = mkdtemp(szTemplate);
    atexit([] { (void)!system(("rm -rf " + g_dir).c_str()); }); // the directory goes with us
    return chdir(g_dir.c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    bool bChecked = in.ConsumeBool();
    for (const char* p : kPaths) // the same files for every input
        unlink(p);
    rmdir("d");
    mkdir("d", 0700);
    FILE* f = fopen("a", "w");
    fputs("abc\n", f);
    fclose(f);
    Run run{fz::NewState(bChecked), in, {}, {}, {}, bChecked};
#if VODUDID_FUZZ_LUA_FILES
    lua_pushcfunction(run.L, luaopen_io);
    lua_call(run.L, 0, 1);
    lua_getfield(run.L, -1, "stdout");
    lua_setfield(run.L, LUA_GLOBALSINDEX, "__stdout");
    lua_settop(run.L, 0);
#endif
    for (int i = 0; i < 32 && in.remaining_bytes() > 0; ++i)
        run.CallOne();
    run.Release();
    lua_close(run.L);
    return chdir(g_dir.c_str()) & 0; // the next input starts in the directory
}
