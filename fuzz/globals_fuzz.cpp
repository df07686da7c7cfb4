/* Every global through lua_pcall, arguments drawn by role: handles only into
 * blocks this input made, streams and descriptors only those it opened, paths
 * from a fixed set in a private directory (CopyFile runs a shell, as root),
 * io.stdout as a stream. No call may fault, nor raise a Lua error but
 * MessageBox and, checked, CopyFile on "a b" and a value of the wrong type.
 * Checked, one call in four makes a mistake the checker must refuse naming
 * the global (far and unsigned offsets among them), and now and then
 * thousands of blocks come and go between calls. */
#include <sys/stat.h>

#include <map>

#include "fuzz_common.h"

using namespace fz;

namespace {

/* Roles: x any value; h handle; o offset leaving the digit's bytes; q word index
 * of a 4-byte field; n count within the room, N or negative; t text within it, X
 * hex text; z block size; f block to free; p path; m mode; i mode of LFopen; s
 * stream, c one to close; d descriptor, k one to close. */
struct Global { const char* name; const char* roles; };
const Global kGlobals[] = {
    {"MessageBox", "xxx"}, {"Exit", "xx"}, {"DebugTrace", "x"}, {"TraceBuffer", "hN"}, {"CompareInt64", "xxxx"},
    {"Int64Add", "xxxx"}, {"Int64Dec", "xxxx"}, {"GetExecPath", ""}, {"GetCurrentDirectory", ""},
    {"SetCurrentDirectory", "p"}, {"GetFileNameFromPath", "x"}, {"MallocBuffer", "z"}, {"FreeBuffer", "f"},
    {"GetBuffer", "xo"}, {"Memcpy", "hhN"}, {"Memset", "hxN"}, {"Memcmp", "hhN"}, {"BufferToString", "hN"},
    {"StringtoBuffer", "hX"}, {"GetMemValue", "hoN"}, {"SetMemValue", "hoX"}, {"BufferToChars", "hoN"},
    {"CharsToBuffer", "ht"}, {"GetInt32FrmMem", "ho4"}, {"SetInt32FrmMem", "hox4"}, {"GetInt16FrmMem", "ho2"},
    {"SetInt16FrmMem", "hox2"}, {"GetByteBitsFrmMem", "hoxx1"}, {"SetByteBitsFrmMem", "hoxxx1"}, {"fopen", "pm"},
    {"GetIntBitsFrmMem", "hqxx4"}, {"SetIntBitsFrmMem", "hqxxx4"}, {"GetInt8FrmMem", "ho1"}, {"fclose", "c"},
    {"SetInt8FrmMem", "hox1"}, {"calc_crc32", "hn"}, {"add_sum", "hnx"}, {"fseek", "sxx"}, {"LFopen", "pi"},
    {"fwrite", "shN"}, {"fread", "shN"}, {"fgetALine", "s"}, {"LFseek", "dxxx"}, {"LFwrite", "dhN"},
    {"LFread", "dhN"}, {"LFclose", "k"}, {"DeleteFile", "p"}, {"CopyFile", "pp"},
};
const char* const kPaths[] = {"a", "b", "d", "d/c", "", "none/x", "a b"};
const char* const kModes[] = {"r", "rb", "w", "a+", "r+", "wb+", "zz", ""};
const long long kRedZone = 32; // the checker's, on each side of a block
const long long kFar[] = {0, 0, 1 << 20, -(1 << 20), 2147483647, -2147483647 - 1}; // 4 GiB away read unsigned
std::string g_dir; // the private directory; every input starts in it

/* What an input made, by address or descriptor: a block's size as
 * MallocBuffer rounds it, and whether it was freed or closed. */
struct Item { long long n; bool bDead; };
using Pool = std::map<long long, Item>;

void* At(long long p, long long d) { return (void*)(uintptr_t)(p + d); }

struct Run {
    lua_State* L;
    FuzzedDataProvider& in;
    bool bChecked, bMisuse = false, bBad = false; // checking on; a mistake asked for; one made
    Pool blocks, streams, fds;
    long long room = -1, nSize = 0; // bytes from the handles on (-1: no handle); MallocBuffer's ask
    Run(lua_State* l, FuzzedDataProvider& i) : L(l), in(i), bChecked(getenv("VODUDID_CHECKED")) {} // NewState's

    /* One entry, live (0), dead (1) or either (-1); null when there is none. */
    Pool::value_type* Any(Pool& m, int nDead)
    {
        std::vector<Pool::value_type*> v;
        for (auto& e : m)
            if (nDead < 0 || e.second.bDead == (nDead == 1))
                v.push_back(&e);
        return v.empty() ? nullptr : v[in.ConsumeIntegralInRange<size_t>(0, v.size() - 1)];
    }
    /* An address the checker must refuse: in a block's red zones, near a live
     * block's end (counts then reach past it), anywhere in a freed one. */
    void* Bad(Pool::value_type& b, int need)
    {
        long long n = b.second.n, d = b.second.bDead ? in.ConsumeIntegralInRange(-kRedZone, n + kRedZone - 1)
            : in.ConsumeBool() ? -in.ConsumeIntegralInRange(1LL, kRedZone)
            : in.ConsumeIntegralInRange(need ? n - need + 1 : std::max(n - 60, 1LL), n + kRedZone - 1);
        room = room >= 0 ? room : d < 0 || d >= n ? 1 : n - d + 1; // what counts must reach
        bBad = true;
        return At(b.first, d);
    }
    void PushHandle(int need)
    {
        Pool::value_type* b = Any(blocks, bMisuse ? -1 : 0);
        if (b != nullptr && bMisuse)
            return lua_pushlightuserdata(L, Bad(*b, need));
        if (b == nullptr || in.ConsumeIntegralInRange(0, 7) == 0)
            return PushPoolValue(L, in);
        if (b->second.n < need)
            return lua_pushnil(L); // no room for the field: no handle
        long long d = in.ConsumeIntegralInRange<long long>(0, b->second.n - need);
        room = std::min(room < 0 ? b->second.n : room, b->second.n - d);
        lua_pushlightuserdata(L, At(b->first, d));
    }
    /* A live one of the pool or none, gone when it is to be closed. */
    long long Take(Pool& m, bool bClose)
    {
        Pool::value_type* e = in.ConsumeBool() ? nullptr : Any(m, 0);
        if (e != nullptr)
            e->second.bDead = bClose;
        return e != nullptr ? e->first : 0;
    }
    void PushStream(bool bClose)
    {
        Pool::value_type *s = bMisuse ? Any(streams, 1) : nullptr, *b = bMisuse ? Any(blocks, -1) : nullptr;
        if (s != nullptr || b != nullptr) // a closed stream, or a buffer as a stream
            return bBad = true, lua_pushlightuserdata(L, s ? At(s->first, 0) : Bad(*b, 0));
        if (in.ConsumeIntegralInRange(0, 15) == 0)
            return (void)luaL_dostring(L, "return io.stdout"); // the null stream: standard output stays open
        lua_pushlightuserdata(L, At(Take(streams, bClose), 0));
    }
    void PushFree()
    {
        Pool::value_type* b = bMisuse ? Any(blocks, -1) : nullptr;
        if (bMisuse) // an interior handle, a freed block, an address never handed out
            return bBad = true, lua_pushlightuserdata(L, b ? Bad(*b, 0) : &g_dir);
        lua_pushlightuserdata(L, At(Take(blocks, true), 0));
    }
    void PushFd(bool bClose)
    {
        if (bMisuse && (bClose || in.ConsumeBool())) { // else the buffer range may be the mistake
            Pool::value_type* f = Any(fds, 1);
            bBad = true;
            return f ? lua_pushinteger(L, (lua_Integer)f->first) : in.ConsumeBool() ? lua_pushnil(L) : lua_newtable(L);
        }
        long long fd = Take(fds, bClose);
        lua_pushinteger(L, fd > 0 ? (lua_Integer)fd : -1);
    }
    void PushArg(char role, int need)
    {
        long long n;
        if (room < 0 && strchr("oqnNtX", role)) // no handle to fit them to
            return PushPoolValue(L, in);
        switch (role) {
        case 'h': return PushHandle(need);
        case 'o': case 'q': // in a mistake the handle makes it: 0, or far enough to leave any block
            n = bMisuse ? in.PickValueInArray(kFar)
                : in.ConsumeIntegralInRange<long long>(0, role == 'q' ? room / 4 - 1 : room - need);
            room = bMisuse ? room : role == 'q' ? 0 : room - n; // what a count after it may use
            return PushCut32(L, in, n);
        case 'n': case 'N':
            n = bMisuse ? room + in.ConsumeIntegralInRange(0, 63)
                : role == 'N' && in.ConsumeIntegralInRange(0, 7) == 0 ? -in.ConsumeIntegralInRange(1, 100)
                : in.ConsumeIntegralInRange(0LL, room);
            return PushCut32(L, in, n);
        case 't': case 'X':
            n = room * (role == 'X' ? 2 : 1);
            return Push(L, bMisuse ? std::string((size_t)n, 'a') : in.ConsumeRandomLengthString((size_t)n));
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
        if (bChecked && in.ConsumeIntegralInRange(0, 63) == 0) { // a long run of blocks come and gone
            lua_pushinteger(L, in.ConsumeIntegralInRange(1, 5000));
            lua_setglobal(L, "n");
            (void)luaL_dostring(L, "for _ = 1, n do FreeBuffer(MallocBuffer(16)) end");
            return (void)lua_settop(L, 0);
        }
        const Global& g = in.PickValueInArray(kGlobals);
        if (!strcmp(g.name, "CopyFile") && in.ConsumeIntegralInRange(0, 7) != 0)
            return; // a shell per call would slow every input down to it
        const char* pNeed = strpbrk(g.roles, "124");
        int nArgs = 0;
        room = -1, bBad = false;
        bMisuse = bChecked && in.ConsumeIntegralInRange(0, 3) == 0;
        for (const char* r = g.roles; *r != '\0' && r != pNeed; ++r, ++nArgs)
            PushArg(*r, pNeed ? *pNeed - '0' : 0);
        int rc = CallGlobal(L, g.name, nArgs);
        const char* msg = rc == 0 ? "not refused" : lua_isstring(L, -1) ? lua_tostring(L, -1) : "?";
        // Checked, a value of another type where a handle or a stream belongs is refused too.
        bool bTyped = bChecked && (strstr(msg, ", not a handle") || strstr(msg, ", not a stream"));
        if (bBad ? rc == 0 || !strstr(msg, g.name)
                 : rc != 0 && strcmp(g.name, "MessageBox") && !(bChecked && !strcmp(g.name, "CopyFile")) && !bTyped)
            fprintf(stderr, "%s: %s\n", g.name, msg), abort();
        Pool* made = g.roles[0] == 'z' ? &blocks : !strcmp(g.name, "fopen") ? &streams
                   : !strcmp(g.name, "LFopen") ? &fds : nullptr;
        long long r = lua_isnumber(L, -1) ? lua_tointeger(L, -1) : (long long)(uintptr_t)lua_touserdata(L, -1);
        if (rc == 0 && made != nullptr && r > 0)
            (*made)[r] = Item{(nSize + 15) / 16 * 16, false};
        lua_settop(L, 0);
    }
    void Release() // through the globals: the checked mode owns its blocks
    {
        const std::pair<Pool*, const char*> kEnds[] = {{&blocks, "FreeBuffer"}, {&streams, "fclose"},
                                                       {&fds, "LFclose"}};
        for (auto& [pool, name] : kEnds)
            for (auto& e : *pool)
                if (!e.second.bDead)
                    pool == &fds ? Call(L, name, (double)e.first) : Call(L, name, At(e.first, 0));
        lua_settop(L, 0);
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char szTemplate[] = "/tmp/vodudid-fuzz-XXXXXX";
    g_dir = mkdtemp(szTemplate);
    atexit([] { (void)!system(("rm -rf " + g_dir).c_str()); }); // the directory goes with us
    return chdir(g_dir.c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    Run run(NewState(in.ConsumeBool()), in);
    for (const char* p : kPaths) // the same files for every input
        unlink(p);
    rmdir("d");
    mkdir("d", 0700);
    if (FILE* f = fopen("a", "w"))
        fputs("abc\n", f), fclose(f);
    for (int i = 0; i < 32 && in.remaining_bytes() > 0; ++i)
        run.CallOne();
    run.Release();
    lua_close(run.L);
    if (fcntl(STDOUT_FILENO, F_GETFD) < 0)
        abort(); // io.stdout was closed as a stream
    return chdir(g_dir.c_str()) & 0; // the next input starts in the directory
}
