/* Every global through lua_pcall, arguments drawn by role: handles only into
 * blocks this input made, streams and descriptors only those it opened, paths
 * from a fixed set in a private directory (CopyFile runs a shell, as root),
 * io.stdout as a stream (the null stream: standard output stays open). No
 * call may fault, nor raise a Lua error but MessageBox and, checked, CopyFile
 * on "a b". Checked, one call in four makes a mistake the checker must refuse
 * naming the global: a range from a block, live or freed, or its red zones
 * past its end; a double, interior or foreign free; a buffer or a closed
 * stream as a stream; a closed or non-number descriptor. */
#include <sys/stat.h>

#include <map>

#include "fuzz_common.h"

using namespace fz;

namespace {

/* Roles: x any value; h handle; o offset leaving the digit's bytes; q word
 * index of a 4-byte field; n count within the room; N the same or negative;
 * t text within the room; X hex text within it; z block size; f block to
 * free; p path; m mode; i mode of LFopen; s stream; c stream to close; d
 * descriptor; k descriptor to close. */
struct Global { const char* name; const char* roles; };
const Global kGlobals[] = {
    {"MessageBox", "xxx"}, {"Exit", "xx"}, {"DebugTrace", "x"}, {"TraceBuffer", "hN"},
    {"CompareInt64", "xxxx"}, {"Int64Add", "xxxx"}, {"Int64Dec", "xxxx"}, {"GetExecPath", ""},
    {"GetCurrentDirectory", ""}, {"SetCurrentDirectory", "p"}, {"GetFileNameFromPath", "x"},
    {"MallocBuffer", "z"}, {"FreeBuffer", "f"}, {"GetBuffer", "xo"}, {"Memcpy", "hhN"},
    {"Memset", "hxN"}, {"Memcmp", "hhN"}, {"BufferToString", "hN"}, {"StringtoBuffer", "hX"},
    {"GetMemValue", "hoN"}, {"SetMemValue", "hoX"}, {"BufferToChars", "hoN"}, {"CharsToBuffer", "ht"},
    {"GetInt32FrmMem", "ho4"}, {"SetInt32FrmMem", "hox4"}, {"GetInt16FrmMem", "ho2"},
    {"SetInt16FrmMem", "hox2"}, {"GetByteBitsFrmMem", "hoxx1"}, {"SetByteBitsFrmMem", "hoxxx1"},
    {"GetIntBitsFrmMem", "hqxx4"}, {"SetIntBitsFrmMem", "hqxxx4"}, {"GetInt8FrmMem", "ho1"},
    {"SetInt8FrmMem", "hox1"}, {"calc_crc32", "hn"}, {"add_sum", "hnx"}, {"fopen", "pm"},
    {"fseek", "sxx"}, {"fwrite", "shN"}, {"fread", "shN"}, {"fclose", "c"}, {"fgetALine", "s"},
    {"LFopen", "pi"}, {"LFseek", "dxxx"}, {"LFwrite", "dhN"}, {"LFread", "dhN"}, {"LFclose", "k"},
    {"DeleteFile", "p"}, {"CopyFile", "pp"},
};
const char* const kPaths[] = {"a", "b", "d", "d/c", "", "none/x", "a b"};
const char* const kModes[] = {"r", "rb", "w", "a+", "r+", "wb+", "zz", ""};
const long long kRedZone = 32; // the checker's, on each side of a block
std::string g_dir; // the private directory; every input starts in it

void* At(const void* p, long long d) { return (void*)((uintptr_t)p + (uintptr_t)d); }

struct Run {
    lua_State* L;
    FuzzedDataProvider& in;
    bool bChecked, bMisuse = false, bBad = false; // checking on; a mistake asked for; one made
    std::map<unsigned char*, long long> blocks, freed; // start -> size as MallocBuffer rounds it
    std::vector<void*> streams, closed;
    std::vector<int> fds, closedFds;
    long long room = -1, nSize = 0; // bytes from the handles on (-1: no handle); MallocBuffer's ask
    void* pEnding = nullptr; // the stream fclose is given
    Run(lua_State* l, FuzzedDataProvider& i, bool b) : L(l), in(i), bChecked(b) {}

    size_t Index(size_t n) { return in.ConsumeIntegralInRange<size_t>(0, n - 1); }
    template <typename T> T Pick(std::vector<T>& v, bool bRemove = false) // one, or none if empty
    {
        size_t i = v.empty() ? 0 : Index(v.size());
        T x = v.empty() ? T() : v[i];
        if (bRemove && !v.empty())
            v.erase(v.begin() + (long)i);
        return x;
    }
    std::map<unsigned char*, long long>::iterator Live() { return std::next(blocks.begin(), (long)Index(blocks.size())); }
    int AnyBlock(unsigned char*& p, long long& n) // a live (1) or freed (2) block; 0: none
    {
        bool bLive = freed.empty() || (!blocks.empty() && in.ConsumeBool());
        auto& m = bLive ? blocks : freed;
        if (m.empty())
            return 0;
        auto it = std::next(m.begin(), (long)Index(m.size()));
        p = it->first, n = it->second;
        return bLive ? 1 : 2;
    }
    void PushHandle(int need)
    {
        unsigned char* p;
        long long n, d;
        if (bMisuse && AnyBlock(p, n)) { // from a red zone, or near the end and past it
            d = in.ConsumeBool() ? -in.ConsumeIntegralInRange(1LL, kRedZone)
                                 : in.ConsumeIntegralInRange(need ? n - need + 1 : std::max(n - 60, 0LL), n + kRedZone - 1);
            room = room >= 0 ? room : d < 0 || d >= n ? 1 : n - d + 1; // what counts must reach
            bBad = true;
            return lua_pushlightuserdata(L, At(p, d));
        }
        if (bMisuse || blocks.empty() || in.ConsumeIntegralInRange(0, 7) == 0)
            return PushPoolValue(L, in);
        auto it = Live();
        if (it->second < need)
            return lua_pushnil(L); // no room for the field: no handle
        d = in.ConsumeIntegralInRange<long long>(0, it->second - need);
        room = std::min(room < 0 ? it->second : room, it->second - d);
        lua_pushlightuserdata(L, it->first + d);
    }
    void PushStream(bool bClose)
    {
        unsigned char* p;
        long long n;
        void* s = bMisuse ? Pick(closed) : nullptr;
        if (bMisuse && s == nullptr && AnyBlock(p, n))
            s = At(p, in.ConsumeIntegralInRange(-kRedZone, n + kRedZone - 1)); // a buffer as a stream
        if (s != nullptr)
            return bBad = true, lua_pushlightuserdata(L, s);
        if (in.ConsumeIntegralInRange(0, 15) == 0) {
            lua_getfield(L, LUA_GLOBALSINDEX, "io");
            lua_getfield(L, -1, "stdout");
            return lua_remove(L, -2);
        }
        lua_pushlightuserdata(L, pEnding = in.ConsumeBool() ? nullptr : Pick(streams, bClose));
    }
    void PushFree()
    {
        unsigned char* p = nullptr;
        long long n = 0;
        if (bMisuse) { // an interior handle, a freed block, an address never handed out
            int nKind = AnyBlock(p, n);
            long long d = nKind == 1 || in.ConsumeBool() ? in.ConsumeIntegralInRange(-kRedZone, n + kRedZone - 1) : 0;
            bBad = true;
            return lua_pushlightuserdata(L, nKind ? At(p, nKind == 1 && d == 0 ? 1 : d) : (void*)&g_dir);
        }
        auto it = !blocks.empty() && in.ConsumeBool() ? Live() : blocks.end();
        if (it != blocks.end())
            p = it->first, freed[p] = it->second, blocks.erase(it);
        lua_pushlightuserdata(L, p);
    }
    void PushFd(bool bClose)
    {
        int fd;
        if (bMisuse && (bClose || in.ConsumeBool())) { // else the buffer range may be the mistake
            bBad = true;
            if ((fd = Pick(closedFds)) > 0)
                return lua_pushinteger(L, fd);
            return in.ConsumeBool() ? lua_pushnil(L) : lua_newtable(L);
        }
        if ((fd = !bClose && in.ConsumeBool() ? 0 : Pick(fds, bClose)) > 0 && bClose)
            closedFds.push_back(fd);
        lua_pushinteger(L, fd > 0 ? fd : -1);
    }
    void PushArg(char role, int need)
    {
        long long n;
        std::string s;
        if (room < 0 && strchr("oqnNtX", role)) // no handle to fit them to
            return PushPoolValue(L, in);
        switch (role) {
        case 'h': return PushHandle(need);
        case 'o': case 'q': // 0 in a mistake: the handle makes it
            n = bMisuse ? 0 : in.ConsumeIntegralInRange<long long>(0, role == 'q' ? room / 4 - 1 : room - need);
            room = bMisuse ? room : role == 'q' ? 0 : room - n; // what a count after it may use
            return PushCut32(L, in, n);
        case 'n': case 'N':
            n = bMisuse ? room + in.ConsumeIntegralInRange(0, 63)
                : role == 'N' && in.ConsumeIntegralInRange(0, 7) == 0 ? -in.ConsumeIntegralInRange(1, 100)
                : in.ConsumeIntegralInRange(0LL, room);
            return PushCut32(L, in, n);
        case 't': case 'X':
            n = room * (role == 'X' ? 2 : 1);
            s = bMisuse ? std::string((size_t)n, 'a') : in.ConsumeRandomLengthString((size_t)n);
            return lua_pushlstring(L, s.data(), s.size());
        case 'z': nSize = in.ConsumeIntegralInRange(-40, 4096); return PushCut32(L, in, nSize);
        case 'f': return PushFree();
        case 'p': return lua_pushstring(L, in.PickValueInArray(kPaths));
        case 'm': return lua_pushstring(L, in.PickValueInArray(kModes));
        case 'i': return PushCut32(L, in, in.ConsumeIntegralInRange(-1, 3));
        case 's': case 'c': return PushStream(role == 'c');
        case 'd': case 'k': return PushFd(role == 'k');
        default: return PushPoolValue(L, in);
        }
    }
    void CallOne()
    {
        const Global& g = in.PickValueInArray(kGlobals);
        if (!strcmp(g.name, "CopyFile") && in.ConsumeIntegralInRange(0, 7) != 0)
            return; // a shell per call would slow every input down to it
        const char* pNeed = strpbrk(g.roles, "124");
        int nArgs = 0;
        room = -1, pEnding = nullptr, bBad = false;
        bMisuse = bChecked && in.ConsumeIntegralInRange(0, 3) == 0;
        for (const char* r = g.roles; *r != '\0' && r != pNeed; ++r, ++nArgs)
            PushArg(*r, pNeed ? *pNeed - '0' : 0);
        int rc = CallGlobal(L, g.name, nArgs);
        const char* msg = rc == 0 ? "not refused" : lua_isstring(L, -1) ? lua_tostring(L, -1) : "?";
        if (bBad ? rc == 0 || !strstr(msg, g.name)
                 : rc != 0 && strcmp(g.name, "MessageBox") && !(bChecked && !strcmp(g.name, "CopyFile")))
            fprintf(stderr, "%s: %s\n", g.name, msg), abort();
        void* r = rc == 0 ? lua_touserdata(L, -1) : nullptr;
        int fd = rc == 0 && !strcmp(g.name, "LFopen") ? (int)lua_tointeger(L, -1) : -1;
        if (r != nullptr && g.roles[0] == 'z')
            blocks[(unsigned char*)r] = (nSize + 15) / 16 * 16, freed.erase((unsigned char*)r);
        if (r != nullptr && !strcmp(g.name, "fopen"))
            streams.push_back(r), closed.erase(std::remove(closed.begin(), closed.end(), r), closed.end());
        if (fd >= 0)
            fds.push_back(fd), closedFds.erase(std::remove(closedFds.begin(), closedFds.end(), fd), closedFds.end());
        if (pEnding != nullptr && !strcmp(g.name, "fclose"))
            closed.push_back(pEnding);
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
    if (FILE* f = fopen("a", "w"))
        fputs("abc\n", f), fclose(f);
    Run run(NewState(bChecked), in, bChecked);
    lua_pushcfunction(run.L, luaopen_io);
    lua_call(run.L, 0, 0);
    for (int i = 0; i < 32 && in.remaining_bytes() > 0; ++i)
        run.CallOne();
    run.Release();
    lua_close(run.L);
    if (fcntl(STDOUT_FILENO, F_GETFD) < 0)
        abort(); // io.stdout was closed as a stream
    return chdir(g_dir.c_str()) & 0; // the next input starts in the directory
}
