/*
 * vodUdid.cpp - the library's entry, its base globals (diagnostics and the
 * do-nothing "Exit") and 64-bit values carried as two 32-bit halves.
 */
#include "stdafx.h"

#include <algorithm>

#include "checked.h"
#include "luaglue.h"
#include "vodUdid.h"

using namespace vud;

/* ---- 64-bit halves ------------------------------------------------------ */

__int64 Get64bitLen(DWORD lLow, DWORD lHi)
{
    // Widen the high half unsigned: no sign extension, no signed shift.
    return (__int64)(((__u64)lHi << 32) | lLow);
}

void Get32BitLen(__int64 nLen, DWORD& lLow, DWORD& lHi)
{
    lHi = (DWORD)((__u64)nLen >> 32);
    lLow = (DWORD)nLen;
}

namespace {

/* The value carried by the halves at argument positions i (low) and i + 1. */
__int64 ArgHalvesPair(lua_State* L, int i)
{
    return Get64bitLen(ArgDword(L, i), ArgDword(L, i + 1));
}

/* Pushes the low half, then the high half, each as an unsigned number. */
void PushHalvesPair(lua_State* L, __int64 nValue)
{
    DWORD lLow, lHi;
    Get32BitLen(nValue, lLow, lHi);
    lua_pushnumber(L, lLow);
    lua_pushnumber(L, lHi);
}

/* Bytes of a buffer that "TraceBuffer" shows at most. */
const size_t kTraceAreaLen = 512;

} // namespace

/* The bytes "TraceBuffer" copies into its trace area. */
Span vud::sp_TraceBuffer(lua_State* L)
{
    return ReadSpan(L, 1, 0, std::min<uint64_t>(CountLen(ArgInt(L, 2)), kTraceAreaLen));
}

extern "C" {

/* ---- diagnostics -------------------------------------------------------- */

int l_DebugTrace(lua_State* L)
{
    const char* lpText = ArgText(L, 1);
    puts(lpText ? lpText : ""); // nil prints an empty line rather than crash
    return PushedNothing(L); // pushes nothing: the text comes back
}

int l_MessageBox(lua_State* L)
{
    // Argument 1 stands for the owner window and is never read.
    const char* lpText = ArgText(L, 2);
    (void)ArgCaption(L, 3); // type-checked, shown nowhere
    puts(lpText ? lpText : "");
    lua_pushnumber(L, 0);
    return 1;
}

int l_Exit(lua_State* L)
{
    return PushedNothing(L); // does nothing; the script goes on and gets its last argument back
}

int l_TraceBuffer(lua_State* L)
{
    Span s = sp_TraceBuffer(L);
    char szArea[kTraceAreaLen];
    ZeroMemory(szArea, sizeof szArea);
    if (s.p != NULL)
        memcpy(szArea, s.p, s.nLen);
    // Like puts, but bounded by the area: 512 non-zero bytes carry no terminator.
    (void)fwrite(szArea, 1, strnlen(szArea, sizeof szArea), stdout);
    (void)fputc('\n', stdout);
    return PushedNothing(L); // pushes nothing
}

int l_MidBuffer(lua_State* L)
{
    // Kept for hosts that register it themselves: the same offset handle
    // as the buffer family's "GetBuffer".
    return l_GetBuffer(L);
}

/* ---- 64-bit halves ------------------------------------------------------ */

int l_CompareInt64(lua_State* L)
{
    __int64 nFirst = ArgHalvesPair(L, 1);
    __int64 nSecond = ArgHalvesPair(L, 3);
    // 0: less, 1: equal, 2: greater.
    lua_pushnumber(L, nFirst < nSecond ? 0 : nFirst == nSecond ? 1 : 2);
    return 1;
}

int l_Int64Add(lua_State* L)
{
    // Wrap-around arithmetic: done unsigned, where overflow is defined.
    __u64 nSum = (__u64)ArgHalvesPair(L, 1) + (__u64)ArgHalvesPair(L, 3);
    PushHalvesPair(L, (__int64)nSum);
    return 2;
}

int l_Int64Dec(lua_State* L)
{
    __u64 nDiff = (__u64)ArgHalvesPair(L, 1) - (__u64)ArgHalvesPair(L, 3);
    PushHalvesPair(L, (__int64)nDiff);
    return 2;
}

/* ---- entry -------------------------------------------------------------- */

static const RegRow kBaseRows[] = {
    {"MessageBox", l_MessageBox, NULL},
    {"Exit", l_Exit, NULL},
    {"DebugTrace", l_DebugTrace, NULL},
    {"TraceBuffer", l_TraceBuffer, ck_TraceBuffer},
    {"CompareInt64", l_CompareInt64, NULL},
    {"Int64Add", l_Int64Add, NULL},
    {"Int64Dec", l_Int64Dec, NULL},
};

int l_RegAllFun(lua_State* L)
{
    RegisterRows(L, kBaseRows);
    // The families, in this order; their results carry nothing.
    RegPathFun(L);
    RegBuferFun(L);
    RegFileFun(L);
    return 1;
}

} // extern "C"
