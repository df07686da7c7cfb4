/*
 * checked.h - checked variants of the globals that reach memory through a
 * handle, streams or descriptors (docs/checked.md).
 *
 * With VODUDID_CHECKED=1 in the environment when a family registers, its
 * rows with a variant get it in place of the plain handler, with the
 * state's registry (blocks handed out, streams and descriptors opened) as
 * the closure's one upvalue. Each variant validates its arguments, raises a
 * Lua error that names the mistake, or else calls the plain handler, so a
 * call it lets through behaves exactly as without checking.
 *
 * The plain handlers know nothing of this: with checking off no registry is
 * made and no variant is registered.
 */
#ifndef VODUDID_CHECKED_H
#define VODUDID_CHECKED_H

#include <lua.hpp>

namespace vud {

/* base family */
int ck_TraceBuffer(lua_State* L);

/* buffer family ("GetBuffer" touches no memory: it has no variant) */
int ck_MallocBuffer(lua_State* L);
int ck_FreeBuffer(lua_State* L);
int ck_Memcpy(lua_State* L);
int ck_Memset(lua_State* L);
int ck_Memcmp(lua_State* L);
int ck_BufferToString(lua_State* L);
int ck_StringtoBuffer(lua_State* L);
int ck_GetMemValue(lua_State* L);
int ck_SetMemValue(lua_State* L);
int ck_BufferToChars(lua_State* L);
int ck_CharsToBuffer(lua_State* L);
int ck_GetInt32FrmMem(lua_State* L);
int ck_SetInt32FrmMem(lua_State* L);
int ck_GetInt16FrmMem(lua_State* L);
int ck_SetInt16FrmMem(lua_State* L);
int ck_GetByteBitsFrmMem(lua_State* L);
int ck_SetByteBitsFrmMem(lua_State* L);
int ck_GetIntBitsFrmMem(lua_State* L);
int ck_SetIntBitsFrmMem(lua_State* L);
int ck_GetInt8FrmMem(lua_State* L);
int ck_SetInt8FrmMem(lua_State* L);
int ck_calc_crc32(lua_State* L);
int ck_add_sum(lua_State* L);

/* file family ("DeleteFile" has no variant) */
int ck_fopen(lua_State* L);
int ck_fseek(lua_State* L);
int ck_fwrite(lua_State* L);
int ck_fread(lua_State* L);
int ck_fclose(lua_State* L);
int ck_fgetALine(lua_State* L);
int ck_LFopen(lua_State* L);
int ck_LFseek(lua_State* L);
int ck_LFwrite(lua_State* L);
int ck_LFread(lua_State* L);
int ck_LFclose(lua_State* L);
int ck_CopyFile(lua_State* L);

} // namespace vud

#endif /* VODUDID_CHECKED_H */
