/*
 * fgetALine on generated files against the line-split model: pieces of at
 * most 1023 bytes ending after a newline, each cut at its first zero byte,
 * then nil at the end of the file.
 */
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static lua_State* L = fz::NewState(false);
    std::string bytes((const char*)data, size);
    FILE* f = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    for (const std::string& piece : fz::LinePiecesModel(bytes)) {
        lua_pushlightuserdata(L, f);
        fz::CallGlobal(L, "fgetALine", 1);
        size_t n = 0;
        const char* got = lua_tolstring(L, -1, &n);
        if (got == NULL || std::string(got, n) != piece)
            abort();
        lua_settop(L, 0);
    }
    lua_pushlightuserdata(L, f);
    fz::CallGlobal(L, "fgetALine", 1);
    if (!lua_isnil(L, -1))
        abort();
    lua_settop(L, 0);
    fclose(f);
    return 0;
}
