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
 * memkernels.cpp; the handlers here only fetch, guard and push.
 */
#include "stdafx.h"

#include <limits.h>
#include <new>
#include <stdio.h>
#include <string.h>

#include "checked.h"
#include "luaglue.h"
#include "memkernels.h"
#include "vodUdid.h"

typedef unsigned char u8;
typedef unsigned int u32;

using namespace vud;

namespace {

/* A count as a byte length: a negative count is no bytes at all. */
inline size_t CountLen(int nCount)
{
    return nCount > 0 ? (size_t)nCount : 0;
}

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

/* The T at handle + offset, or 0 for a null handle: a getter never
 * dereferences null. */
template <typename T>
inline T LoadAt(const BYTE* lpBuffer, long long nOffset)
{
    return lpBuffer != NULL ? LoadValue<T>(OffsetAddress(lpBuffer, nOffset)) : T(0);
}

/* Stores v at handle + offset; a null handle stores nothing. */
template <typename T>
inline void StoreAt(BYTE* lpBuffer, long long nOffset, T v)
{
    if (lpBuffer != NULL)
        StoreValue<T>(OffsetAddress(lpBuffer, nOffset), v);
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

/* Hex digits of n bytes: the first nHead from src on, any others from
 * wrapped on (see l_GetMemValue). */
inline void HexEncodeAcrossWrap(const BYTE* src, size_t nHead, const BYTE* wrapped, size_t n,
                                char* szText)
{
    if (nHead >= n) {
        HexEncode(src, n, szText);
        return;
    }
    HexEncode(src, nHead, szText);
    HexEncode(wrapped, n - nHead, szText + 2 * nHead);
}

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

/* Pushes the 2 * nLen lower-case hex digits of nLen bytes, the first nHead
 * of them at src and the rest at wrapped: the empty string for no handle
 * or a count below 1, nil when the working memory for a huge count cannot
 * be had. */
void PushHex(lua_State* L, const BYTE* lpBuffer, int nLen, const BYTE* src, size_t nHead,
             const BYTE* wrapped)
{
    size_t n = CountLen(nLen);
    if (lpBuffer == NULL || n == 0) {
        lua_pushlstring(L, "", 0);
        return;
    }
    if (n <= kHexStackBytes) {
        char szText[2 * kHexStackBytes];
        HexEncodeAcrossWrap(src, nHead, wrapped, n, szText);
        lua_pushlstring(L, szText, 2 * n);
        return;
    }
    char* szText = PushHexScratch(L, 2 * n); // at most 4 GiB: no overflow
    if (szText != NULL) {
        HexEncodeAcrossWrap(src, nHead, wrapped, n, szText);
        lua_pushlstring(L, szText, 2 * n);
        FreeHexScratch(L, (HexScratch*)lua_touserdata(L, -2));
    } else {
        lua_pushnil(L);
    }
    lua_remove(L, -2); // the guard
}

/* Stores the bytes of the hex text lpStr, whose Lua length is nMax, from
 * dst on, byte k at dst + k. The text counts up to its first zero byte; an
 * odd text reads as if a digit 0 stood in front of it. It is converted
 * where it stands: no working copy, and no separate pass to measure it. */
void StoreHex(BYTE* dst, const char* lpStr, size_t nMax)
{
    if (dst != NULL && lpStr != NULL)
        HexDecodeText(lpStr, nMax, dst);
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

extern "C" {

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

int l_Memcpy(lua_State* L)
{
    LPBYTE pDesBuff = ArgHandle(L, 1);
    LPBYTE pSrcBuff = ArgHandle(L, 2);
    int size = ArgInt(L, 3);
    // memmove: overlapping ranges copy as if through a temporary.
    if (pDesBuff != NULL && pSrcBuff != NULL && size > 0)
        memmove(pDesBuff, pSrcBuff, (size_t)size);
    return PushedNothing(L); // pushes nothing: the count comes back
}

int l_Memset(lua_State* L)
{
    LPBYTE pDesBuff = ArgHandle(L, 1);
    BYTE nValue = (BYTE)ArgNumInt(L, 2); // the low 8 bits: 65.9 -> 0x41, -1 -> 0xFF
    int size = ArgInt(L, 3);
    if (pDesBuff != NULL && size > 0)
        memset(pDesBuff, nValue, (size_t)size);
    return PushedNothing(L); // pushes nothing
}

int l_Memcmp(lua_State* L)
{
    LPBYTE pDesBuff = ArgHandle(L, 1);
    LPBYTE pSrcBuff = ArgHandle(L, 2);
    int size = ArgInt(L, 3);
    int nRet = 0;
    if (pDesBuff != NULL && pSrcBuff != NULL && size > 0)
        nRet = memcmp(pDesBuff, pSrcBuff, (size_t)size);
    lua_pushinteger(L, nRet);
    return 1;
}

/* ---- bytes to and from Lua strings ---------------------------------------- */

int l_BuffertoChars(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nOffset = ArgInt(L, 2);
    int nLen = ArgInt(L, 3);
    // The string ends at the first zero byte among the nLen bytes: found
    // with memchr instead of a zeroed copy, which also reads no further.
    const BYTE* src = OffsetAddress(lpBuffer, nOffset);
    size_t n = CountLen(nLen);
    if (lpBuffer == NULL || n == 0) {
        lua_pushlstring(L, "", 0);
        return 1;
    }
    const void* pZero = memchr(src, 0, n);
    if (pZero != NULL)
        n = (size_t)((const BYTE*)pZero - src);
    lua_pushlstring(L, (const char*)src, n);
    return 1;
}

int l_CharstoBuffer(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    const char* lpStr = ArgText(L, 2);
    // Up to the text's first zero byte, and no terminator written.
    if (lpBuffer != NULL && lpStr != NULL)
        memcpy(lpBuffer, lpStr, strlen(lpStr)); // NOLINT(bugprone-not-null-terminated-result)
    return PushedNothing(L); // pushes nothing: the text comes back
}

/* ---- hex text --------------------------------------------------------------- */

int l_BufferToString(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nLen = ArgInt(L, 2);
    PushHex(L, lpBuffer, nLen, lpBuffer, CountLen(nLen), NULL);
    return 1;
}

int l_GetMemValue(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nOffset = ArgInt(L, 2);
    int nLen = ArgInt(L, 3);
    // Byte i sits at lpBuffer + (nOffset + i), the sum an int: once it
    // passes 2147483647 it goes on from -2147483648, 4 GiB back. Only a
    // positive offset can get there, and only once within 2147483647 bytes.
    size_t nHead = nOffset > 0 ? (size_t)INT_MAX - (size_t)nOffset + 1 : CountLen(nLen);
    PushHex(L, lpBuffer, nLen, OffsetAddress(lpBuffer, nOffset), nHead,
            OffsetAddress(lpBuffer, INT_MIN));
    return 1;
}

int l_StringtoBuffer(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    size_t nMax = 0; // the text's Lua length; the text itself may end sooner
    const char* lpStr = ArgTextLen(L, 2, &nMax);
    StoreHex(lpBuffer, lpStr, nMax);
    return PushedNothing(L); // pushes nothing: the text comes back
}

int l_SetMemValue(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nOffset = ArgInt(L, 2);
    size_t nMax = 0;
    const char* lpStr = ArgTextLen(L, 3, &nMax);
    if (lpBuffer != NULL)
        StoreHex(OffsetAddress(lpBuffer, nOffset), lpStr, nMax);
    return PushedNothing(L); // pushes nothing: the text comes back
}

/* ---- typed values ------------------------------------------------------------ */

int l_GetInt32FrmMem(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    // A "number as int", where every other offset of the family is an "int":
    // scripts have always had this one read through lua_tonumber, and the
    // two rules part past the 64-bit range (inf here saturates, so its low 32
    // bits make -1, where lua_tointeger's cast has no defined result). Kept,
    // so that every offset a script passes keeps addressing the same byte.
    int nOffset = ArgNumInt(L, 2);
    lua_pushnumber(L, LoadAt<DWORD>(lpBuffer, nOffset));
    return 1;
}

int l_SetInt32FrmMem(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nOffset = ArgInt(L, 2);
    DWORD dwValue = ArgNum32(L, 3); // -1 and 4294967295 both store FF FF FF FF
    StoreAt<DWORD>(lpBuffer, nOffset, dwValue);
    return PushedNothing(L); // pushes nothing: the value comes back
}

int l_GetInt16FrmMem(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nOffset = ArgInt(L, 2);
    lua_pushinteger(L, LoadAt<WORD>(lpBuffer, nOffset));
    return 1;
}

int l_SetInt16FrmMem(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nOffset = ArgInt(L, 2);
    WORD dwValue = (WORD)ArgInt(L, 3); // the low 16 bits: 70000 stores 70 11
    StoreAt<WORD>(lpBuffer, nOffset, dwValue);
    return PushedNothing(L); // pushes nothing
}

int l_GetInt8FrmMem(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    DWORD nOffset = ArgDword(L, 2); // unsigned: widened with zeros
    lua_pushinteger(L, LoadAt<BYTE>(lpBuffer, nOffset));
    return 1;
}

int l_SetInt8FrmMem(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    DWORD nOffset = ArgDword(L, 2);
    DWORD val8 = ArgDword(L, 3); // the low 8 bits are stored: 300 stores 0x2C
    int nReadBack = 0;
    if (lpBuffer != NULL) {
        LPBYTE p = OffsetAddress(lpBuffer, nOffset);
        *p = (BYTE)val8;
        nReadBack = *p;
    }
    // The trace shows the value as fetched and the byte as it now stands.
    printf("%p, %u, %u, =%d", (void*)lpBuffer, nOffset, val8, nReadBack);
    return PushedNothing(L); // pushes nothing: the value comes back
}

/* ---- bit fields ----------------------------------------------------------------- */

int l_GetByteBitsFrmMem(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nBytesOfst = ArgInt(L, 2); // a byte offset
    int nBitsOfst = ArgInt(L, 3);
    int nBits = ArgInt(L, 4);
    lua_pushinteger(L, GetField(LoadAt<BYTE>(lpBuffer, nBytesOfst), nBitsOfst, nBits));
    return 1;
}

int l_SetByteBitsFrmMem(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nBytesOfst = ArgInt(L, 2);
    int nBitsOfst = ArgInt(L, 3);
    int nBits = ArgInt(L, 4);
    int aVal = ArgInt(L, 5);
    if (lpBuffer != NULL) {
        LPBYTE p = OffsetAddress(lpBuffer, nBytesOfst);
        *p = (BYTE)SetField(*p, nBitsOfst, nBits, aVal); // cut at bit 7
    }
    lua_pushboolean(L, 1);
    return 1;
}

int l_GetIntBitsFrmMem(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nBytesOfst = ArgInt(L, 2); // a word index: 4 bytes per step
    int nBitsOfst = ArgInt(L, 3);
    int nBits = ArgInt(L, 4);
    lua_pushinteger(L, GetField(LoadAt<DWORD>(lpBuffer, 4LL * nBytesOfst), nBitsOfst, nBits));
    return 1;
}

int l_SetIntBitsFrmMem(lua_State* L)
{
    LPBYTE lpBuffer = ArgHandle(L, 1);
    int nBytesOfst = ArgInt(L, 2);
    int nBitsOfst = ArgInt(L, 3);
    int nBits = ArgInt(L, 4);
    int aVal = ArgInt(L, 5);
    if (lpBuffer != NULL) {
        LPBYTE p = OffsetAddress(lpBuffer, 4LL * nBytesOfst);
        StoreValue<DWORD>(p, SetField(LoadValue<DWORD>(p), nBitsOfst, nBits, aVal));
    }
    lua_pushboolean(L, 1);
    return 1;
}

/* ---- checksums -------------------------------------------------------------------- */

int l_calc_crc32(lua_State* L)
{
    LPBYTE pBuffer = ArgHandle(L, 1);
    u32 nLen = ArgNum32(L, 2);
    u32 crc = calc_crc32(pBuffer, nLen);
    printf("%s, pBuffer = %p, nLen = %u, crc32 = %u", __func__, (void*)pBuffer, nLen, crc);
    lua_pushnumber(L, crc);
    return 1;
}

int l_add_sum(lua_State* L)
{
    LPBYTE pBuffer = ArgHandle(L, 1);
    u32 nLen = ArgNum32(L, 2);
    u32 org = ArgNum32(L, 3);
    lua_pushnumber(L, AddSum(pBuffer, nLen, org));
    return 1;
}

/* ---- registration ----------------------------------------------------------------- */

static const RegRow kBufferRows[] = {
    {"MallocBuffer", l_MallocBuff, ck_MallocBuffer},
    {"FreeBuffer", l_FreeBuffer, ck_FreeBuffer},
    {"GetBuffer", l_GetBuffer, NULL},
    {"Memcpy", l_Memcpy, ck_Memcpy},
    {"Memset", l_Memset, ck_Memset},
    {"Memcmp", l_Memcmp, ck_Memcmp},
    {"BufferToString", l_BufferToString, ck_BufferToString},
    {"StringtoBuffer", l_StringtoBuffer, ck_StringtoBuffer},
    {"GetMemValue", l_GetMemValue, ck_GetMemValue},
    {"SetMemValue", l_SetMemValue, ck_SetMemValue},
    {"BufferToChars", l_BuffertoChars, ck_BufferToChars},
    {"CharsToBuffer", l_CharstoBuffer, ck_CharsToBuffer},
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

} // extern "C"
