/*
 * buffer.cpp - the buffer family: raw blocks handed to scripts, copies,
 * fills and compares, bytes to and from Lua strings and hex text, typed and
 * bit-field access, CRC-32 and the 32-bit word sum.
 *
 * Scripts are trusted to pass live handles and ranges that lie inside their
 * blocks. What can be checked for free is checked, so that the mistakes a
 * script makes most easily never fault the host: a null handle (nil, a
 * number, a missing argument) is never dereferenced, a count that is
 * negative after the cut to 32 bits touches nothing, sizes are computed in
 * 64 bits, and no allocation throws. docs/buffer.md lists these choices for
 * script authors.
 *
 * The byte loops themselves (CRC-32, word sum, hex both ways) live in
 * kernels/ (memkernels.h); the handlers here only fetch, guard and push.
 */
#include "stdafx.h"

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <new>

#include "checked.h"
#include "luaglue.h"
#include "memkernels.h"
#include "vodUdid.h"

typedef unsigned char u8;
typedef unsigned int u32;

using namespace vud;

// Every handler here was declared extern "C" in vodUdid.h, which gives its
// definition C linkage too: no extern "C" block is needed around them.

namespace {

/* Values in blocks are little-endian (the host's order) and may sit at any
 * address: memcpy reads and writes them without alignment faults or
 * aliasing trouble, and compiles to one plain move. */
template <typename T>
inline T LoadValue(const BYTE* p)
{
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
inline void StoreValue(BYTE* p, T v)
{
    memcpy(p, &v, sizeof v);
}

/* The T at the start of a span, or 0 for a null handle: a getter never
 * dereferences null. */
template <typename T>
inline T LoadAt(const Span& s)
{
    return s.p != NULL ? LoadValue<T>(SpanStart(s)) : T(0);
}

/* Stores v at the start of a span; a null handle stores nothing. */
template <typename T>
inline void StoreAt(const Span& s, T v)
{
    if (s.p != NULL)
        StoreValue<T>(SpanStart(s), v);
}

/* Bit fields: the mask has (nBits mod 32) bits, the shift is nBitsOfst mod
 * 32, both on unsigned 32-bit values, so width 0 and 32 are the empty field. */
inline u32 FieldMask(int nBits)
{
    return (1u << ((u32)nBits & 31u)) - 1u;
}

inline u32 FieldShift(int nBitsOfst)
{
    return (u32)nBitsOfst & 31u;
}

inline u32 GetField(u32 container, int nBitsOfst, int nBits)
{
    return (container >> FieldShift(nBitsOfst)) & FieldMask(nBits);
}

/* The container with the field replaced by the low bits of aVal; bits
 * shifted past bit 31 are lost, and the caller keeps only the bits its
 * container has. */
inline u32 SetField(u32 container, int nBitsOfst, int nBits, int aVal)
{
    u32 s = FieldShift(nBitsOfst), mask = FieldMask(nBits);
    container &= ~(mask << s);
    return container | (((u32)aVal & mask) << s);
}

/* Hex output up to this many bytes is built on the stack: the usual few
 * bytes of a "GetMemValue" need no free-store round trip. */
const size_t kHexStackBytes = 256;

/* The name "calc_crc32"'s trace line starts with. Scripts and their logs
 * match on it, so it is fixed here rather than taken from __func__, which
 * would change with the handler's name. */
const char kCrcTraceName[] = "l_calc_crc32";

/*
 * Working memory for hex output longer than the stack buffer. Lua raises
 * its errors with longjmp: if it has no memory for the result string,
 * lua_pushlstring never returns, and a block held only by a local pointer
 * would be lost. So the block hangs from a small full userdata on the
 * stack whose __gc gives it back: on the normal path the handler frees it
 * at once, after an error the collector does. The block itself comes from
 * the state's own allocator, which reports failure by returning null (no
 * error), so a count too large for memory can still push nil.
 */
struct HexScratch {
    char* szText;
    size_t nBytes;
};

const char kHexScratchMeta[] = "vodUdid.HexScratch";

void FreeHexScratch(lua_State* L, HexScratch* s)
{
    void* ud;
    lua_Alloc alloc = lua_getallocf(L, &ud);
    if (s->szText != NULL)
        alloc(ud, s->szText, s->nBytes, 0);
    s->szText = NULL;
}

int GcHexScratch(lua_State* L)
{
    FreeHexScratch(L, (HexScratch*)lua_touserdata(L, 1));
    return 0;
}

/* Pushes the guard (which may raise before anything is taken) and takes
 * nBytes into it; null when the allocator refuses. */
char* PushHexScratch(lua_State* L, size_t nBytes)
{
    HexScratch* s = (HexScratch*)lua_newuserdata(L, sizeof(HexScratch));
    s->szText = NULL;
    s->nBytes = nBytes;
    if (luaL_newmetatable(L, kHexScratchMeta)) {
        lua_pushcfunction(L, GcHexScratch);
        lua_setfield(L, -2, "__gc");
    }
    lua_setmetatable(L, -2);
    void* ud;
    lua_Alloc alloc = lua_getallocf(L, &ud);
    s->szText = (char*)alloc(ud, NULL, 0, nBytes);
    return s->szText;
}

/* Pushes the 2 * n hex digits that encode writes into the buffer it is
 * given: one on the stack for the usual few bytes, else working memory, or
 * nil when that cannot be had. */
template <typename Encode>
void PushHexDigits(lua_State* L, size_t n, Encode encode)
{
    if (n <= kHexStackBytes) {
        char szText[2 * kHexStackBytes];
        encode(szText);
        lua_pushlstring(L, szText, 2 * n);
        return;
    }
    char* szText = PushHexScratch(L, 2 * n); // at most 4 GiB: no overflow
    if (szText != NULL) {
        encode(szText);
        lua_pushlstring(L, szText, 2 * n);
        FreeHexScratch(L, (HexScratch*)lua_touserdata(L, -2));
    } else {
        lua_pushnil(L);
    }
    lua_remove(L, -2); // the guard
}

/* The lower-case hex digits of the n bytes at p: the empty string for no
 * handle or no bytes. */
void PushHex(lua_State* L, const BYTE* p, size_t n)
{
    if (p == NULL || n == 0)
        return lua_pushlstring(L, "", 0);
    PushHexDigits(L, n, [p, n](char* szText) { HexEncode(p, n, szText); });
}

/* The same over "GetMemValue"'s two pieces, one after the other. */
void PushHexWrapped(lua_State* L, const SpanPair& s)
{
    size_t nHead = s.first.nLen, n = nHead + s.second.nLen;
    if (s.first.p == NULL || n == 0)
        return lua_pushlstring(L, "", 0);
    PushHexDigits(L, n, [&s, nHead, n](char* szText) {
        HexEncode(SpanStart(s.first), nHead, szText);
        HexEncode(SpanStart(s.second), n - nHead, szText + 2 * nHead);
    });
}

/* Bytes the hex text at argument i fills: it counts up to its first zero
 * byte, and an odd text reads as if a digit 0 stood in front of it. */
uint64_t HexTextBytes(lua_State* L, int i)
{
    size_t nMax = 0;
    const char* lpStr = ArgTextLen(L, i, &nMax);
    return lpStr != NULL ? (strnlen(lpStr, nMax) + 1) / 2 : 0;
}

} // namespace

/* ---- exported checksums --------------------------------------------------- */

u32 calc_crc32(void* buffer, u32 length)
{
    if (buffer == NULL)
        return 0;
    return Crc32((const u8*)buffer, length);
}

u32 AddSum(u8* buffer, u32 len, u32 org)
{
    if (buffer == NULL)
        return org;
    return WordSum(buffer, len, org);
}

/* ---- blocks ------------------------------------------------------------- */

int l_MallocBuff(lua_State* L)
{
    long long nBytes = BlockBytes(ArgInt(L, 1));
    BYTE* lpBuffer = NULL; // a request that cannot be met hands back a null handle
    if (nBytes >= 0)
        lpBuffer = new (std::nothrow) BYTE[(size_t)nBytes]; // 0 bytes: still a distinct block
    PushHandle(L, lpBuffer);
    return 1;
}

int l_FreeBuffer(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    delete[] lpBuffer; // a null handle does nothing
    return PushedNothing(L); // pushes nothing
}

int l_GetBuffer(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nOffset = ArgInt(L, 2);
    PushHandle(L, OffsetAddress(lpBuffer, nOffset));
    return 1;
}

/* ---- raw memory ----------------------------------------------------------- */

/* The count's bytes at both handles: "Memcpy" writes the destination and
 * reads the source; checked mode reports the source first. */
SpanPair vud::sp_Memcpy(lua_State* L)
{
    uint64_t n = CountLen(ArgInt(L, 3));
    return SpanPair{WriteSpan(L, 1, 0, n, "destination "), ReadSpan(L, 2, 0, n, "source ")};
}

Span vud::sp_Memset(lua_State* L)
{
    return WriteSpan(L, 1, 0, CountLen(ArgInt(L, 3)));
}

SpanPair vud::sp_Memcmp(lua_State* L)
{
    uint64_t n = CountLen(ArgInt(L, 3));
    return SpanPair{ReadSpan(L, 1, 0, n, "first "), ReadSpan(L, 2, 0, n, "second ")};
}

int l_Memcpy(lua_State* L)
{
    SpanPair s = sp_Memcpy(L);
    // memmove: overlapping ranges copy as if through a temporary.
    if (s.first.p != NULL && s.second.p != NULL && s.first.nLen > 0)
        memmove(s.first.p, s.second.p, s.first.nLen);
    return PushedNothing(L); // pushes nothing: the count comes back
}

int l_Memset(lua_State* L)
{
    Span s = sp_Memset(L);
    BYTE nValue = (BYTE)ArgNumInt(L, 2); // the low 8 bits: 65.9 -> 0x41, -1 -> 0xFF
    if (s.p != NULL && s.nLen > 0)
        memset(s.p, nValue, s.nLen);
    return PushedNothing(L); // pushes nothing
}

int l_Memcmp(lua_State* L)
{
    SpanPair s = sp_Memcmp(L);
    int nRet = 0;
    if (s.first.p != NULL && s.second.p != NULL && s.first.nLen > 0)
        nRet = memcmp(s.first.p, s.second.p, s.first.nLen);
    lua_pushinteger(L, nRet);
    return 1;
}

/* ---- bytes to and from Lua strings ---------------------------------------- */

/* All nLen bytes from the offset, even where a zero byte ends the string
 * sooner: they are what the global is asked to read. */
Span vud::sp_BuffertoChars(lua_State* L)
{
    return ReadSpan(L, 1, ArgInt(L, 2), CountLen(ArgInt(L, 3)));
}

/* The text up to its first zero byte; no terminator is written. */
Span vud::sp_CharstoBuffer(lua_State* L)
{
    const char* lpStr = ArgText(L, 2);
    return WriteSpan(L, 1, 0, lpStr != NULL ? strlen(lpStr) : 0);
}

int l_BuffertoChars(lua_State* L)
{
    Span s = sp_BuffertoChars(L);
    if (s.p == NULL || s.nLen == 0) {
        lua_pushlstring(L, "", 0);
        return 1;
    }
    // The string ends at the first zero byte among the bytes: found with
    // memchr instead of a zeroed copy, which also reads no further.
    const BYTE* src = SpanStart(s);
    const void* pZero = memchr(src, 0, s.nLen);
    lua_pushlstring(L, (const char*)src, pZero != NULL ? (size_t)((const BYTE*)pZero - src) : s.nLen);
    return 1;
}

int l_CharstoBuffer(lua_State* L)
{
    Span s = sp_CharstoBuffer(L);
    if (s.p != NULL && s.nLen > 0) // a null text has no bytes
        memcpy(s.p, ArgText(L, 2), s.nLen); // NOLINT(bugprone-not-null-terminated-result)
    return PushedNothing(L); // pushes nothing: the text comes back
}

/* ---- hex text --------------------------------------------------------------- */

Span vud::sp_BufferToString(lua_State* L)
{
    return ReadSpan(L, 1, 0, CountLen(ArgInt(L, 2)));
}

/* Byte i sits at handle + (nOffset + i), the sum an int: once it passes
 * 2147483647 it goes on from -2147483648, 4 GiB back. Only a positive offset
 * can get there, and only once within 2147483647 bytes. */
SpanPair vud::sp_GetMemValue(lua_State* L)
{
    int nOffset = ArgInt(L, 2);
    uint64_t n = CountLen(ArgInt(L, 3));
    uint64_t nHead = nOffset > 0 ? std::min(n, (uint64_t)INT_MAX - (uint64_t)nOffset + 1) : n;
    return SpanPair{ReadSpan(L, 1, nOffset, nHead), ReadSpan(L, 1, INT_MIN, n - nHead)};
}

/* Where hex text goes, and the bytes it fills. Measuring the text is a pass
 * over it that only the checked twin needs: the converter finds the text's
 * end as it goes, so the handlers ask for the start alone. */
Span vud::sp_StringtoBuffer(lua_State* L, bool bMeasure)
{
    return WriteSpan(L, 1, 0, bMeasure ? HexTextBytes(L, 2) : 0);
}

Span vud::sp_SetMemValue(lua_State* L, bool bMeasure)
{
    return WriteSpan(L, 1, ArgInt(L, 2), bMeasure ? HexTextBytes(L, 3) : 0);
}

int l_BufferToString(lua_State* L)
{
    Span s = sp_BufferToString(L);
    PushHex(L, s.p, s.nLen);
    return 1;
}

int l_GetMemValue(lua_State* L)
{
    PushHexWrapped(L, sp_GetMemValue(L));
    return 1;
}

int l_StringtoBuffer(lua_State* L)
{
    Span s = sp_StringtoBuffer(L, false);
    size_t nMax = 0; // the text's Lua length; the text itself may end sooner
    const char* lpStr = ArgTextLen(L, 2, &nMax);
    if (s.p != NULL && lpStr != NULL)
        HexDecodeText(lpStr, nMax, SpanStart(s)); // converted where it stands: no copy
    return PushedNothing(L); // pushes nothing: the text comes back
}

int l_SetMemValue(lua_State* L)
{
    Span s = sp_SetMemValue(L, false);
    size_t nMax = 0;
    const char* lpStr = ArgTextLen(L, 3, &nMax);
    if (s.p != NULL && lpStr != NULL)
        HexDecodeText(lpStr, nMax, SpanStart(s));
    return PushedNothing(L); // pushes nothing: the text comes back
}

/* ---- typed values ------------------------------------------------------------ */

/* "GetInt32FrmMem" takes its offset as a "number as int", where every other
 * offset of the family is an "int": scripts have always had this one read
 * through lua_tonumber, and the two rules part past the 64-bit range (inf
 * here saturates, so its low 32 bits make -1, where lua_tointeger's cast
 * has no defined result). Kept, so that every offset a script passes keeps
 * addressing the same byte. */
Span vud::sp_GetInt32FrmMem(lua_State* L)
{
    return ReadSpan(L, 1, ArgNumInt(L, 2), 4);
}

Span vud::sp_SetInt32FrmMem(lua_State* L)
{
    return WriteSpan(L, 1, ArgInt(L, 2), 4);
}

Span vud::sp_GetInt16FrmMem(lua_State* L)
{
    return ReadSpan(L, 1, ArgInt(L, 2), 2);
}

Span vud::sp_SetInt16FrmMem(lua_State* L)
{
    return WriteSpan(L, 1, ArgInt(L, 2), 2);
}

/* The 8-bit pair reads its offset unsigned: widened with zeros, so -1 is
 * 4294967295 bytes on. */
Span vud::sp_GetInt8FrmMem(lua_State* L)
{
    return ReadSpan(L, 1, ArgDword(L, 2), 1);
}

Span vud::sp_SetInt8FrmMem(lua_State* L)
{
    return WriteSpan(L, 1, ArgDword(L, 2), 1);
}

/* A byte offset for the byte fields; the 32-bit fields count theirs in
 * words, 4 bytes a step. */
Span vud::sp_GetByteBitsFrmMem(lua_State* L)
{
    return ReadSpan(L, 1, ArgInt(L, 2), 1);
}

Span vud::sp_SetByteBitsFrmMem(lua_State* L)
{
    return WriteSpan(L, 1, ArgInt(L, 2), 1);
}

Span vud::sp_GetIntBitsFrmMem(lua_State* L)
{
    return ReadSpan(L, 1, 4LL * ArgInt(L, 2), 4);
}

Span vud::sp_SetIntBitsFrmMem(lua_State* L)
{
    return WriteSpan(L, 1, 4LL * ArgInt(L, 2), 4);
}

int vud::at_GetInt32FrmMem(lua_State* L, const Span& s)
{
    lua_pushnumber(L, LoadAt<DWORD>(s));
    return 1;
}

int l_GetInt32FrmMem(lua_State* L)
{
    return at_GetInt32FrmMem(L, sp_GetInt32FrmMem(L));
}

int vud::at_SetInt32FrmMem(lua_State* L, const Span& s)
{
    DWORD dwValue = ArgNum32(L, 3); // -1 and 4294967295 both store FF FF FF FF
    StoreAt<DWORD>(s, dwValue);
    return PushedNothing(L); // pushes nothing: the value comes back
}

int l_SetInt32FrmMem(lua_State* L)
{
    return at_SetInt32FrmMem(L, sp_SetInt32FrmMem(L));
}

int vud::at_GetInt16FrmMem(lua_State* L, const Span& s)
{
    lua_pushinteger(L, LoadAt<WORD>(s));
    return 1;
}

int l_GetInt16FrmMem(lua_State* L)
{
    return at_GetInt16FrmMem(L, sp_GetInt16FrmMem(L));
}

int vud::at_SetInt16FrmMem(lua_State* L, const Span& s)
{
    WORD dwValue = (WORD)ArgInt(L, 3); // the low 16 bits: 70000 stores 70 11
    StoreAt<WORD>(s, dwValue);
    return PushedNothing(L); // pushes nothing
}

int l_SetInt16FrmMem(lua_State* L)
{
    return at_SetInt16FrmMem(L, sp_SetInt16FrmMem(L));
}

int vud::at_GetInt8FrmMem(lua_State* L, const Span& s)
{
    lua_pushinteger(L, LoadAt<BYTE>(s));
    return 1;
}

int l_GetInt8FrmMem(lua_State* L)
{
    return at_GetInt8FrmMem(L, sp_GetInt8FrmMem(L));
}

int vud::at_SetInt8FrmMem(lua_State* L, const Span& s)
{
    DWORD val8 = ArgDword(L, 3); // the low 8 bits are stored: 300 stores 0x2C
    int nReadBack = 0;
    if (s.p != NULL) {
        LPBYTE p = SpanStart(s);
        *p = (BYTE)val8;
        nReadBack = *p;
    }
    // The trace shows the value as fetched and the byte as it now stands.
    printf("%p, %u, %u, =%d", (void*)s.p, (DWORD)s.nOffset, val8, nReadBack);
    return PushedNothing(L); // pushes nothing: the value comes back
}

int l_SetInt8FrmMem(lua_State* L)
{
    return at_SetInt8FrmMem(L, sp_SetInt8FrmMem(L));
}

/* ---- bit fields ----------------------------------------------------------------- */

int vud::at_GetByteBitsFrmMem(lua_State* L, const Span& s)
{
    int nBitsOfst = ArgInt(L, 3);
    int nBits = ArgInt(L, 4);
    lua_pushinteger(L, GetField(LoadAt<BYTE>(s), nBitsOfst, nBits));
    return 1;
}

int l_GetByteBitsFrmMem(lua_State* L)
{
    return at_GetByteBitsFrmMem(L, sp_GetByteBitsFrmMem(L));
}

int vud::at_SetByteBitsFrmMem(lua_State* L, const Span& s)
{
    int nBitsOfst = ArgInt(L, 3);
    int nBits = ArgInt(L, 4);
    int aVal = ArgInt(L, 5);
    if (s.p != NULL) {
        LPBYTE p = SpanStart(s);
        *p = (BYTE)SetField(*p, nBitsOfst, nBits, aVal); // cut at bit 7
    }
    lua_pushboolean(L, 1);
    return 1;
}

int l_SetByteBitsFrmMem(lua_State* L)
{
    return at_SetByteBitsFrmMem(L, sp_SetByteBitsFrmMem(L));
}

int vud::at_GetIntBitsFrmMem(lua_State* L, const Span& s)
{
    int nBitsOfst = ArgInt(L, 3);
    int nBits = ArgInt(L, 4);
    lua_pushinteger(L, GetField(LoadAt<DWORD>(s), nBitsOfst, nBits));
    return 1;
}

int l_GetIntBitsFrmMem(lua_State* L)
{
    return at_GetIntBitsFrmMem(L, sp_GetIntBitsFrmMem(L));
}

int vud::at_SetIntBitsFrmMem(lua_State* L, const Span& s)
{
    int nBitsOfst = ArgInt(L, 3);
    int nBits = ArgInt(L, 4);
    int aVal = ArgInt(L, 5);
    if (s.p != NULL) {
        LPBYTE p = SpanStart(s);
        StoreValue<DWORD>(p, SetField(LoadValue<DWORD>(p), nBitsOfst, nBits, aVal));
    }
    lua_pushboolean(L, 1);
    return 1;
}

int l_SetIntBitsFrmMem(lua_State* L)
{
    return at_SetIntBitsFrmMem(L, sp_SetIntBitsFrmMem(L));
}

/* ---- checksums -------------------------------------------------------------------- */

/* Both read the "number as 32 bits" count of bytes from the handle. */
Span vud::sp_calc_crc32(lua_State* L)
{
    return ReadSpan(L, 1, 0, ArgNum32(L, 2));
}

Span vud::sp_add_sum(lua_State* L)
{
    return ReadSpan(L, 1, 0, ArgNum32(L, 2));
}

int l_calc_crc32(lua_State* L)
{
    Span s = sp_calc_crc32(L);
    u32 crc = calc_crc32(s.p, (u32)s.nLen);
    printf("%s, pBuffer = %p, nLen = %u, crc32 = %u", kCrcTraceName, (void*)s.p, (u32)s.nLen, crc);
    lua_pushnumber(L, crc);
    return 1;
}

int l_add_sum(lua_State* L)
{
    Span s = sp_add_sum(L);
    u32 org = ArgNum32(L, 3);
    lua_pushnumber(L, AddSum(s.p, (u32)s.nLen, org));
    return 1;
}

/* ---- registration ----------------------------------------------------------------- */

static const RegRow kBufferRows[] = {
    {"MallocBuffer", l_MallocBuff, ck_MallocBuff},
    {"FreeBuffer", l_FreeBuffer, ck_FreeBuffer},
    {"GetBuffer", l_GetBuffer, ck_GetBuffer},
    {"Memcpy", l_Memcpy, ck_Memcpy},
    {"Memset", l_Memset, ck_Memset},
    {"Memcmp", l_Memcmp, ck_Memcmp},
    {"BufferToString", l_BufferToString, ck_BufferToString},
    {"StringtoBuffer", l_StringtoBuffer, ck_StringtoBuffer},
    {"GetMemValue", l_GetMemValue, ck_GetMemValue},
    {"SetMemValue", l_SetMemValue, ck_SetMemValue},
    {"BufferToChars", l_BuffertoChars, ck_BuffertoChars},
    {"CharsToBuffer", l_CharstoBuffer, ck_CharstoBuffer},
    {"GetInt32FrmMem", l_GetInt32FrmMem, ck_GetInt32FrmMem},
    {"SetInt32FrmMem", l_SetInt32FrmMem, ck_SetInt32FrmMem},
    {"GetInt16FrmMem", l_GetInt16FrmMem, ck_GetInt16FrmMem},
    {"SetInt16FrmMem", l_SetInt16FrmMem, ck_SetInt16FrmMem},
    {"GetByteBitsFrmMem", l_GetByteBitsFrmMem, ck_GetByteBitsFrmMem},
    {"SetByteBitsFrmMem", l_SetByteBitsFrmMem, ck_SetByteBitsFrmMem},
    {"GetIntBitsFrmMem", l_GetIntBitsFrmMem, ck_GetIntBitsFrmMem},
    {"SetIntBitsFrmMem", l_SetIntBitsFrmMem, ck_SetIntBitsFrmMem},
    {"GetInt8FrmMem", l_GetInt8FrmMem, ck_GetInt8FrmMem},
    {"SetInt8FrmMem", l_SetInt8FrmMem, ck_SetInt8FrmMem},
    {"calc_crc32", l_calc_crc32, ck_calc_crc32},
    {"add_sum", l_add_sum, ck_add_sum},
};

int RegBuferFun(lua_State* L)
{
    RegisterRows(L, kBufferRows);
    return 1;
}

