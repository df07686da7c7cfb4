/*
 * fuzz_common.h - what every fuzz target shares: a Lua state with the
 * library registered, the pool of argument values, and the independent
 * models the targets compare the library against.
 */
#ifndef VODUDID_FUZZ_COMMON_H
#define VODUDID_FUZZ_COMMON_H

#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>
#include <lua.hpp>

#include "vodUdid.h"

namespace fz {

/* The trace lines of the library go to standard output: thousands of them
 * per second would drown the fuzzer's own report, so they go nowhere. */
inline void SilenceStdout()
{
    int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        close(fd);
    }
}

/* A fresh Lua state with the 48 globals; bChecked registers them in the
 * checked mode. Only the base library is opened: pcall is all we need. */
inline lua_State* NewState(bool bChecked)
{
    if (bChecked)
        setenv("VODUDID_CHECKED", "1", 1);
    else
        unsetenv("VODUDID_CHECKED");
    lua_State* L = luaL_newstate();
    lua_pushcfunction(L, luaopen_base);
    lua_call(L, 0, 0);
    l_RegAllFun(L);
    lua_settop(L, 0);
    return L;
}

/* Calls the global `name` with the nArgs values on top of the stack through
 * lua_pcall, leaving its one result (or the error message) on top. */
inline int CallGlobal(lua_State* L, const char* name, int nArgs)
{
    lua_getfield(L, LUA_GLOBALSINDEX, name);
    lua_insert(L, -nArgs - 1);
    return lua_pcall(L, nArgs, 1, 0);
}

/* Numbers at the edges of every argument rule: the 32- and 64-bit bounds,
 * fractions, NaN and the infinities. */
const double kNumbers[] = {0, 1, -1, 2, 65.9, -0.5, 255, 300, 70000,
                           2147483647.0, 2147483648.0, -2147483648.0, 4294967295.0,
                           4294967296.0, 4294967297.0, 9007199254740992.0,
                           9223372036854775808.0, -9223372036854775808.0, 1e300,
                           NAN, INFINITY, -INFINITY};
const char* const kTexts[] = {"", "0", "7", "zz", "Ab", " 5", "-1", "12", "%s%n", "\xff\xfe",
                              "ffffffffffffffffffffffffffffffffffffffffffffffffffffffff"};

/* Pushes one value of the pool: nil, booleans, a table, an edge number, a
 * small integer, an odd text or a text of the input's own bytes. Never a
 * userdata: handles come only from the calls a target made. */
inline void PushPoolValue(lua_State* L, FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0: lua_pushnil(L); break;
    case 1: lua_pushboolean(L, in.ConsumeBool()); break;
    case 2: lua_newtable(L); break;
    case 3: lua_pushnumber(L, in.PickValueInArray(kNumbers)); break;
    case 4: lua_pushinteger(L, in.ConsumeIntegralInRange(-40, 40)); break;
    case 5: lua_pushstring(L, in.PickValueInArray(kTexts)); break;
    default: {
        std::string s = in.ConsumeRandomLengthString(40);
        lua_pushlstring(L, s.data(), s.size());
    }
    }
}

/* k, as any of the numbers whose 32-bit cut is k: itself or k plus a
 * multiple of 2^32 (no fractions: beside 2^52 a double has no room left
 * for one, and k + 0.5 would round to k + 1). */
inline void PushCut32(lua_State* L, FuzzedDataProvider& in, long long k)
{
    static const double kWraps[] = {0, 4294967296.0, -4294967296.0, 4503599627370496.0};
    lua_pushnumber(L, (double)k + in.PickValueInArray(kWraps));
}

/* The pair rule of hex input: the text up to its first zero byte, a digit 0
 * put in front of an odd one, each pair converted as strtol in base 16
 * converts that two-character text, the low 8 bits kept. */
inline std::vector<unsigned char> HexPairsModel(const char* text)
{
    std::string padded = text;
    if (padded.size() % 2 != 0)
        padded.insert(0, "0");
    std::vector<unsigned char> out;
    for (size_t i = 0; i < padded.size(); i += 2)
        out.push_back((unsigned char)strtol(padded.substr(i, 2).c_str(), NULL, 16));
    return out;
}

/* What successive fgetALine calls deliver for a file's bytes: pieces of at
 * most 1023 bytes, each ending after a newline or at the cap, each cut at
 * its first zero byte; nothing after the last piece. */
inline std::vector<std::string> LinePiecesModel(const std::string& data)
{
    std::vector<std::string> pieces;
    for (size_t i = 0; i < data.size();) {
        size_t end = data.find('\n', i);
        end = end == std::string::npos ? data.size() : end + 1;
        if (end - i > 1023)
            end = i + 1023;
        std::string piece = data.substr(i, end - i);
        pieces.push_back(piece.substr(0, piece.find('\0')));
        i = end;
    }
    return pieces;
}

} // namespace fz

#endif /* VODUDID_FUZZ_COMMON_H */
