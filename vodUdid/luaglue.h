/*
 * luaglue.h - how every handler of the module fetches its arguments, pushes
 * handles and registers itself.
 *
 * Each argument is read by one of the rules below, named after what it does,
 * so a handler starts with one fetch per line and reads like its
 * description. The rules do not check an argument's count, and only one
 * checks its type: ArgCaption raises Lua's standard argument error for a
 * caption that is no string, number or nil (the one Lua error the library
 * raises). What the other rules give for a wrong or missing argument (0, or
 * a null handle or text) the handlers do test where it would fault the host.
 *
 * No rule pushes or pops, so a handler that pushes nothing hands back its
 * last argument. The text rules do change the stack, though: lua_tolstring
 * turns a number argument into a string in its own slot, and that string is
 * what comes back ("DebugTrace(12)" returns "12", not 12).
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

/* "text": the string's bytes, a number converted in place; null for any
 * other value. Valid for the duration of the call. */
inline const char* ArgText(lua_State* L, int i)
{
    return lua_tolstring(L, i, NULL);
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

/* One row of a family's registration table: where a Lua name meets its C
 * handler. */
struct RegRow {
    const char* name;
    lua_CFunction handler;
};

/* Stores each row's handler, as a plain C function without upvalues, in the
 * globals table under the row's name, in table order. The stack is left as
 * it was found. */
template <size_t N>
inline void RegisterRows(lua_State* L, const RegRow (&rows)[N])
{
    for (const RegRow& row : rows) {
        lua_pushcclosure(L, row.handler, 0);
        lua_setfield(L, LUA_GLOBALSINDEX, row.name);
    }
}

} // namespace vud

#endif /* VODUDID_LUAGLUE_H */
