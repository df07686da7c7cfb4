/*
 * luaopen_vodUdid.cpp - the entry of `require "vodUdid"`.
 *
 * The module registers the globals through l_RegAllFun, the very entry a
 * host calls, so both ways of loading install the same functions in the
 * same order. It also hands back a table of those functions and _VERSION,
 * for scripts that would rather use a local name than globals.
 */
#include <lua.hpp>

#include "vodUdid.h"

extern "C" __attribute__((visibility("default"))) int luaopen_vodUdid(lua_State* L)
{
    int base = lua_gettop(L);
    // Which names the entry registers, learnt by running it once against an
    // empty globals table of our own: the list lives in one place only.
    lua_newtable(L); // base + 1: the names
    lua_pushvalue(L, LUA_GLOBALSINDEX);
    lua_pushvalue(L, base + 1);
    lua_replace(L, LUA_GLOBALSINDEX);
    l_RegAllFun(L);
    lua_replace(L, LUA_GLOBALSINDEX); // the host's globals again

    l_RegAllFun(L); // the registration scripts see

    lua_createtable(L, 0, 64); // base + 2: the module table
    lua_pushnil(L);
    while (lua_next(L, base + 1) != 0) {
        lua_pop(L, 1);
        lua_pushvalue(L, -1);
        lua_pushvalue(L, -1);
        lua_gettable(L, LUA_GLOBALSINDEX); // the function just registered
        lua_rawset(L, base + 2);
    }
    lua_pushstring(L, VODUDID_VERSION);
    lua_setfield(L, base + 2, "_VERSION");
    return 1;
}
