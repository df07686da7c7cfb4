// The entry seen from a C host: the real shared object loaded with dlopen.
#include <dlfcn.h>
#include <stdlib.h>

#include <gtest/gtest.h>
#include <lua.hpp>

// What the entry registers, and that it leaves the stack alone, is checked
// from Lua for every way of loading (registration_test.lua). Here: the one
// handler nobody registers, registered by a host.
TEST(Entry, MidBufferRegisteredByTheHostOffsetsByTheLow32Bits)
{
    void* lib = dlopen(getenv("VODUDID_LIB"), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, lib) << dlerror();
    lua_State* L = luaL_newstate();
    lua_register(L, "MidBuffer", (lua_CFunction)dlsym(lib, "l_MidBuffer"));
    char block[16];
    for (int off : {-4, 0, 5, -1}) {
        lua_getglobal(L, "MidBuffer");
        lua_pushlightuserdata(L, block + 8);
        lua_pushinteger(L, off + 4294967296LL * 3);
        ASSERT_EQ(0, lua_pcall(L, 2, 1, 0));
        EXPECT_EQ(block + 8 + off, lua_touserdata(L, -1));
        lua_pop(L, 1);
    }
    lua_close(L);
    dlclose(lib);
}
