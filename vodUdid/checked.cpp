/*
 * checked.cpp - checked mode: per Lua state, a registry of the blocks and
 * streams its scripts made and the descriptors they opened, and the checked
 * twins that consult it before the plain handlers run (docs/checked.md).
 *
 * - Blocks and stream handles come from address space the registry reserves
 *   for its state and never hands out twice: spans (red zone, block, red
 *   zone) are laid one after another, the pages of ended ones go back to
 *   the kernel, and their addresses stay reserved. A stale handle is
 *   therefore known for ever, named with its sites while a bounded history
 *   holds them.
 * - A handle is judged by provenance: the block whose span holds the handle
 *   is found first (just before a block's start lies its record's index, so
 *   the usual handle costs one look; an index sorted by address finds the
 *   others), and every byte the call touches must then lie in that block,
 *   whatever the offset. A handle in no block of ours must keep out of our
 *   address space, out of the first 64 KiB, and in memory mapped for the
 *   access.
 * - The registry is a full userdata under a string key of the state's
 *   registry table, so every copy of this code in the process (the library
 *   and the require-able module) finds the same one; it starts with a
 *   layout number that each copy checks. It is also the one upvalue of
 *   every twin: reaching it costs an upvalue read.
 * - Errors are raised with lua_error, which longjmps over C++ frames: it is
 *   called only where no object with a destructor is alive (messages are
 *   built in plain arrays).
 */
#include "stdafx.h"

#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include <algorithm>
#include <map>
#include <new>
#include <vector>

#include "checked.h"
#include "luaglue.h"
#include "vodUdid.h"

namespace vud {

namespace {

/* Where every copy of the library finds the state's registry, and what it
 * expects to find there: raise kLayout whenever Registry changes. */
const char kRegistryKey[] = "vodUdid.checked";
const uint32_t kMagic = 0x55646f76; // "vodU"
const uint32_t kLayout = 2;

/* Red zone bytes on each side of a block: a multiple of 16, so handles keep
 * the alignment new[] gives. The record index sits in the last 8 bytes of
 * the leading one. */
const uintptr_t kRedZone = 32;
const uintptr_t kHeader = 8;

/* Address space: reserved 256 MiB at first, then 1, 4, 16 and 64 GiB at a
 * time (less where the system limits it), up to 2 TiB per state over its
 * life; made usable 1 MiB at a time as blocks are laid; given back to the
 * kernel 16 KiB at a time, once no live span touches those bytes. */
const size_t kFirstRegionBytes = (size_t)256 << 20;
const size_t kRegionBytes = (size_t)64 << 30;
const size_t kArenaLimit = (size_t)2 << 40;
const size_t kCommitStep = (size_t)1 << 20;
const size_t kChunk = (size_t)16 << 10;
const size_t kPage = 4096;

/* Null handles moved by an offset land here: never memory of the host. */
const uintptr_t kLowMemory = (uintptr_t)64 << 10;

/* Ended blocks and streams whose sites are kept; older ones are only known
 * to be ended. */
const size_t kHistoryLen = 16384;

/* Script lines kept per allocation site, innermost first, and how far down
 * the call stack they are looked for. */
const int kChainLen = 4;
const int kMaxLevels = 24;

/* Functions whose chunk name is cached. */
const size_t kFunctionCache = 64;

/* Chunk names kept; sites in further chunks show "?". */
const uint32_t kMaxNames = (uint32_t)1 << 16;

// Messages are built in arrays of this size; one cut short still says
// enough, so snprintf's count is dropped wherever one is made.
const size_t kMessageLen = 768;

/* ---- sites ----------------------------------------------------------------- */

/* A script line: a chunk name kept once in Names, and the line (< 0: none,
 * as for a C caller). Formatting waits for a message or report. */
struct Site {
    uint32_t nName;
    int32_t nLine;
};

struct Name {
    char sz[LUA_IDSIZE];
};

/* Chunk names as Lua's debug interface gives them (short_src), each kept
 * once: names[0] is "?", slots an open-addressed hash of the others. */
struct Names {
    std::vector<Name> names;
    std::vector<uint32_t> slots;
};

uint32_t HashName(const char* sz)
{
    uint32_t h = 2166136261u; // FNV-1a
    for (; *sz != '\0'; ++sz)
        h = (h ^ (unsigned char)*sz) * 16777619u;
    return h;
}

void PutSlot(Names& t, uint32_t id)
{
    size_t mask = t.slots.size() - 1, i = HashName(t.names[id].sz) & mask;
    while (t.slots[i] != 0)
        i = (i + 1) & mask;
    t.slots[i] = id;
}

/* The id of a chunk name, added on first sight; 0 ("?") once the table is
 * full or cannot grow. */
uint32_t Intern(Names& t, const char* sz)
{
    if (!t.slots.empty()) {
        size_t mask = t.slots.size() - 1;
        for (size_t i = HashName(sz) & mask; t.slots[i] != 0; i = (i + 1) & mask)
            if (strcmp(t.names[t.slots[i]].sz, sz) == 0)
                return t.slots[i];
    }
    if (t.names.size() >= kMaxNames)
        return 0;
    try {
        if (t.names.empty())
            t.names.push_back(Name{"?"});
        Name n;
        (void)snprintf(n.sz, sizeof n.sz, "%s", sz);
        t.names.push_back(n);
        if (t.names.size() * 2 > t.slots.size()) {
            t.slots.assign(std::max<size_t>(256, t.slots.size() * 2), 0);
            for (uint32_t id = 1; id < t.names.size(); ++id)
                PutSlot(t, id);
        } else {
            PutSlot(t, (uint32_t)(t.names.size() - 1));
        }
        return (uint32_t)(t.names.size() - 1);
    } catch (const std::bad_alloc&) {
        return 0; // a name kept but not hashed is only never found again
    }
}

/* ---- records and the address space ------------------------------------------- */

enum Kind : uint8_t { kBlock, kStream };
enum State : uint8_t { kSpare, kLive, kEnded };

/* A block or a stream handle: live, or ended and still in the history. */
struct Record {
    uintptr_t user;  /* the handle scripts hold */
    uint64_t nSize;  /* as MallocBuffer rounded it; 0 for a stream */
    FILE* stream;    /* what fopen gave, behind a stream handle */
    uint64_t nSerial;
    Site made[kChainLen]; /* allocated or opened; innermost first */
    Site ended;           /* freed or closed */
    Kind kind;
    State state;

    uintptr_t SpanStart() const { return user - kRedZone; }
    uintptr_t SpanLen() const { return nSize + 2 * kRedZone; }
};

/* A stretch of reserved address space. Spans are laid from base up to
 * bump; up to committed the pages may be used; chunkLive counts, per
 * 16 KiB chunk, the live spans that start or end in it. */
struct Region {
    uintptr_t base, end, bump, committed;
    uint16_t* chunkLive;
};

/* Where a live span starts, in the index sorted by address. */
struct Entry {
    uintptr_t start;
    uint32_t nRecord;
};

struct Life {
    Site opened;
    Site closed;
};

/* A Lua function whose chunk name is known. */
struct CachedFunction {
    const void* fn;
    uint32_t nName;
};

struct Registry {
    uint32_t nMagic = kMagic; /* these three first, in every layout */
    uint32_t nLayout = kLayout;
    uint32_t nBytes = sizeof(Registry);
    std::vector<Region> regions;
    size_t nReserved = 0;
    std::vector<Record> records;
    std::vector<uint32_t> spare;   /* records free for reuse */
    std::vector<Entry> index;      /* live spans by start, and some ended ones until swept */
    size_t nStale = 0;             /* index entries no longer live */
    std::vector<uint32_t> history; /* ended records, a ring; historyNext is the oldest once full */
    size_t historyNext = 0;
    Names names;
    CachedFunction functions[kFunctionCache] = {};
    uint64_t nSerial = 0;
    uintptr_t hitStart = 0, hitLen = 0; /* the span of the last block a check passed */
    uint32_t hitRecord = 0;
    std::map<int, Site> openFds;
    std::map<int, Life> closedFds;
    bool bReported = false;
    pthread_t owner = pthread_self();
    Registry* pNext = nullptr; /* the process's list, for reports at exit */
};

inline Registry* RegistryOf(lua_State* L)
{
    return static_cast<Registry*>(lua_touserdata(L, lua_upvalueindex(1)));
}

/* The lines of the Lua functions on the call stack, innermost first, up to
 * n of them; the rest of out is marked empty. C functions (pcall, the
 * global itself) have no line and are passed over. A function's chunk name
 * is looked up once: a small cache maps the function to it, and the
 * registry's environment table keeps each cached function alive, so that
 * its address is never another function's while the cache holds it. */
void CaptureSites(lua_State* L, Registry& r, Site* out, int n)
{
    lua_Debug ar;
    int k = 0;
    for (int level = 1; k < n && level <= kMaxLevels && lua_getstack(L, level, &ar); ++level) {
        if (!lua_getinfo(L, "fl", &ar))
            continue;
        const void* fn = lua_topointer(L, -1);
        if (ar.currentline < 0) {
            lua_pop(L, 1);
            continue;
        }
        size_t slot = ((uintptr_t)fn >> 4) % kFunctionCache;
        if (r.functions[slot].fn != fn) {
            lua_getfenv(L, lua_upvalueindex(1));
            lua_pushvalue(L, -2);
            lua_rawseti(L, -2, (int)slot + 1); // the function stays while it is cached
            lua_pop(L, 1);
            lua_getinfo(L, ">S", &ar); // pops the function
            r.functions[slot] = CachedFunction{fn, Intern(r.names, ar.short_src)};
        } else {
            lua_pop(L, 1);
        }
        out[k++] = Site{r.functions[slot].nName, ar.currentline};
    }
    for (int i = k; i < n; ++i)
        out[i] = Site{0, -1};
}

Region* RegionOf(Registry& r, uintptr_t a)
{
    for (size_t i = r.regions.size(); i-- > 0;) // the newest, where most blocks live, first
        if (a - r.regions[i].base < r.regions[i].end - r.regions[i].base)
            return &r.regions[i];
    return nullptr;
}

inline uintptr_t AlignDown(uintptr_t a, size_t n)
{
    return a / n * n;
}

inline uintptr_t AlignUp(uintptr_t a, size_t n)
{
    return (a + n - 1) / n * n;
}

/* Gives the whole pages within [a, b) back to the kernel; they read as zero
 * after, and stay reserved. */
void ReleasePages(uintptr_t a, uintptr_t b)
{
    a = AlignUp(a, kPage);
    b = AlignDown(b, kPage);
    if (a < b)
        (void)madvise((void*)a, b - a, MADV_DONTNEED); // NOLINT(performance-no-int-to-ptr)
}

inline size_t ChunkOf(const Region& g, uintptr_t a)
{
    return (a - g.base) / kChunk;
}

/* Releases chunk c when no live span touches it and no later one can. */
void ReleaseChunkIfDead(Region& g, size_t c)
{
    uintptr_t a = g.base + c * kChunk;
    if (g.chunkLive[c] == 0 && a + kChunk <= g.bump)
        ReleasePages(a, a + kChunk);
}

enum PlaceResult { kPlaced, kNoAddressSpace, kNoMemory };

/* A fresh region of at least nNeed bytes beside the last one, where the
 * kernel allows: the next size up, or less where the system limits address
 * space (ulimit -v). kNoAddressSpace once the state has reserved all it
 * may. */
PlaceResult Reserve(Registry& r, uint64_t nNeed)
{
    const int kFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
    void* hint = r.regions.empty() ? nullptr : (void*)r.regions.back().end; // NOLINT(performance-no-int-to-ptr)
    size_t nMin = AlignUp(std::max<uint64_t>(nNeed, kCommitStep), kChunk);
    // Regions grow from 256 MiB, four times each time: most states never need
    // more, and small reservations are quick to make and give back.
    size_t nWanted = std::min(kRegionBytes, kFirstRegionBytes << (2 * std::min<size_t>(r.regions.size(), 4)));
    for (size_t n = std::max(nWanted, nMin); n >= nMin; n /= 4) {
        if (r.nReserved + n > kArenaLimit) {
            if (n / 4 < nMin || r.nReserved + nMin > kArenaLimit)
                return kNoAddressSpace;
            continue; // a smaller piece may still fit
        }
        void* base = mmap(hint, n, PROT_NONE, kFlags, -1, 0);
        if (base == MAP_FAILED)
            continue;
        size_t nCounts = n / kChunk * sizeof(uint16_t);
        void* counts = mmap(nullptr, nCounts, PROT_READ | PROT_WRITE, kFlags, -1, 0);
        if (counts != MAP_FAILED) {
            try {
                uintptr_t b = (uintptr_t)base;
                r.regions.push_back(Region{b, b + n, b, b, (uint16_t*)counts});
                r.nReserved += n;
                return kPlaced;
            } catch (const std::bad_alloc&) {
            }
            (void)munmap(counts, nCounts);
        }
        (void)munmap(base, n);
        return kNoMemory;
    }
    return kNoMemory;
}

/* Lays a span of nLen bytes at the current region's bump, moving on to a
 * fresh region when it does not fit; *pStart is where it starts. */
PlaceResult Place(Registry& r, uint64_t nLen, uintptr_t* pStart)
{
    Region* g = r.regions.empty() ? nullptr : &r.regions.back();
    if (g == nullptr || nLen > g->end - g->bump) {
        if (g != nullptr) { // the rest of this region is never used: its last chunk may go
            uintptr_t bump = g->bump;
            g->bump = g->end;
            if (bump > g->base)
                ReleaseChunkIfDead(*g, ChunkOf(*g, bump - 1));
        }
        PlaceResult result = Reserve(r, nLen);
        if (result != kPlaced)
            return result;
        g = &r.regions.back();
    }
    uintptr_t start = g->bump, end = start + nLen;
    if (end > g->committed) {
        size_t n = std::min<uintptr_t>(AlignUp(end - g->committed, kCommitStep), g->end - g->committed);
        // Mapped over the reservation without a commitment charge, like the
        // reservation itself. A step for small blocks is filled at once: the
        // spans never come back to a page, so each page would otherwise
        // fault on its own; a large block's pages wait until touched.
        int populate = n == kCommitStep ? MAP_POPULATE : 0;
        void* p = mmap((void*)g->committed, n, PROT_READ | PROT_WRITE, // NOLINT(performance-no-int-to-ptr)
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED | populate, -1, 0);
        if (p == MAP_FAILED)
            return kNoMemory;
        g->committed += n;
    }
    g->bump = end;
    ++g->chunkLive[ChunkOf(*g, start)];
    if (ChunkOf(*g, end - 1) != ChunkOf(*g, start))
        ++g->chunkLive[ChunkOf(*g, end - 1)];
    *pStart = start;
    return kPlaced;
}

/* The span [start, end) ended: its pages go back, but for those of chunks
 * that other live spans still touch. */
void Unplace(Registry& r, uintptr_t start, uintptr_t end)
{
    Region* g = RegionOf(r, start);
    size_t first = ChunkOf(*g, start), last = ChunkOf(*g, end - 1);
    --g->chunkLive[first];
    ReleaseChunkIfDead(*g, first);
    if (last != first) {
        --g->chunkLive[last];
        ReleasePages(g->base + (first + 1) * kChunk, g->base + last * kChunk); // wholly this span's
        ReleaseChunkIfDead(*g, last);
    }
}

/* Room for n elements, doubling: reserve alone grows to exactly n. */
template <typename T>
void Grow(std::vector<T>& v, size_t n)
{
    if (n > v.capacity())
        v.reserve(std::max(n, 2 * v.capacity()));
}

/* Makes a live record for a span of nSize bytes plus red zones, with its
 * index written just before the handle; null when the registry or the
 * address space cannot grow (*pResult says which). */
Record* Make(lua_State* L, Registry& r, Kind kind, uint64_t nSize, PlaceResult* pResult)
{
    uint32_t nRecord;
    try {
        Grow(r.records, r.records.size() + 1);
        Grow(r.index, r.index.size() + 1);
        Grow(r.spare, r.records.size() + 1); // an ended record always finds room here
        if (r.history.capacity() < kHistoryLen)
            r.history.reserve(kHistoryLen);
    } catch (const std::bad_alloc&) {
        *pResult = kNoMemory;
        return nullptr;
    }
    uintptr_t start = 0;
    *pResult = Place(r, nSize + 2 * kRedZone, &start);
    if (*pResult != kPlaced)
        return nullptr;
    if (!r.spare.empty()) {
        nRecord = r.spare.back();
        r.spare.pop_back();
    } else {
        nRecord = (uint32_t)r.records.size();
        r.records.push_back(Record()); // reserved above: does not throw
    }
    Record& rec = r.records[nRecord];
    rec = Record{start + kRedZone, nSize, nullptr, r.nSerial++, {}, Site{0, -1}, kind, kLive};
    CaptureSites(L, r, rec.made, kChainLen);
    uint64_t nHeader = nRecord;
    memcpy((void*)(rec.user - kHeader), &nHeader, sizeof nHeader); // NOLINT(performance-no-int-to-ptr)
    Entry e{start, nRecord};
    if (r.index.empty() || r.index.back().start < start)
        r.index.push_back(e);
    else // a region the kernel placed below an earlier one
        r.index.insert(std::upper_bound(r.index.begin(), r.index.end(), start,
                                        [](uintptr_t a, const Entry& x) { return a < x.start; }),
                       e);
    return &rec;
}

/* Drops index entries of ended spans once they are many. */
void Sweep(Registry& r)
{
    if (r.nStale <= r.index.size() / 2 + 64)
        return;
    r.index.erase(std::remove_if(r.index.begin(), r.index.end(),
                                 [&r](const Entry& e) {
                                     const Record& rec = r.records[e.nRecord];
                                     return rec.state != kLive || rec.SpanStart() != e.start;
                                 }),
                  r.index.end());
    r.nStale = 0;
}

/* A block freed or a stream closed: its site noted, its pages given back,
 * its record kept in the history, whose oldest then leaves. */
void End(lua_State* L, Registry& r, Record& rec)
{
    uint32_t nRecord = (uint32_t)(&rec - r.records.data());
    CaptureSites(L, r, &rec.ended, 1);
    rec.state = kEnded;
    if (r.hitLen != 0 && r.hitRecord == nRecord)
        r.hitLen = 0;
    Unplace(r, rec.SpanStart(), rec.SpanStart() + rec.SpanLen());
    ++r.nStale;
    Sweep(r);
    if (r.history.size() < kHistoryLen) {
        r.history.push_back(nRecord); // capacity reserved by Make
        return;
    }
    uint32_t nOldest = r.history[r.historyNext];
    r.history[r.historyNext] = nRecord;
    r.historyNext = (r.historyNext + 1) % kHistoryLen;
    r.records[nOldest].state = kSpare;
    r.spare.push_back(nOldest); // capacity reserved by Make
}

/* ---- finding the block of an address ---------------------------------------------- */

enum Where { kForeign, kInRecord, kEndedUnnamed, kUnused };

struct Found {
    Where where;
    Record* rec; /* kInRecord: the live or ended record whose span holds the address */
};

Found Resolve(Registry& r, uintptr_t a)
{
    Region* g = RegionOf(r, a);
    if (g == nullptr)
        return Found{kForeign, nullptr};
    if (a >= g->bump)
        return Found{kUnused, nullptr};
    // A handle as MallocBuffer or fopen gave it: its record's index lies
    // just before it. Anything else there must fail the record's check.
    uint64_t nRecord = UINT64_MAX;
    if (a - g->base >= kHeader)
        memcpy(&nRecord, (const void*)(a - kHeader), sizeof nRecord); // NOLINT(performance-no-int-to-ptr)
    if (nRecord < r.records.size() && r.records[nRecord].user == a && r.records[nRecord].state != kSpare)
        return Found{kInRecord, &r.records[nRecord]};
    // Elsewhere in a live span: the last span starting at or before a.
    std::vector<Entry>::const_iterator it = std::upper_bound(
        r.index.begin(), r.index.end(), a, [](uintptr_t v, const Entry& e) { return v < e.start; });
    if (it != r.index.begin()) {
        Record& rec = r.records[(--it)->nRecord];
        if (rec.state == kLive && rec.SpanStart() == it->start && a - it->start < rec.SpanLen())
            return Found{kInRecord, &rec};
    }
    // An ended one: the history, searched only on the way to an error.
    for (uint32_t i : r.history) {
        Record& rec = r.records[i];
        if (a - rec.SpanStart() < rec.SpanLen())
            return Found{kInRecord, &rec};
    }
    return Found{kEndedUnnamed, nullptr};
}

/* Whether the s.nLen bytes of s lie in the live block rec. */
inline bool InBlock(const Record& rec, const Span& s)
{
    long long nRel = (long long)((uintptr_t)s.p - rec.user) + s.nOffset;
    return s.nLen == 0 || (nRel >= 0 && (uint64_t)nRel <= rec.nSize && s.nLen <= rec.nSize - (uint64_t)nRel);
}

/* Whether [a, e) is mapped with read (and write) access, as the kernel
 * lists the process's mappings. Asked only for handles into no block of
 * ours, which are rare. */
bool Mapped(uintptr_t a, uintptr_t e, bool bWrite)
{
    FILE* f = fopen("/proc/self/maps", "re");
    if (f == NULL)
        return false;
    char szLine[256];
    uintptr_t need = a;
    while (need < e && fgets(szLine, sizeof szLine, f) != NULL) {
        bool bWhole = strchr(szLine, '\n') != NULL;
        // "lo-hi perms ...", addresses in hex.
        char* q = szLine;
        unsigned long lo = strtoul(q, &q, 16), hi = *q == '-' ? strtoul(q + 1, &q, 16) : 0;
        char cRead = q[0] == ' ' ? q[1] : '\0', cWrite = cRead != '\0' ? q[2] : '\0';
        while (!bWhole && fgets(szLine, sizeof szLine, f) != NULL) // the rest of a long path
            bWhole = strchr(szLine, '\n') != NULL;
        if (hi <= need)
            continue;
        if (lo > need || cRead != 'r' || (bWrite && cWrite != 'w'))
            break; // a hole, or memory the access would fault on
        need = hi;
    }
    (void)fclose(f);
    return need >= e;
}

/* ---- messages ------------------------------------------------------------------------ */

/* "t.lua:3", or "t.lua:3 < t.lua:20 < ..." for a chain, innermost first. */
void FormatSites(char* sz, size_t n, const Names& names, const Site* sites, int k)
{
    size_t at = 0;
    sz[0] = '\0';
    for (int i = 0; i < k && at < n && (i == 0 || sites[i].nLine >= 0); ++i) {
        const char* szName = sites[i].nName < names.names.size() ? names.names[sites[i].nName].sz : "?";
        int m = sites[i].nLine >= 0 ? snprintf(sz + at, n - at, "%s%s:%d", i ? " < " : "", szName, sites[i].nLine)
                                    : snprintf(sz + at, n - at, "%s%s", i ? " < " : "", szName);
        at += m > 0 ? (size_t)m : 0;
    }
}

/* "the 16-byte block allocated at t.lua:3[ and freed at t.lua:5]", or
 * "the stream opened at t.lua:2[ and closed at t.lua:9]". */
void Describe(char* sz, size_t n, const Registry& r, const Record& rec)
{
    char szMade[kMessageLen / 4], szEnded[kMessageLen / 8];
    FormatSites(szMade, sizeof szMade, r.names, rec.made, kChainLen);
    FormatSites(szEnded, sizeof szEnded, r.names, &rec.ended, 1);
    bool bEnded = rec.state == kEnded;
    if (rec.kind == kStream)
        (void)snprintf(sz, n, "the stream opened at %s%s%s", szMade, bEnded ? " and closed at " : "", bEnded ? szEnded : "");
    else
        (void)snprintf(sz, n, "the %llu-byte block allocated at %s%s%s", (unsigned long long)rec.nSize, szMade,
                 bEnded ? " and freed at " : "", bEnded ? szEnded : "");
}

inline long long OffsetIn(const Record& rec, uintptr_t a)
{
    return (long long)(a - rec.user);
}

/* Whether Lua itself would drop an error raised here: at lua_close, the
 * finalizers (__gc) run on the main thread with nothing below them, and
 * what they raise is lost. A function at the bottom of the main thread's
 * stack that is no main chunk and takes no object whose finalizer it is
 * may be one the host called directly, which sees the error itself. */
bool LuaWouldDropIt(lua_State* L)
{
    lua_Debug ar;
    int nBottom = 0;
    for (int level = 1; lua_getstack(L, level, &ar); ++level) {
        if (!lua_getinfo(L, "S", &ar) || strcmp(ar.what, "C") == 0)
            return false; // pcall, or C code of the host's: someone catches it
        nBottom = level;
    }
    if (nBottom == 0 || !lua_getstack(L, nBottom, &ar) || !lua_getinfo(L, "S", &ar) ||
        strcmp(ar.what, "main") == 0)
        return false;
    int nTop = lua_gettop(L);
    bool bMain = lua_pushthread(L) == 1;
    bool bDropped = bMain;
    if (bMain && lua_getlocal(L, &ar, 1) != NULL) { // a finalizer gets its object first
        bDropped = false;
        if (lua_getmetatable(L, -1)) {
            lua_getfield(L, -1, "__gc");
            lua_getinfo(L, "f", &ar);
            bDropped = lua_rawequal(L, -1, -2) != 0;
        }
    }
    lua_settop(L, nTop);
    return bDropped;
}

/* Raises sz as a Lua error after the script's place ("chunk:line: "), as
 * luaL_error puts it but the place of the nearest Lua function, so that a
 * global called through pcall still names the script's line. Where Lua
 * would drop the error, it goes to standard error as well. sz lives in the
 * caller's plain array: nothing here needs destroying. */
__attribute__((noreturn)) void Refuse(lua_State* L, const char* sz)
{
    lua_Debug ar;
    char szPlace[LUA_IDSIZE + 16] = "?";
    for (int level = 1; lua_getstack(L, level, &ar); ++level) {
        if (lua_getinfo(L, "Sl", &ar) && ar.currentline >= 0) {
            (void)snprintf(szPlace, sizeof szPlace, "%s:%d", ar.short_src, ar.currentline);
            break;
        }
    }
    lua_pushfstring(L, "%s: %s", szPlace, sz);
    if (LuaWouldDropIt(L))
        (void)fprintf(stderr, "vodUdid checked: %s\n", lua_tostring(L, -1));
    lua_error(L);
    abort(); // lua_error does not return
}

__attribute__((noreturn)) void RefuseType(lua_State* L, const char* szGlobal, int i, const char* szWant)
{
    char szMsg[kMessageLen];
    (void)snprintf(szMsg, sizeof szMsg, "%s: argument %d is a %s, not %s", szGlobal, i, luaL_typename(L, i), szWant);
    Refuse(L, szMsg);
}

/* Refuses a handle argument that is neither a light userdata nor nil. */
inline void CheckHandleType(lua_State* L, const char* szGlobal, int i)
{
    int t = lua_type(L, i);
    if (t != LUA_TLIGHTUSERDATA && t > LUA_TNIL)
        RefuseType(L, szGlobal, i, "a handle");
}

/* ---- spans ------------------------------------------------------------------------------ */

__attribute__((noinline, noreturn)) void RefuseForeign(lua_State* L, const char* szGlobal, const Span& s,
                                                       const char* szWhy)
{
    char szMsg[kMessageLen];
    (void)snprintf(szMsg, sizeof szMsg, "%s: %soffset %lld, length %llu from %p %s", szGlobal, s.szRole, s.nOffset,
             (unsigned long long)s.nLen, (void*)s.p, szWhy);
    Refuse(L, szMsg);
}

/* A handle in no block of ours: the bytes must keep out of the first
 * 64 KiB and of our address space, and be mapped for the access. */
void CheckForeign(lua_State* L, Registry& r, const char* szGlobal, const Span& s)
{
    uintptr_t a = (uintptr_t)SpanStart(s), e = a + s.nLen;
    if (a < kLowMemory || e < a || e <= kLowMemory)
        RefuseForeign(L, szGlobal, s, e < a ? "runs past the end of the address space"
                                            : "lies in the first 64 KiB of the address space");
    for (const Region& g : r.regions)
        if (a < g.end && e > g.base)
            RefuseForeign(L, szGlobal, s, "reaches into checked mode's blocks from outside them");
    if (!Mapped(a, e, s.bWrite))
        RefuseForeign(L, szGlobal, s, s.bWrite ? "is not mapped for writing" : "is not mapped for reading");
}

__attribute__((noinline)) void CheckSpanSlow(lua_State* L, Registry& r, const char* szGlobal, const Span& s)
{
    if (lua_type(L, s.iArg) != LUA_TLIGHTUSERDATA)
        return CheckHandleType(L, szGlobal, s.iArg);
    if (s.p == NULL)
        return;
    uintptr_t a = (uintptr_t)s.p;
    Found f = Resolve(r, a);
    char szMsg[kMessageLen], szWhat[kMessageLen / 2];
    switch (f.where) {
    case kForeign:
        if (s.nLen > 0)
            CheckForeign(L, r, szGlobal, s);
        return;
    case kEndedUnnamed:
        (void)snprintf(szMsg, sizeof szMsg, "%s: %shandle %p lies in a freed block", szGlobal, s.szRole, (void*)s.p);
        Refuse(L, szMsg);
    case kUnused:
        (void)snprintf(szMsg, sizeof szMsg, "%s: %shandle %p lies in checked mode's address space, in no block", szGlobal,
                 s.szRole, (void*)s.p);
        Refuse(L, szMsg);
    case kInRecord:
        break;
    }
    const Record& rec = *f.rec;
    if (rec.kind == kBlock && rec.state == kLive && InBlock(rec, s)) {
        r.hitStart = rec.SpanStart();
        r.hitLen = rec.SpanLen();
        r.hitRecord = (uint32_t)(&rec - r.records.data());
        return;
    }
    Describe(szWhat, sizeof szWhat, r, rec);
    if (rec.kind == kStream) {
        (void)snprintf(szMsg, sizeof szMsg, "%s: %shandle %p is %s, not a buffer", szGlobal, s.szRole, (void*)s.p, szWhat);
        Refuse(L, szMsg);
    }
    (void)snprintf(szMsg, sizeof szMsg, "%s: %soffset %lld, length %llu %s %s", szGlobal, s.szRole,
             OffsetIn(rec, a) + s.nOffset, (unsigned long long)s.nLen, rec.state == kLive ? "outside" : "in", szWhat);
    Refuse(L, szMsg);
}

/* Lets a span through when its handle is nil, null, or of a live block that
 * holds every byte it touches, or when it lies in mapped memory of no block
 * of ours. The last block passed is tried first: loops use one buffer. */
inline void CheckSpan(lua_State* L, const char* szGlobal, const Span& s)
{
    // An address in the last block passed can only be a light userdata:
    // Lua's own objects never lie in our address space.
    Registry& r = *RegistryOf(L);
    if ((uintptr_t)s.p - r.hitStart < r.hitLen && InBlock(r.records[r.hitRecord], s))
        return;
    CheckSpanSlow(L, r, szGlobal, s);
}

/* ---- streams and descriptors ----------------------------------------------------------------- */

/* "fread: the stream opened at t.lua:5 was closed at t.lua:8" */
void ClosedStreamMessage(char* sz, size_t n, const Registry& r, const Record& rec, const char* szGlobal)
{
    char szOpened[kMessageLen / 4], szClosed[kMessageLen / 4];
    FormatSites(szOpened, sizeof szOpened, r.names, rec.made, kChainLen);
    FormatSites(szClosed, sizeof szClosed, r.names, &rec.ended, 1);
    (void)snprintf(sz, n, "%s: the stream opened at %s was closed at %s", szGlobal, szOpened, szClosed);
}

/* The FILE* behind the stream argument at i: a stream handle of this
 * state's fopen, still open; the host's standard streams; or, for nil or
 * none, the null stream as unchecked. *ppRecord, where asked, is the
 * record of a stream handle of ours. */
FILE* CheckedStream(lua_State* L, const char* szGlobal, int i, Record** ppRecord = nullptr)
{
    int t = lua_type(L, i);
    if (t <= LUA_TNIL)
        return NULL;
    if (t != LUA_TLIGHTUSERDATA)
        RefuseType(L, szGlobal, i, "a stream");
    void* p = lua_touserdata(L, i);
    if (p == NULL)
        return NULL;
    Registry& r = *RegistryOf(L);
    Found f = Resolve(r, (uintptr_t)p);
    char szMsg[kMessageLen], szWhat[kMessageLen / 2];
    if (f.where == kInRecord) {
        const Record& rec = *f.rec;
        Describe(szWhat, sizeof szWhat, r, rec);
        if (rec.kind == kBlock)
            (void)snprintf(szMsg, sizeof szMsg, "%s: offset %lld of %s is a buffer, not a stream", szGlobal,
                     OffsetIn(rec, (uintptr_t)p), szWhat);
        else if (rec.user != (uintptr_t)p)
            (void)snprintf(szMsg, sizeof szMsg, "%s: offset %lld of %s is not a stream handle", szGlobal,
                     OffsetIn(rec, (uintptr_t)p), szWhat);
        else if (rec.state == kEnded)
            ClosedStreamMessage(szMsg, sizeof szMsg, r, rec, szGlobal);
        else {
            if (ppRecord != nullptr)
                *ppRecord = f.rec;
            return rec.stream;
        }
        Refuse(L, szMsg);
    }
    if (f.where == kForeign && (p == stdin || p == stdout || p == stderr))
        return (FILE*)p;
    (void)snprintf(szMsg, sizeof szMsg, f.where == kEndedUnnamed ? "%s: %p is a stream closed long ago" : "%s: %p is not a stream of fopen",
             szGlobal, p);
    Refuse(L, szMsg);
}

/* The descriptor at argument i, refused when it is missing, not a number,
 * or one this state closed with "LFclose" and did not open again. */
int CheckFd(lua_State* L, const char* szGlobal, int i)
{
    Registry& r = *RegistryOf(L);
    char szMsg[kMessageLen], szOpened[kMessageLen / 4], szClosed[kMessageLen / 4];
    if (!lua_isnumber(L, i)) {
        (void)snprintf(szMsg, sizeof szMsg, "%s: the descriptor argument is %s, not a number", szGlobal, luaL_typename(L, i));
        Refuse(L, szMsg);
    }
    int fd = ArgInt(L, i);
    std::map<int, Life>::const_iterator it = r.closedFds.find(fd);
    if (it != r.closedFds.end()) {
        FormatSites(szOpened, sizeof szOpened, r.names, &it->second.opened, 1);
        FormatSites(szClosed, sizeof szClosed, r.names, &it->second.closed, 1);
        (void)snprintf(szMsg, sizeof szMsg, "%s: descriptor %d opened at %s was closed at %s", szGlobal, fd, szOpened,
                 szClosed);
        Refuse(L, szMsg);
    }
    return fd;
}

#if !defined(VODUDID_SHELL_COPY) || VODUDID_SHELL_COPY
/* Characters the shell gives a meaning in an unquoted word: CopyFile's
 * command goes through the shell in this build. */
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
            (void)snprintf(szMsg, sizeof szMsg, "CopyFile: path \"%s\" holds %s, which the shell would act on", szPath,
                     sc.szName);
            Refuse(L, szMsg);
        }
    }
}
#endif

/* ---- the registry's life ------------------------------------------------------------------------ */

pthread_mutex_t g_registriesLock = PTHREAD_MUTEX_INITIALIZER;
Registry* g_registries = nullptr; /* made by this copy of the code, not yet closed */
pthread_once_t g_atExitOnce = PTHREAD_ONCE_INIT;

/* Blocks still allocated, one stderr line each in allocation order; once
 * per registry, at close or at exit, whichever comes first. */
void ReportLeaks(Registry& r)
{
    if (r.bReported)
        return;
    r.bReported = true;
    std::vector<const Record*> live;
    try {
        for (const Record& rec : r.records)
            if (rec.state == kLive && rec.kind == kBlock)
                live.push_back(&rec);
    } catch (const std::bad_alloc&) {
    }
    std::sort(live.begin(), live.end(), [](const Record* x, const Record* y) { return x->nSerial < y->nSerial; });
    char szMade[kMessageLen];
    for (const Record* rec : live) {
        FormatSites(szMade, sizeof szMade, r.names, rec->made, kChainLen);
        (void)fprintf(stderr, "vodUdid checked: %llu-byte block allocated at %s never freed\n",
                      (unsigned long long)rec->nSize, szMade);
    }
}

/* At exit (os.exit, or a host that never closes its states), the leaks of
 * the states this thread made: another thread's state may be running. */
void ReportAtExit()
{
    (void)pthread_mutex_lock(&g_registriesLock);
    for (Registry* r = g_registries; r != nullptr; r = r->pNext)
        if (pthread_equal(r->owner, pthread_self()))
            ReportLeaks(*r);
    (void)pthread_mutex_unlock(&g_registriesLock);
}

void Enlist(Registry* r)
{
    (void)pthread_once(&g_atExitOnce, [] { (void)atexit(ReportAtExit); });
    (void)pthread_mutex_lock(&g_registriesLock);
    r->pNext = g_registries;
    g_registries = r;
    (void)pthread_mutex_unlock(&g_registriesLock);
}

void Delist(Registry* r)
{
    (void)pthread_mutex_lock(&g_registriesLock);
    for (Registry** p = &g_registries; *p != nullptr; p = &(*p)->pNext)
        if (*p == r) {
            *p = r->pNext;
            break;
        }
    (void)pthread_mutex_unlock(&g_registriesLock);
}

/* __gc of the registry, when the state closes: leaks are reported, and the
 * address space goes back but for regions holding a block never freed (the
 * host may still hold it). */
int CloseRegistry(lua_State* L)
{
    Registry* r = static_cast<Registry*>(lua_touserdata(L, 1));
    ReportLeaks(*r);
    Delist(r);
    for (const Region& g : r->regions) {
        bool bKeep = false;
        for (const Record& rec : r->records)
            bKeep = bKeep || (rec.state == kLive && rec.kind == kBlock && rec.user - g.base < g.end - g.base);
        if (!bKeep) {
            (void)munmap((void*)g.base, g.end - g.base); // NOLINT(performance-no-int-to-ptr)
            (void)munmap(g.chunkLive, (g.end - g.base) / kChunk * sizeof(uint16_t));
        }
    }
    r->~Registry();
    return 0;
}

} // namespace

bool PushCheckedRegistry(lua_State* L)
{
    lua_getfield(L, LUA_REGISTRYINDEX, kRegistryKey);
    if (lua_type(L, -1) == LUA_TUSERDATA) { // registered before, maybe by another copy of this code
        const Registry* r = static_cast<const Registry*>(lua_touserdata(L, -1));
        if (lua_objlen(L, -1) < 3 * sizeof(uint32_t) || r->nMagic != kMagic || r->nLayout != kLayout ||
            r->nBytes != sizeof(Registry))
            luaL_error(L, "vodUdid: this state's checked mode was set up by a library whose registry layout differs "
                          "from this one's (%d): load one version of vodUdid per process", (int)kLayout);
        return true;
    }
    lua_pop(L, 1);
    const char* szOn = getenv("VODUDID_CHECKED");
    if (szOn == NULL || strcmp(szOn, "1") != 0)
        return false;
    Registry* r = new (lua_newuserdata(L, sizeof(Registry))) Registry(); // empty containers allocate nothing
    lua_createtable(L, (int)kFunctionCache, 0);
    lua_setfenv(L, -2);
    lua_createtable(L, 0, 1);
    lua_pushcfunction(L, CloseRegistry);
    lua_setfield(L, -2, "__gc");
    lua_setmetatable(L, -2);
    lua_pushvalue(L, -1);
    lua_setfield(L, LUA_REGISTRYINDEX, kRegistryKey);
    Enlist(r);
    return true;
}

/* ---- base family ----------------------------------------------------------------------------------- */

int ck_TraceBuffer(lua_State* L)
{
    CheckSpan(L, "TraceBuffer", sp_TraceBuffer(L));
    return l_TraceBuffer(L);
}

/* ---- blocks ------------------------------------------------------------------------------------------ */

int ck_MallocBuff(lua_State* L)
{
    long long nBytes = BlockBytes(ArgInt(L, 1));
    if (nBytes < 0)
        return l_MallocBuff(L); // no block: the null handle
    PlaceResult result;
    Record* rec = Make(L, *RegistryOf(L), kBlock, (uint64_t)nBytes, &result);
    if (result == kNoAddressSpace)
        Refuse(L, "MallocBuffer: checked mode has used up the 2 TiB of address space it may reserve for this "
                  "state");
    PushHandle(L, rec != nullptr ? (void*)rec->user : NULL); // NOLINT(performance-no-int-to-ptr)
    return 1; // out of memory: the null handle, as unchecked
}

int ck_FreeBuffer(lua_State* L)
{
    CheckHandleType(L, "FreeBuffer", 1);
    LPBYTE p = ArgHandle(L, 1);
    if (p == NULL)
        return PushedNothing(L); // pushes nothing, as unchecked
    Registry& r = *RegistryOf(L);
    Found f = Resolve(r, (uintptr_t)p);
    char szMsg[kMessageLen], szWhat[kMessageLen / 2];
    if (f.where == kInRecord) {
        Record& rec = *f.rec;
        if (rec.kind == kBlock && rec.state == kLive && rec.user == (uintptr_t)p) {
            End(L, r, rec);
            return PushedNothing(L); // pushes nothing, as unchecked
        }
        Describe(szWhat, sizeof szWhat, r, rec);
        if (rec.kind == kStream)
            (void)snprintf(szMsg, sizeof szMsg, "FreeBuffer: handle %p is %s, not a buffer", (void*)p, szWhat);
        else if (rec.user == (uintptr_t)p)
            (void)snprintf(szMsg, sizeof szMsg, "FreeBuffer: double free of %s", szWhat);
        else
            (void)snprintf(szMsg, sizeof szMsg, "FreeBuffer: offset %lld of %s is not a block's start",
                     OffsetIn(rec, (uintptr_t)p), szWhat);
    } else {
        (void)snprintf(szMsg, sizeof szMsg, f.where == kEndedUnnamed ? "FreeBuffer: %p lies in a freed block"
                                                               : "FreeBuffer: %p is not a block of MallocBuffer",
                 (void*)p);
    }
    Refuse(L, szMsg);
}

/* "GetBuffer" touches no memory: only what it is given is judged. */
int ck_GetBuffer(lua_State* L)
{
    CheckHandleType(L, "GetBuffer", 1);
    return l_GetBuffer(L);
}

/* ---- raw memory ------------------------------------------------------------------------------------ */

int ck_Memcpy(lua_State* L)
{
    SpanPair s = sp_Memcpy(L);
    CheckSpan(L, "Memcpy", s.second); // the source first
    CheckSpan(L, "Memcpy", s.first);
    return l_Memcpy(L);
}

int ck_Memset(lua_State* L)
{
    CheckSpan(L, "Memset", sp_Memset(L));
    return l_Memset(L);
}

int ck_Memcmp(lua_State* L)
{
    SpanPair s = sp_Memcmp(L);
    CheckSpan(L, "Memcmp", s.first);
    CheckSpan(L, "Memcmp", s.second);
    return l_Memcmp(L);
}

/* ---- strings and hex text ------------------------------------------------------------------------- */

int ck_BuffertoChars(lua_State* L)
{
    CheckSpan(L, "BufferToChars", sp_BuffertoChars(L));
    return l_BuffertoChars(L);
}

int ck_CharstoBuffer(lua_State* L)
{
    CheckSpan(L, "CharsToBuffer", sp_CharstoBuffer(L));
    return l_CharstoBuffer(L);
}

int ck_BufferToString(lua_State* L)
{
    CheckSpan(L, "BufferToString", sp_BufferToString(L));
    return l_BufferToString(L);
}

int ck_StringtoBuffer(lua_State* L)
{
    CheckSpan(L, "StringtoBuffer", sp_StringtoBuffer(L));
    return l_StringtoBuffer(L);
}

int ck_GetMemValue(lua_State* L)
{
    SpanPair s = sp_GetMemValue(L);
    CheckSpan(L, "GetMemValue", s.first);
    CheckSpan(L, "GetMemValue", s.second);
    return l_GetMemValue(L);
}

int ck_SetMemValue(lua_State* L)
{
    CheckSpan(L, "SetMemValue", sp_SetMemValue(L));
    return l_SetMemValue(L);
}

/* ---- typed values and bit fields ------------------------------------------------------------------ */

int ck_GetInt32FrmMem(lua_State* L)
{
    Span s = sp_GetInt32FrmMem(L);
    CheckSpan(L, "GetInt32FrmMem", s);
    return at_GetInt32FrmMem(L, s);
}

int ck_SetInt32FrmMem(lua_State* L)
{
    Span s = sp_SetInt32FrmMem(L);
    CheckSpan(L, "SetInt32FrmMem", s);
    return at_SetInt32FrmMem(L, s);
}

int ck_GetInt16FrmMem(lua_State* L)
{
    Span s = sp_GetInt16FrmMem(L);
    CheckSpan(L, "GetInt16FrmMem", s);
    return at_GetInt16FrmMem(L, s);
}

int ck_SetInt16FrmMem(lua_State* L)
{
    Span s = sp_SetInt16FrmMem(L);
    CheckSpan(L, "SetInt16FrmMem", s);
    return at_SetInt16FrmMem(L, s);
}

int ck_GetInt8FrmMem(lua_State* L)
{
    Span s = sp_GetInt8FrmMem(L);
    CheckSpan(L, "GetInt8FrmMem", s);
    return at_GetInt8FrmMem(L, s);
}

int ck_SetInt8FrmMem(lua_State* L)
{
    Span s = sp_SetInt8FrmMem(L);
    CheckSpan(L, "SetInt8FrmMem", s);
    return at_SetInt8FrmMem(L, s);
}

int ck_GetByteBitsFrmMem(lua_State* L)
{
    Span s = sp_GetByteBitsFrmMem(L);
    CheckSpan(L, "GetByteBitsFrmMem", s);
    return at_GetByteBitsFrmMem(L, s);
}

int ck_SetByteBitsFrmMem(lua_State* L)
{
    Span s = sp_SetByteBitsFrmMem(L);
    CheckSpan(L, "SetByteBitsFrmMem", s);
    return at_SetByteBitsFrmMem(L, s);
}

int ck_GetIntBitsFrmMem(lua_State* L)
{
    Span s = sp_GetIntBitsFrmMem(L);
    CheckSpan(L, "GetIntBitsFrmMem", s);
    return at_GetIntBitsFrmMem(L, s);
}

int ck_SetIntBitsFrmMem(lua_State* L)
{
    Span s = sp_SetIntBitsFrmMem(L);
    CheckSpan(L, "SetIntBitsFrmMem", s);
    return at_SetIntBitsFrmMem(L, s);
}

/* ---- checksums --------------------------------------------------------------------------------------- */

int ck_calc_crc32(lua_State* L)
{
    CheckSpan(L, "calc_crc32", sp_calc_crc32(L));
    return l_calc_crc32(L);
}

int ck_add_sum(lua_State* L)
{
    CheckSpan(L, "add_sum", sp_add_sum(L));
    return l_add_sum(L);
}

/* ---- streams ------------------------------------------------------------------------------------------ */

/* The script gets a handle of the registry's for the FILE* opened, so that
 * a closed stream is never taken for a later one the C library placed at
 * the same address. */
int ck_fopen(lua_State* L)
{
    l_fopen(L);
    FILE* stream = static_cast<FILE*>(lua_touserdata(L, -1));
    if (stream == NULL)
        return 1; // the null handle, as unchecked
    PlaceResult result;
    Record* rec = Make(L, *RegistryOf(L), kStream, 0, &result);
    if (rec == nullptr) {
        (void)fclose(stream);
        Refuse(L, "fopen: checked mode has no room left for a stream handle");
    }
    rec->stream = stream;
    lua_pop(L, 1);
    PushHandle(L, (void*)rec->user); // NOLINT(performance-no-int-to-ptr)
    return 1;
}

int ck_fseek(lua_State* L)
{
    return SeekStream(L, CheckedStream(L, "fseek", 1));
}

int ck_fwrite(lua_State* L)
{
    FILE* stream = CheckedStream(L, "fwrite", 1);
    CheckSpan(L, "fwrite", sp_fwrite(L));
    return WriteStream(L, stream);
}

int ck_fread(lua_State* L)
{
    FILE* stream = CheckedStream(L, "fread", 1);
    CheckSpan(L, "fread", sp_fread(L));
    return ReadStream(L, stream);
}

int ck_fclose(lua_State* L)
{
    Record* rec = nullptr; // stays null for the null stream and the host's own
    FILE* stream = CheckedStream(L, "fclose", 1, &rec);
    CloseStream(L, stream);
    if (rec != nullptr)
        End(L, *RegistryOf(L), *rec);
    return 1;
}

int ck_fgetALine(lua_State* L)
{
    return ReadLine(L, CheckedStream(L, "fgetALine", 1));
}

/* ---- descriptors and file management -------------------------------------------------------------------- */

int ck_LFOpen(lua_State* L)
{
    l_LFOpen(L);
    int fd = (int)lua_tointeger(L, -1);
    if (fd < 0)
        return 1;
    Registry& r = *RegistryOf(L);
    Site site;
    CaptureSites(L, r, &site, 1);
    r.closedFds.erase(fd);
    try {
        r.openFds[fd] = site;
    } catch (const std::bad_alloc&) { // a registry that cannot grow leaves it unchecked
    }
    return 1;
}

int ck_LFSeek(lua_State* L)
{
    CheckFd(L, "LFseek", 1);
    return l_LFSeek(L);
}

int ck_LFWrite(lua_State* L)
{
    CheckFd(L, "LFwrite", 1);
    CheckSpan(L, "LFwrite", sp_LFWrite(L));
    return l_LFWrite(L);
}

int ck_LFRead(lua_State* L)
{
    CheckFd(L, "LFread", 1);
    CheckSpan(L, "LFread", sp_LFRead(L));
    return l_LFRead(L);
}

int ck_LFClose(lua_State* L)
{
    int fd = CheckFd(L, "LFclose", 1);
    l_LFClose(L);
    Registry& r = *RegistryOf(L);
    std::map<int, Site>::iterator it = r.openFds.find(fd);
    if (it == r.openFds.end())
        return 1; // not opened here: not tracked
    Site closed;
    CaptureSites(L, r, &closed, 1);
    try {
        r.closedFds[fd] = Life{it->second, closed};
    } catch (const std::bad_alloc&) {
    }
    r.openFds.erase(it);
    return 1;
}

/* Where CopyFile runs cp without a shell, nothing acts on these characters. */
int ck_CopyFile(lua_State* L)
{
#if !defined(VODUDID_SHELL_COPY) || VODUDID_SHELL_COPY
    CheckShellWord(L, ArgText(L, 1));
    CheckShellWord(L, ArgText(L, 2));
#endif
    return l_CopyFile(L);
}

} // namespace vud
