/*
 * emptyfn.c - the yardstick for the cost of calling a library global from
 * Lua: a C function that does nothing, registered exactly as the library
 * registers its handlers (a C closure without upvalues stored in the globals
 * table). Built as a module of its own for the benchmarks only; it is never
 * part of libvodUdid.
 *
 * Load it from Lua:  package.loadlib(path, "bench_RegEmptyFn")()
 * which defines the global "EmptyFn".
 */
#include <lua.h>

/* Pushes nothing and returns 1, like a library handler that pushes nothing:
 * the caller gets its last argument back. */
static int l_EmptyFn(lua_State* L)
{
    (void)L;
    return 1;
}

__attribute__((visibility("default"))) int bench_RegEmptyFn(lua_State* L)
{
    lua_pushcclosure(L, l_EmptyFn, 0);
    lua_setfield(L, LUA_GLOBALSINDEX, "EmptyFn");
    return 0;
}
