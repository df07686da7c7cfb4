/* Stands in for a Lua library that someone planted in a working directory:
 * it only says, when the loader maps it, that it was. */
#include <stdio.h>

__attribute__((constructor)) static void Announce(void)
{
    fputs("planted Lua library loaded\n", stderr);
}
