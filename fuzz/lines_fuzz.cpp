/* fgetALine on generated files against the line-split model, then nil at the
 * end of the file. */
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static lua_State* L = fz::NewState(false);
    std::string bytes((const char*)data, size);
    FILE* f = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    std::vector<std::string> pieces = fz::LinePiecesModel(bytes);
    for (size_t i = 0; i <= pieces.size(); ++i) {
        fz::Call(L, "fgetALine", f);
        size_t n = 0;
        const char* got = lua_tolstring(L, -1, &n);
        if (i < pieces.size() ? got == NULL || std::string(got, n) != pieces[i] : !lua_isnil(L, -1))
            abort();
        lua_settop(L, 0);
    }
    fclose(f);
    return 0;
}
