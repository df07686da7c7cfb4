// A host built from the installed files only: registers the library's
// globals and runs the chunk given as its argument.
#include <stdio.h>

#include <vodUdid.h>

int main(int argc, char** argv)
{
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    l_RegAllFun(L);
    int rc = argc > 1 && luaL_dostring(L, argv[1]) != 0;
    if (rc)
        fprintf(stderr, "%s\n", lua_tostring(L, -1));
    lua_close(L);
    fflush(stdout);
    return rc;
}
