/*
 * emptyfn.c - yardsticks for library globals, called from Lua the same way:
 * a C function that does nothing (the cost of a call), and the naive hex
 * input loop, one strtol per pair. Both are registered exactly as the
 * library registers its handlers (a C closure without upvalues stored in
 * the globals table). Built as a module of its own for the benchmarks only;
 * it is never part of libvodUdid.
 *
 * Load it from Lua:  package.loadlib(path, "bench_RegEmptyFn")()
 * which defines the globals "EmptyFn" and "StrtolPairs".
 */
#include <stdlib.h>
#include <string.h>

#include <lua.h>

/* Pushes nothing and returns 1, like a library handler that pushes nothing:
 * the caller gets its last argument back. */
static int l_EmptyFn(lua_State* L)
{
    (void)L;
    return 1;
}

/* StrtolPairs(h, text): what StringtoBuffer does for an even text, the
 * textbook way: measure it, then a three-byte C string and a strtol call
 * per pair. */
static int l_StrtolPairs(lua_State* L)
{
    unsigned char* dst = (unsigned char*)lua_touserdata(L, 1);
    const char* text = lua_tolstring(L, 2, NULL);
    size_t n = strlen(text) / 2;
    for (size_t k = 0; k < n; ++k) {
        char pair[3] = {text[2 * k], text[2 * k + 1], 0};
        dst[k] = (unsigned char)strtol(pair, NULL, 16);
    }
    return 1;
}

__attribute__((visibility("default"))) int bench_RegEmptyFn(lua_State* L)
{
    lua_pushcclosure(L, l_StrtolPairs, 0);
    lua_setfield(L, LUA_GLOBALSINDEX, "StrtolPairs");
    lua_pushcclosure(L, l_EmptyFn, 0);
    lua_setfield(L, LUA_GLOBALSINDEX, "EmptyFn");
    return 0;
}
