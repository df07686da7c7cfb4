/*
 * checked.cpp - checked mode: a registry per Lua state of the blocks,
 * streams and descriptors its scripts made, and the variants of the globals
 * that consult it before the plain handler runs (docs/checked.md).
 *
 * - One registry per state: a full userdata in the state's registry table,
 *   also the one upvalue of every checked closure, so coroutines of a state
 *   share it, reaching it costs one upvalue read (a lookup in the registry
 *   table instead made a checked GetInt32FrmMem cost 2.3 empty calls rather
 *   than 1.5, in one benchmark run), and states on different
 *   threads share nothing and need no lock. Its __gc, run when the state
 *   closes, reports what was never freed or closed.
 * - Blocks get red zones on both sides. Freed blocks stay allocated and
 *   poisoned in a bounded quarantine, so a late use is recognised as one
 *   and the address is not handed out again meanwhile.
 * - Blocks are found in an array of spans sorted by address (a binary search
 *   over a few contiguous kilobytes beats a tree's pointer chase, and a
 *   block costs one short memmove to add or drop). Spans are disjoint, so
 *   the last one starting before a range's end is the only one the range
 *   can overlap: one lookup decides. The last live block that passed is
 *   tried first, which is what loops over one buffer hit.
 * - Errors are raised with luaL_error, which longjmps over C++ frames: it is
 *   called only where no object with a destructor is alive (messages are
 *   built in plain arrays, map iterators are trivially destructible).
 */
#include "stdafx.h"

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <new>
#include <vector>

#include "checked.h"
#include "luaglue.h"
#include "vodUdid.h"

namespace vud {

namespace {

/* Its address keys the registry in the state's registry table. */
const char kRegistryKey = 0;

/* Red zone bytes on each side of a block: a multiple of 16, so handles keep
 * the alignment new[] gives. Fill bytes make stray writes by the host easy
 * to spot in a debugger; scripts never see them. */
const size_t kRedZone = 32;
const BYTE kRedZoneFill = 0xFA;
const BYTE kFreedFill = 0xFD;

/* Freed blocks kept until the oldest is released for good. */
const size_t kQuarantineBlocks = 4096;
const size_t kQuarantineBytes = (size_t)64 << 20;

/* Bytes "TraceBuffer" reads at most: its trace area. */
const uint64_t kTraceAreaLen = 512;

// Messages are built in arrays of this size; one cut short still says
// enough, so snprintf's count is dropped wherever one is made.
const size_t kMessageLen = 640;

/* Where the script stood: the chunk and line of the nearest Lua function
 * on the call stack (the caller, or the caller of a pcall that called the
 * global directly). */
struct Site {
    char szSource[LUA_IDSIZE];
    int nLine;
};

struct SiteText {
    char sz[LUA_IDSIZE + 16];
};

struct Block {
    BYTE* base; /* what new[] gave: red zone, block, red zone */
    size_t nSize; /* as MallocBuffer rounded it */
    uint64_t nSerial; /* allocation order, for the leak report */
    Site allocated;
    bool bFreed;
    Site freed;
    Block* pNextFreed; /* the quarantine, oldest first */

    uintptr_t Start() const { return (uintptr_t)base; }
    uintptr_t User() const { return (uintptr_t)base + kRedZone; }
    uintptr_t End() const { return User() + nSize + kRedZone; }
};

/* A block with its red zones, [start, end), in the sorted array. */
struct Span {
    uintptr_t start;
    uintptr_t end;
    Block* b;
};

struct Life {
    Site opened;
    Site closed;
};

struct Registry {
    std::vector<Span> spans; /* by start; each Block made with new, owned here */
    const Block* pLastHit = nullptr; /* a live block, or null */
    Block* pQuarantineHead = nullptr;
    Block* pQuarantineTail = nullptr;
    size_t nQuarantineBlocks = 0;
    size_t nQuarantineBytes = 0;
    uint64_t nSerial = 0;
    std::map<const void*, Site> openStreams;
    std::map<const void*, Life> closedStreams;
    std::map<int, Site> openFds;
    std::map<int, Life> closedFds;
};

inline Registry* Reg(lua_State* L)
{
    return static_cast<Registry*>(lua_touserdata(L, lua_upvalueindex(1)));
}

Site CallerSite(lua_State* L)
{
    Site site;
    strcpy(site.szSource, "?");
    site.nLine = -1;
    lua_Debug ar;
    for (int level = 1; lua_getstack(L, level, &ar); ++level) {
        if (lua_getinfo(L, "Sl", &ar) && ar.currentline >= 0) {
            memcpy(site.szSource, ar.short_src, sizeof site.szSource);
            site.szSource[sizeof site.szSource - 1] = '\0';
            site.nLine = ar.currentline;
            break;
        }
    }
    return site;
}

/* "chunk:line", or the chunk alone where there is no line (a C caller). */
SiteText Text(const Site& site)
{
    SiteText t;
    if (site.nLine >= 0)
        (void)snprintf(t.sz, sizeof t.sz, "%s:%d", site.szSource, site.nLine);
    else
        (void)snprintf(t.sz, sizeof t.sz, "%s", site.szSource);
    return t;
}

/* "the 16-byte block allocated at t.lua:3[ and freed at t.lua:5]" */
void DescribeBlock(char* sz, size_t n, const Block& b)
{
    int k = snprintf(sz, n, "the %zu-byte block allocated at %s", b.nSize, Text(b.allocated).sz);
    if (b.bFreed && k > 0 && (size_t)k < n)
        (void)snprintf(sz + k, n - (size_t)k, " and freed at %s", Text(b.freed).sz);
}

inline long long OffsetIn(const Block& b, uintptr_t a)
{
    return (long long)(a - b.User());
}

/* The block whose red zones and inside overlap [a, b), b > a, or null. */
/* The first span starting at or after address a. */
inline std::vector<Span>::iterator SpanFrom(Registry& r, uintptr_t a)
{
    return std::lower_bound(r.spans.begin(), r.spans.end(), a,
                            [](const Span& s, uintptr_t v) { return s.start < v; });
}

Block* Overlapping(Registry& r, uintptr_t a, uintptr_t b)
{
    std::vector<Span>::iterator it = SpanFrom(r, b);
    if (it == r.spans.begin())
        return nullptr;
    --it;
    return it->end > a ? it->b : nullptr;
}

/* Raises sz as a Lua error, after the script's place ("chunk:line: ") as
 * luaL_error puts it, but the place of the nearest Lua function, so that a
 * global called through pcall still names the script's line. sz lives in
 * the caller's plain array: nothing here needs destroying. */
__attribute__((noreturn)) void Refuse(lua_State* L, const char* sz)
{
    Site site = CallerSite(L);
    lua_pushfstring(L, "%s: %s", Text(site).sz, sz);
    lua_error(L);
    abort(); // lua_error does not return
}

__attribute__((noinline, noreturn)) void RefuseRange(lua_State* L, const char* szGlobal,
                                                     const Block& b, uintptr_t a, uint64_t n)
{
    char szBlock[kMessageLen / 2], szMsg[kMessageLen];
    DescribeBlock(szBlock, sizeof szBlock, b);
    (void)snprintf(szMsg, sizeof szMsg, "%s: offset %lld, length %llu %s %s", szGlobal, OffsetIn(b, a),
             (unsigned long long)n, b.bFreed ? "in" : "outside", szBlock);
    Refuse(L, szMsg);
}

__attribute__((noinline)) void CheckRangeSlow(lua_State* L, Registry* r, const char* szGlobal,
                                              uintptr_t a, uint64_t n)
{
    uintptr_t e = a + n < a ? UINTPTR_MAX : a + n;
    const Block* b = Overlapping(*r, a, e);
    if (b == nullptr)
        return; // memory of no block of ours: not judged
    if (!b->bFreed && a >= b->User() && e <= b->User() + b->nSize) {
        r->pLastHit = b;
        return;
    }
    // A range over several blocks is reported by the one it starts in.
    const Block* first = Overlapping(*r, a, a + 1);
    RefuseRange(L, szGlobal, first != nullptr ? *first : *b, a, n);
}

/* Lets through n > 0 bytes at p that lie inside one live block, or that
 * touch no registered block, its red zones or the quarantine. */
inline void CheckRange(lua_State* L, Registry* r, const char* szGlobal, const void* p, uint64_t n)
{
    uintptr_t a = (uintptr_t)p;
    const Block* b = r->pLastHit;
    if (b != nullptr && a - b->User() <= b->nSize && n <= b->nSize - (a - b->User()))
        return;
    CheckRangeSlow(L, r, szGlobal, a, n);
}

/* n bytes from the handle in argument 1 plus nOffset; nothing to check for
 * a null handle or no bytes, which the handlers do not touch. */
inline void CheckAt(lua_State* L, const char* szGlobal, long long nOffset, uint64_t n)
{
    LPBYTE p = ArgHandle(L, 1);
    if (p != NULL && n > 0)
        CheckRange(L, Reg(L), szGlobal, OffsetAddress(p, nOffset), n);
}

inline uint64_t CountLen(int nCount)
{
    return nCount > 0 ? (uint64_t)nCount : 0;
}

/* Bytes that hex text of this length fills: an odd text counts a leading 0. */
inline uint64_t HexBytes(const char* lpStr)
{
    return lpStr != NULL ? (strlen(lpStr) + 1) / 2 : 0;
}

/* ---- lifetimes ------------------------------------------------------------ */

bool Insert(Registry& r, Block* b)
{
    try {
        r.spans.insert(SpanFrom(r, b->Start()), Span{b->Start(), b->End(), b});
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

/* Poisons a freed block and queues it; the oldest leave the quarantine, and
 * the registry, once it holds too much. The newest always stays. */
void Quarantine(Registry& r, Block& b, const Site& site)
{
    // Blocks are kept as addresses, as scripts hold them.
    memset((void*)b.User(), kFreedFill, b.nSize); // NOLINT(performance-no-int-to-ptr)
    b.bFreed = true;
    b.freed = site;
    b.pNextFreed = nullptr;
    if (r.pLastHit == &b)
        r.pLastHit = nullptr;
    if (r.pQuarantineTail != nullptr)
        r.pQuarantineTail->pNextFreed = &b;
    else
        r.pQuarantineHead = &b;
    r.pQuarantineTail = &b;
    ++r.nQuarantineBlocks;
    r.nQuarantineBytes += b.nSize;
    while (r.nQuarantineBlocks > 1 &&
           (r.nQuarantineBlocks > kQuarantineBlocks || r.nQuarantineBytes > kQuarantineBytes)) {
        Block* old = r.pQuarantineHead;
        r.pQuarantineHead = old->pNextFreed;
        --r.nQuarantineBlocks;
        r.nQuarantineBytes -= old->nSize;
        r.spans.erase(SpanFrom(r, old->Start()));
        delete[] old->base;
        delete old;
    }
}

/* Moves key k from the closed to the open set; a registry that cannot grow
 * just leaves the handle unchecked. */
template <typename K>
void NoteOpened(std::map<K, Site>& open, std::map<K, Life>& closed, K k, const Site& site)
{
    closed.erase(k);
    try {
        open[k] = site;
    } catch (const std::bad_alloc&) {
    }
}

template <typename K>
void NoteClosed(std::map<K, Site>& open, std::map<K, Life>& closed, K k, const Site& site)
{
    typename std::map<K, Site>::iterator it = open.find(k);
    if (it == open.end())
        return; // not opened here: not tracked
    try {
        closed[k] = Life{it->second, site};
    } catch (const std::bad_alloc&) {
    }
    open.erase(it);
}

/* The stream at argument i (ArgStream's rule), refused when it is a buffer
 * handle or a stream this state closed. */
FILE* CheckStream(lua_State* L, const char* szGlobal, int i)
{
    Registry* r = Reg(L);
    FILE* s = ArgStream(L, i);
    if (s == NULL)
        return NULL;
    char szMsg[kMessageLen];
    const Block* b = Overlapping(*r, (uintptr_t)s, (uintptr_t)s + 1);
    if (b != nullptr) {
        char szBlock[kMessageLen / 2];
        DescribeBlock(szBlock, sizeof szBlock, *b);
        (void)snprintf(szMsg, sizeof szMsg, "%s: offset %lld of %s is a buffer, not a stream", szGlobal,
                 OffsetIn(*b, (uintptr_t)s), szBlock);
        Refuse(L, szMsg);
    }
    std::map<const void*, Life>::const_iterator it = r->closedStreams.find(s);
    if (it != r->closedStreams.end()) {
        (void)snprintf(szMsg, sizeof szMsg, "%s: the stream opened at %s was closed at %s", szGlobal,
                 Text(it->second.opened).sz, Text(it->second.closed).sz);
        Refuse(L, szMsg);
    }
    return s;
}

/* The descriptor at argument i, refused when it is missing, not a number,
 * or one this state closed with "LFclose" and did not open again. */
int CheckFd(lua_State* L, const char* szGlobal, int i)
{
    Registry* r = Reg(L);
    char szMsg[kMessageLen];
    if (!lua_isnumber(L, i)) {
        (void)snprintf(szMsg, sizeof szMsg, "%s: the descriptor argument is %s, not a number", szGlobal,
                 luaL_typename(L, i));
        Refuse(L, szMsg);
    }
    int fd = ArgInt(L, i);
    std::map<int, Life>::const_iterator it = r->closedFds.find(fd);
    if (it != r->closedFds.end()) {
        (void)snprintf(szMsg, sizeof szMsg, "%s: descriptor %d opened at %s was closed at %s", szGlobal, fd,
                 Text(it->second.opened).sz, Text(it->second.closed).sz);
        Refuse(L, szMsg);
    }
    return fd;
}

/* Characters the shell gives a meaning in an unquoted word. */
struct ShellChar {
    char c;
    const char* szName;
};
const ShellChar kShellChars[] = {
    {' ', "a blank"}, {'\t', "a tab"}, {'\n', "a newline"}, {'\'', "a quote"},
    {'"', "a double quote"}, {';', "a semicolon"}, {'$', "a dollar sign"}, {'`', "a backquote"},
    {'<', "a redirection"}, {'>', "a redirection"}, {'|', "a pipe"}, {'&', "an ampersand"},
    {'\\', "a backslash"}, {'(', "a parenthesis"}, {')', "a parenthesis"},
};

void CheckShellWord(lua_State* L, const char* szPath)
{
    if (szPath == NULL)
        return;
    for (const char* q = szPath; *q != '\0'; ++q) {
        for (const ShellChar& sc : kShellChars) {
            if (*q != sc.c)
                continue;
            char szMsg[kMessageLen];
            (void)snprintf(szMsg, sizeof szMsg,
                     "CopyFile: path \"%s\" holds %s, which the shell would act on", szPath,
                     sc.szName);
            Refuse(L, szMsg);
        }
    }
}

/* ---- the registry's life -------------------------------------------------- */

void ReportLeaks(Registry& r)
{
    std::vector<const Block*> live;
    try {
        for (const Span& s : r.spans)
            if (!s.b->bFreed)
                live.push_back(s.b);
    } catch (const std::bad_alloc&) {
    }
    // In allocation order, as the script made them.
    std::sort(live.begin(), live.end(),
              [](const Block* x, const Block* y) { return x->nSerial < y->nSerial; });
    for (const Block* b : live)
        (void)fprintf(stderr, "vodUdid checked: %zu-byte block allocated at %s never freed\n", b->nSize,
                Text(b->allocated).sz);
}

/* __gc of the registry, when the state closes: live blocks are reported and
 * left as they are (the host may still hold them); quarantined ones go. */
int CloseRegistry(lua_State* L)
{
    Registry* r = static_cast<Registry*>(lua_touserdata(L, 1));
    ReportLeaks(*r);
    for (const Span& s : r->spans) {
        if (s.b->bFreed)
            delete[] s.b->base;
        delete s.b;
    }
    r->~Registry();
    return 0;
}

} // namespace

bool PushCheckedRegistry(lua_State* L)
{
    const char* szOn = getenv("VODUDID_CHECKED");
    if (szOn == NULL || strcmp(szOn, "1") != 0)
        return false;
    lua_pushlightuserdata(L, (void*)&kRegistryKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_type(L, -1) == LUA_TUSERDATA)
        return true; // registered before: the same registry
    lua_pop(L, 1);
    new (lua_newuserdata(L, sizeof(Registry))) Registry(); // empty maps allocate nothing
    lua_createtable(L, 0, 1);
    lua_pushcfunction(L, CloseRegistry);
    lua_setfield(L, -2, "__gc");
    lua_setmetatable(L, -2);
    lua_pushlightuserdata(L, (void*)&kRegistryKey);
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
    return true;
}

/* A checked variant that checks one range from the handle in argument 1
 * (its offset and length by the global's own rule) and then runs the plain
 * handler. */
#define CHECKED_AT(Global, Handler, Offset, Length) \
    int ck_##Global(lua_State* L)                   \
    {                                               \
        CheckAt(L, #Global, Offset, Length);        \
        return Handler(L);                          \
    }

/* ---- base family ---------------------------------------------------------- */

CHECKED_AT(TraceBuffer, l_TraceBuffer, 0, std::min(CountLen(ArgInt(L, 2)), kTraceAreaLen))

/* ---- blocks ---------------------------------------------------------------- */

int ck_MallocBuffer(lua_State* L)
{
    Registry* r = Reg(L);
    long long nBytes = BlockBytes(ArgInt(L, 1));
    if (nBytes < 0)
        return l_MallocBuff(L); // no block: the null handle
    BYTE* base = new (std::nothrow) BYTE[(size_t)nBytes + 2 * kRedZone];
    Block* b = base != NULL ? new (std::nothrow) Block : nullptr;
    if (b != nullptr) {
        *b = Block{base, (size_t)nBytes, r->nSerial++, CallerSite(L), false, Site(), nullptr};
        memset(base, kRedZoneFill, kRedZone);
        memset(base + kRedZone + nBytes, kRedZoneFill, kRedZone);
    }
    if (b == nullptr || !Insert(*r, b)) {
        delete b;
        delete[] base;
        base = NULL;
    }
    PushHandle(L, base != NULL ? base + kRedZone : NULL);
    return 1;
}

int ck_FreeBuffer(lua_State* L)
{
    Registry* r = Reg(L);
    LPBYTE p = ArgHandle(L, 1);
    if (p == NULL)
        return PushedNothing(L); // pushes nothing, as unchecked
    uintptr_t a = (uintptr_t)p;
    Block* b = Overlapping(*r, a, a + 1);
    char szMsg[kMessageLen], szBlock[kMessageLen / 2];
    if (b == nullptr) {
        (void)snprintf(szMsg, sizeof szMsg, "FreeBuffer: %p is not a block of MallocBuffer", (void*)p);
        Refuse(L, szMsg);
    }
    if (a != b->User() || b->bFreed) {
        DescribeBlock(szBlock, sizeof szBlock, *b);
        if (a == b->User())
            (void)snprintf(szMsg, sizeof szMsg, "FreeBuffer: double free of %s", szBlock);
        else
            (void)snprintf(szMsg, sizeof szMsg, "FreeBuffer: offset %lld of %s is not a block's start",
                     OffsetIn(*b, a), szBlock);
        Refuse(L, szMsg);
    }
    Quarantine(*r, *b, CallerSite(L));
    return PushedNothing(L); // pushes nothing, as unchecked
}

/* ---- raw memory -------------------------------------------------------------- */

/* Memcpy and Memcmp: the count's range at the handles in arguments iFirst,
 * then iSecond (the one reported when both are wrong), when both handles
 * are there and the count is positive (the handlers touch nothing
 * otherwise). */
static void CheckTwoRanges(lua_State* L, const char* szGlobal, int iFirst, int iSecond)
{
    LPBYTE pFirst = ArgHandle(L, iFirst), pSecond = ArgHandle(L, iSecond);
    uint64_t n = CountLen(ArgInt(L, 3));
    if (pFirst != NULL && pSecond != NULL && n > 0) {
        CheckRange(L, Reg(L), szGlobal, pFirst, n);
        CheckRange(L, Reg(L), szGlobal, pSecond, n);
    }
}

int ck_Memcpy(lua_State* L)
{
    CheckTwoRanges(L, "Memcpy", 2, 1); // the source first
    return l_Memcpy(L);
}

CHECKED_AT(Memset, l_Memset, 0, CountLen(ArgInt(L, 3)))

int ck_Memcmp(lua_State* L)
{
    CheckTwoRanges(L, "Memcmp", 1, 2);
    return l_Memcmp(L);
}

/* ---- strings and hex text ------------------------------------------------------ */

CHECKED_AT(BufferToChars, l_BuffertoChars, ArgInt(L, 2), CountLen(ArgInt(L, 3)))

int ck_CharsToBuffer(lua_State* L)
{
    const char* lpStr = ArgText(L, 2);
    CheckAt(L, "CharsToBuffer", 0, lpStr != NULL ? strlen(lpStr) : 0);
    return l_CharstoBuffer(L);
}

CHECKED_AT(BufferToString, l_BufferToString, 0, CountLen(ArgInt(L, 2)))
CHECKED_AT(StringtoBuffer, l_StringtoBuffer, 0, HexBytes(ArgText(L, 2)))

int ck_GetMemValue(lua_State* L)
{
    int nOffset = ArgInt(L, 2);
    uint64_t n = CountLen(ArgInt(L, 3));
    // As the handler reads: once nOffset + i passes INT_MAX, from INT_MIN on.
    uint64_t nHead = nOffset > 0 ? (uint64_t)INT_MAX - (uint64_t)nOffset + 1 : n;
    CheckAt(L, "GetMemValue", nOffset, std::min(nHead, n));
    if (nHead < n)
        CheckAt(L, "GetMemValue", INT_MIN, n - nHead);
    return l_GetMemValue(L);
}

CHECKED_AT(SetMemValue, l_SetMemValue, ArgInt(L, 2), HexBytes(ArgText(L, 3)))

/* ---- typed values and bit fields, each with its own offset rule ------------------- */

CHECKED_AT(GetInt32FrmMem, l_GetInt32FrmMem, ArgNumInt(L, 2), 4)
CHECKED_AT(SetInt32FrmMem, l_SetInt32FrmMem, ArgInt(L, 2), 4)
CHECKED_AT(GetInt16FrmMem, l_GetInt16FrmMem, ArgInt(L, 2), 2)
CHECKED_AT(SetInt16FrmMem, l_SetInt16FrmMem, ArgInt(L, 2), 2)
CHECKED_AT(GetInt8FrmMem, l_GetInt8FrmMem, ArgDword(L, 2), 1)
CHECKED_AT(SetInt8FrmMem, l_SetInt8FrmMem, ArgDword(L, 2), 1)
CHECKED_AT(GetByteBitsFrmMem, l_GetByteBitsFrmMem, ArgInt(L, 2), 1)
CHECKED_AT(SetByteBitsFrmMem, l_SetByteBitsFrmMem, ArgInt(L, 2), 1)
CHECKED_AT(GetIntBitsFrmMem, l_GetIntBitsFrmMem, 4LL * ArgInt(L, 2), 4)
CHECKED_AT(SetIntBitsFrmMem, l_SetIntBitsFrmMem, 4LL * ArgInt(L, 2), 4)

/* ---- checksums ---------------------------------------------------------------------- */

CHECKED_AT(calc_crc32, l_calc_crc32, 0, ArgNum32(L, 2))
CHECKED_AT(add_sum, l_add_sum, 0, ArgNum32(L, 2))

/* ---- streams ------------------------------------------------------------------------- */

int ck_fopen(lua_State* L)
{
    l_fopen(L);
    if (void* s = lua_touserdata(L, -1))
        NoteOpened<const void*>(Reg(L)->openStreams, Reg(L)->closedStreams, s, CallerSite(L));
    return 1;
}

int ck_fseek(lua_State* L)
{
    CheckStream(L, "fseek", 1);
    return l_fseek(L);
}

/* fread and fwrite: the stream, then the buffer range when the call moves bytes. */
static void CheckTransfer(lua_State* L, const char* szGlobal)
{
    FILE* s = CheckStream(L, szGlobal, 1);
    LPBYTE p = ArgHandle(L, 2);
    uint64_t n = CountLen(ArgInt(L, 3));
    if (s != NULL && p != NULL && n > 0)
        CheckRange(L, Reg(L), szGlobal, p, n);
}

int ck_fwrite(lua_State* L)
{
    CheckTransfer(L, "fwrite");
    return l_fwrite(L);
}

int ck_fread(lua_State* L)
{
    CheckTransfer(L, "fread");
    return l_fread(L);
}

int ck_fclose(lua_State* L)
{
    FILE* s = CheckStream(L, "fclose", 1);
    l_fclose(L);
    if (s != NULL)
        NoteClosed<const void*>(Reg(L)->openStreams, Reg(L)->closedStreams, s, CallerSite(L));
    return 1;
}

int ck_fgetALine(lua_State* L)
{
    CheckStream(L, "fgetALine", 1);
    return l_fgetALine(L);
}

/* ---- descriptors and file management ---------------------------------------------------- */

int ck_LFopen(lua_State* L)
{
    l_LFOpen(L);
    int fd = (int)lua_tointeger(L, -1);
    if (fd >= 0)
        NoteOpened<int>(Reg(L)->openFds, Reg(L)->closedFds, fd, CallerSite(L));
    return 1;
}

int ck_LFseek(lua_State* L)
{
    CheckFd(L, "LFseek", 1);
    return l_LFSeek(L);
}

/* LFread and LFwrite: the descriptor, then the buffer range. */
static void CheckFdTransfer(lua_State* L, const char* szGlobal)
{
    CheckFd(L, szGlobal, 1);
    LPBYTE p = ArgHandle(L, 2);
    uint64_t n = CountLen(ArgInt(L, 3));
    if (p != NULL && n > 0)
        CheckRange(L, Reg(L), szGlobal, p, n);
}

int ck_LFwrite(lua_State* L)
{
    CheckFdTransfer(L, "LFwrite");
    return l_LFWrite(L);
}

int ck_LFread(lua_State* L)
{
    CheckFdTransfer(L, "LFread");
    return l_LFRead(L);
}

int ck_LFclose(lua_State* L)
{
    int fd = CheckFd(L, "LFclose", 1);
    l_LFClose(L);
    NoteClosed<int>(Reg(L)->openFds, Reg(L)->closedFds, fd, CallerSite(L));
    return 1;
}

int ck_CopyFile(lua_State* L)
{
    CheckShellWord(L, ArgText(L, 1));
    CheckShellWord(L, ArgText(L, 2));
    return l_CopyFile(L);
}

} // namespace vud
