// The entry seen from a C host: the real shared object loaded with dlopen.
#include <dlfcn.h>
#include <stdlib.h>

#include <random>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "vodUdid.h"

namespace {

struct Library {
    void* handle = dlopen(getenv("VODUDID_LIB"), RTLD_NOW | RTLD_LOCAL);
    ~Library()
    {
        if (handle)
            dlclose(handle);
    }
    template <typename F>
    F Get(const char* name) const
    {
        return reinterpret_cast<F>(dlsym(handle, name));
    }
};

} // namespace

TEST(Entry, RegistersWithoutDisturbingTheStack)
{
    Library lib;
    ASSERT_NE(nullptr, lib.handle) << dlerror();
    auto entry = lib.Get<lua_CFunction>("l_RegAllFun");
    ASSERT_NE(nullptr, entry);
    lua_State* L = luaL_newstate();
    lua_pushinteger(L, 7);
    lua_pushstring(L, "x");
    EXPECT_EQ(1, entry(L));
    EXPECT_EQ(2, lua_gettop(L));
    EXPECT_EQ(7, lua_tointeger(L, 1));
    lua_getfield(L, LUA_GLOBALSINDEX, "Int64Add");
    EXPECT_EQ(lib.Get<lua_CFunction>("l_Int64Add"), lua_tocfunction(L, -1));
    lua_getfield(L, LUA_GLOBALSINDEX, "MidBuffer");
    EXPECT_TRUE(lua_isnil(L, -1));
    lua_close(L);
}

TEST(Entry, MidBufferComputesAnOffsetHandleWhenAHostRegistersIt)
{
    Library lib;
    ASSERT_NE(nullptr, lib.handle) << dlerror();
    lua_State* L = luaL_newstate();
    lua_register(L, "MidBuffer", lib.Get<lua_CFunction>("l_MidBuffer"));
    char block[16];
    const int offsets[] = {-4, 0, 5, -1};
    for (int off : offsets) {
        lua_getglobal(L, "MidBuffer");
        lua_pushlightuserdata(L, block + 8);
        lua_pushinteger(L, off + 4294967296LL * 3); // only the low 32 bits count
        ASSERT_EQ(0, lua_pcall(L, 2, 1, 0));
        EXPECT_EQ(block + 8 + off, lua_touserdata(L, -1));
        lua_pop(L, 1);
    }
    lua_close(L);
}

TEST(Halves, SplitAndJoinAreExactInverses)
{
    std::mt19937_64 rng(7);
    for (int i = 0; i < 100000; ++i) {
        unsigned long long v = rng();
        unsigned int lo = 1, hi = 2;
        Get32BitLen((long long)v, lo, hi);
        ASSERT_EQ((unsigned int)v, lo);
        ASSERT_EQ((unsigned int)(v >> 32), hi);
        ASSERT_EQ((long long)v, Get64bitLen(lo, hi));
    }
    EXPECT_EQ(-1LL, Get64bitLen(0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_EQ(INT64_MIN, Get64bitLen(0, 0x80000000u));
}
