/*
 * luaglue.h - how every handler of the module fetches its arguments, pushes
 * handles and registers itself, and the span each handle-taking global
 * touches.
 *
 * Each argument is read by one of the rules below, named after what it does,
 * so a handler starts with one fetch per line and reads like its
 * description. The rules do not check an argument's count, and only
 * ArgCaption and ArgStream look at its type: ArgCaption raises Lua's standard
 * argument error for a caption that is no string, number or nil (outside
 * checked mode, the one Lua error the library raises), and ArgStream takes
 * nothing but a light userdata for a FILE*. What the other rules give for a
 * wrong or missing argument (0, or a null handle or text) the handlers do
 * test where it would fault the host.
 *
 * No rule pushes or pops, so a handler that pushes nothing hands back its
 * last argument (PushedNothing below covers a call without any). The text
 * rules do change the stack, though: lua_tolstring turns a number argument
 * into a string in its own slot, and that string is what comes back
 * ("DebugTrace(12)" returns "12", not 12).
 *
 * Numbers read with lua_tonumber are converted without undefined behaviour:
 * NaN gives 0, and values beyond the signed 64-bit range saturate at its
 * bounds (+inf and 1e300 give 2^63 - 1, -inf gives -2^63) before any
 * narrower cut is taken.
 */
#ifndef VODUDID_LUAGLUE_H
#define VODUDID_LUAGLUE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <lua.hpp>

#include "stdafx.h"

namespace vud {

/* A double truncated toward zero to 64 bits; NaN is 0, the rest saturates. */
inline long long NumberToInt64(lua_Number d)
{
    if (d != d)
        return 0;
    if (d >= 9223372036854775808.0)
        return INT64_MAX;
    if (d < -9223372036854775808.0)
        return INT64_MIN;
    return (long long)d;
}

/* "int": lua_tointeger cut to its low 32 bits, read as a signed int. */
inline int ArgInt(lua_State* L, int i)
{
    return (int)(uint32_t)lua_tointeger(L, i);
}

/* "unsigned int": lua_tointeger cut to its low 32 bits, read unsigned. */
inline DWORD ArgDword(lua_State* L, int i)
{
    return (DWORD)lua_tointeger(L, i);
}

/* "number as int": lua_tonumber truncated toward zero, low 32 bits signed. */
inline int ArgNumInt(lua_State* L, int i)
{
    return (int)(uint32_t)NumberToInt64(lua_tonumber(L, i));
}

/* "number as 32 bits": lua_tonumber truncated toward zero to 64 bits, of
 * which the low 32 are kept. */
inline DWORD ArgNum32(lua_State* L, int i)
{
    return (DWORD)NumberToInt64(lua_tonumber(L, i));
}

/* "handle": the address of a light userdata (block address of a full one);
 * null for anything else, a missing argument included. */
inline LPBYTE ArgHandle(lua_State* L, int i)
{
    return (LPBYTE)lua_touserdata(L, i);
}

/* "stream": the address of a light userdata; null for anything else. A
 * full userdata (Lua's own file objects, io.stdout) is never taken for a
 * FILE*: closing what Lua's collector closes again would free it twice. */
inline FILE* ArgStream(lua_State* L, int i)
{
    return lua_type(L, i) == LUA_TLIGHTUSERDATA ? (FILE*)lua_touserdata(L, i) : NULL;
}

/* "text": the string's bytes, a number converted in place; null for any
 * other value. Valid for the duration of the call. */
inline const char* ArgText(lua_State* L, int i)
{
    return lua_tolstring(L, i, NULL);
}

/* "text" as above, with the string's Lua length in *pLen (0 when null). A
 * zero byte may still end the text sooner. */
inline const char* ArgTextLen(lua_State* L, int i, size_t* pLen)
{
    *pLen = 0;
    return lua_tolstring(L, i, pLen);
}

/* "caption": text that is shown nowhere but must be a string, a number, nil
 * or absent; anything else raises the argument error, which does not
 * return. */
inline const char* ArgCaption(lua_State* L, int i)
{
    return luaL_optlstring(L, i, "", NULL);
}

/* "unmasked halves": a 64-bit offset from the halves at i (low) and i + 1
 * (high), each the whole lua_tointeger value rather than its low 32 bits, as
 * the descriptor seek has always combined them: the high half shifted up 32
 * bits, or-ed with the low one. A negative low half has its upper 32 bits
 * set and so is the whole offset, whatever the high half; 4294967296 as a
 * high half is shifted out. Done unsigned, where the shift is defined. */
inline int64_t ArgUnmaskedHalves(lua_State* L, int i)
{
    uint64_t nLow = (uint64_t)lua_tointeger(L, i);
    uint64_t nHigh = (uint64_t)lua_tointeger(L, i + 1);
    return (int64_t)((nHigh << 32) | nLow);
}

/* An address nOffset bytes from p. Done on integers: scripts may offset a
 * null or foreign handle, and pointer arithmetic outside an object is
 * undefined in C++ even when the result is never dereferenced. */
inline LPBYTE OffsetAddress(const void* p, long long nOffset)
{
    return (LPBYTE)((uintptr_t)p + (uintptr_t)nOffset);
}

inline void PushHandle(lua_State* L, const void* p)
{
    lua_pushlightuserdata(L, const_cast<void*>(p));
}

/* The return of a handler that pushes nothing. The caller receives the top
 * of the handler's frame: its last argument. With no argument at all the
 * top is the slot below the frame, which Lua 5.1 fills with the function
 * being called and LuaJIT with frame bookkeeping; pushing the running
 * function (level 0 of the debug interface) gives the function itself
 * under both. */
inline int PushedNothing(lua_State* L)
{
    if (lua_gettop(L) == 0) {
        lua_Debug ar;
        if (!lua_getstack(L, 0, &ar) || !lua_getinfo(L, "f", &ar))
            lua_pushnil(L); // never happens for a running C function
    }
    return 1;
}

/* A count as a byte length: a negative count is no bytes at all. */
inline size_t CountLen(int nCount)
{
    return nCount > 0 ? (size_t)nCount : 0;
}

/* Bytes "MallocBuffer" takes for a request of nSize: the next multiple of
 * 16, truncating toward zero (so -30..-1 give 0), in 64 bits so that no
 * count overflows. Only requests below -30 come out negative: no block. */
inline long long BlockBytes(int nSize)
{
    return ((long long)nSize + 15) / 16 * 16;
}

/*
 * Spans. Every global that reads or writes through a handle states what it
 * touches in one function, sp_ and its handler's name, defined beside the
 * handler: the handler takes its address from it, and its checked twin
 * (checked.h) judges the same bytes before the handler runs, so the two
 * cannot drift apart. A span touches nothing when its handle is null or its
 * length 0, which is when the handler touches nothing either.
 */
struct Span {
    int iArg;           /* where the handle stands among the arguments */
    LPBYTE p;           /* the handle, as ArgHandle reads it */
    long long nOffset;  /* from the handle to the first byte, by the global's own rule */
    uint64_t nLen;      /* bytes from there on */
    bool bWrite;        /* written, or only read */
    const char* szRole; /* how messages name the range where a call has two ("source ") */
};

inline Span ReadSpan(lua_State* L, int iArg, long long nOffset, uint64_t nLen, const char* szRole = "")
{
    return Span{iArg, ArgHandle(L, iArg), nOffset, nLen, false, szRole};
}

inline Span WriteSpan(lua_State* L, int iArg, long long nOffset, uint64_t nLen, const char* szRole = "")
{
    return Span{iArg, ArgHandle(L, iArg), nOffset, nLen, true, szRole};
}

/* The first byte a span touches. */
inline LPBYTE SpanStart(const Span& s)
{
    return OffsetAddress(s.p, s.nOffset);
}

/* Globals whose bytes lie in two ranges. */
struct SpanPair {
    Span first, second;
};

/* base family */
Span sp_TraceBuffer(lua_State* L);
/* buffer family */
SpanPair sp_Memcpy(lua_State* L); /* destination, source */
Span sp_Memset(lua_State* L);
SpanPair sp_Memcmp(lua_State* L);
Span sp_BufferToString(lua_State* L);
Span sp_StringtoBuffer(lua_State* L, bool bMeasure = true); /* false: the start alone */
SpanPair sp_GetMemValue(lua_State* L); /* before and after the offset wraps */
Span sp_SetMemValue(lua_State* L, bool bMeasure = true);
Span sp_BuffertoChars(lua_State* L);
Span sp_CharstoBuffer(lua_State* L);
Span sp_GetInt32FrmMem(lua_State* L);
Span sp_SetInt32FrmMem(lua_State* L);
Span sp_GetInt16FrmMem(lua_State* L);
Span sp_SetInt16FrmMem(lua_State* L);
Span sp_GetByteBitsFrmMem(lua_State* L);
Span sp_SetByteBitsFrmMem(lua_State* L);
Span sp_GetIntBitsFrmMem(lua_State* L);
Span sp_SetIntBitsFrmMem(lua_State* L);
Span sp_GetInt8FrmMem(lua_State* L);
Span sp_SetInt8FrmMem(lua_State* L);
Span sp_calc_crc32(lua_State* L);
Span sp_add_sum(lua_State* L);
/* file family: the buffer of a transfer */
Span sp_fwrite(lua_State* L);
Span sp_fread(lua_State* L);
Span sp_LFWrite(lua_State* L);
Span sp_LFRead(lua_State* L);

/* The typed and bit-field globals once their span is known: l_GetInt32FrmMem
 * and the others pass the span they read, the checked twins the span they
 * judged, so the hot calls fetch their arguments once. */
int at_GetInt32FrmMem(lua_State* L, const Span& s);
int at_SetInt32FrmMem(lua_State* L, const Span& s);
int at_GetInt16FrmMem(lua_State* L, const Span& s);
int at_SetInt16FrmMem(lua_State* L, const Span& s);
int at_GetInt8FrmMem(lua_State* L, const Span& s);
int at_SetInt8FrmMem(lua_State* L, const Span& s);
int at_GetByteBitsFrmMem(lua_State* L, const Span& s);
int at_SetByteBitsFrmMem(lua_State* L, const Span& s);
int at_GetIntBitsFrmMem(lua_State* L, const Span& s);
int at_SetIntBitsFrmMem(lua_State* L, const Span& s);

/* The stream handlers once their stream is known: l_fseek and the others
 * pass what ArgStream reads, the checked twins the FILE* behind a checked
 * stream handle. */
int SeekStream(lua_State* L, FILE* stream);
int WriteStream(lua_State* L, FILE* stream);
int ReadStream(lua_State* L, FILE* stream);
int CloseStream(lua_State* L, FILE* stream);
int ReadLine(lua_State* L, FILE* stream);

/* One row of a family's registration table: where a Lua name meets its C
 * handler, and the handler's checked variant (checked.h) for the globals
 * that touch memory, streams or descriptors; NULL for the others. */
struct RegRow {
    const char* name;
    lua_CFunction handler;
    lua_CFunction checked;
};

/* Where checking is on for this state (VODUDID_CHECKED=1 in the
 * environment, or a registry this state already has): pushes the state's
 * checked-mode registry, made on first use, and returns true. Otherwise
 * pushes nothing, keeps nothing and returns false (checked.cpp). */
bool PushCheckedRegistry(lua_State* L);

/* Stores each row's handler in the globals table under the row's name, in
 * table order: a plain C function without upvalues, or, in checked mode, the
 * row's checked variant with the state's registry as its one upvalue. The
 * stack is left as it was found. */
template <size_t N>
inline void RegisterRows(lua_State* L, const RegRow (&rows)[N])
{
    bool bChecked = PushCheckedRegistry(L);
    for (const RegRow& row : rows) {
        if (bChecked && row.checked != NULL) {
            lua_pushvalue(L, -1);
            lua_pushcclosure(L, row.checked, 1);
        } else {
            lua_pushcclosure(L, row.handler, 0);
        }
        lua_setfield(L, LUA_GLOBALSINDEX, row.name);
    }
    if (bChecked)
        lua_pop(L, 1);
}

} // namespace vud

#endif /* VODUDID_LUAGLUE_H */
