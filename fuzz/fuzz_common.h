/* fuzz_common.h - what the fuzz targets share: a Lua state with the library
 * registered, calls of the globals, the pool of argument values, and the
 * independent models. */
#ifndef VODUDID_FUZZ_COMMON_H
#define VODUDID_FUZZ_COMMON_H

#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <lua.hpp>

#include "vodUdid.h"

namespace fz {

/* A fresh state with Lua's libraries and the 48 globals, checked or not.
 * The trace lines, thousands a second, would drown the fuzzer's report:
 * standard output goes to /dev/null. */
inline lua_State* NewState(bool bChecked)
{
    int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0 && dup2(fd, STDOUT_FILENO) >= 0)
        close(fd);
    bChecked ? setenv("VODUDID_CHECKED", "1", 1) : unsetenv("VODUDID_CHECKED");
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    l_RegAllFun(L);
    lua_settop(L, 0);
    return L;
}

/* The global `name` on the nArgs values on top, through lua_pcall: its one
 * result, or the error message, is left on top. */
inline int CallGlobal(lua_State* L, const char* name, int nArgs)
{
    lua_getfield(L, LUA_GLOBALSINDEX, name);
    lua_insert(L, -nArgs - 1);
    return lua_pcall(L, nArgs, 1, 0);
}

inline void Push(lua_State* L, const void* p) { lua_pushlightuserdata(L, const_cast<void*>(p)); }
inline void Push(lua_State* L, double n) { lua_pushnumber(L, n); }
inline void Push(lua_State* L, const std::string& s) { lua_pushlstring(L, s.data(), s.size()); }

/* The same with the arguments given: pointers as handles, numbers, texts. */
template <typename... A> int Call(lua_State* L, const char* name, const A&... args)
{
    (Push(L, args), ...);
    return CallGlobal(L, name, (int)sizeof...(args));
}

/* The edges of every argument rule: 32- and 64-bit bounds, fractions, NaN,
 * the infinities; and odd texts. */
const double kNumbers[] = {0, 1, -1, 2, 65.9, -0.5, 255, 300, 70000, 2147483647.0, 2147483648.0,
                           -2147483648.0, 4294967295.0, 4294967296.0, 4294967297.0,
                           9007199254740992.0, 9223372036854775808.0, -9223372036854775808.0,
                           1e300, NAN, INFINITY, -INFINITY};
const char* const kTexts[] = {"", "0", "7", "zz", "Ab", " 5", "-1", "12", "%s%n", "\xff\xfe",
                              "ffffffffffffffffffffffffffffffffffffffffffffffffffffffff"};

/* One value of the pool, never a userdata: handles come only from calls. */
inline void PushPoolValue(lua_State* L, FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0: return lua_pushnil(L);
    case 1: return lua_pushboolean(L, in.ConsumeBool());
    case 2: return lua_newtable(L);
    case 3: return lua_pushnumber(L, in.PickValueInArray(kNumbers));
    case 4: return lua_pushinteger(L, in.ConsumeIntegralInRange(-40, 40));
    case 5: return lua_pushstring(L, in.PickValueInArray(kTexts));
    default: return Push(L, in.ConsumeRandomLengthString(40));
    }
}

/* k as any number whose 32-bit cut is k: k plus a multiple of 2^32 (never a
 * fraction: near 2^52 a double has no room for one). */
inline void PushCut32(lua_State* L, FuzzedDataProvider& in, long long k)
{
    static const double kWraps[] = {0, 4294967296.0, -4294967296.0, 4503599627370496.0};
    lua_pushnumber(L, (double)k + in.PickValueInArray(kWraps));
}

/* Hex input's pair rule: the text to its first zero byte, a 0 put in front
 * of an odd one, each pair as strtol base 16 reads it, low 8 bits kept. */
inline std::vector<unsigned char> HexPairsModel(const char* text)
{
    std::string padded = strlen(text) % 2 ? std::string("0") + text : std::string(text);
    std::vector<unsigned char> out;
    for (size_t i = 0; i < padded.size(); i += 2)
        out.push_back((unsigned char)strtol(padded.substr(i, 2).c_str(), NULL, 16));
    return out;
}

/* What successive fgetALine calls give for a file's bytes: pieces of at most
 * 1023 bytes, each ending after a newline or at the cap, each cut at its
 * first zero byte. */
inline std::vector<std::string> LinePiecesModel(const std::string& data)
{
    std::vector<std::string> pieces;
    for (size_t i = 0, end; i < data.size(); i = end) {
        end = std::min(std::min(data.find('\n', i), data.size() - 1) + 1, i + 1023);
        pieces.push_back(data.substr(i, end - i).c_str());
    }
    return pieces;
}

} // namespace fz

#endif /* VODUDID_FUZZ_COMMON_H */
