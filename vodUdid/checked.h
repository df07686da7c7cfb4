/*
 * checked.h - the checked twin of every global that reaches memory through
 * a handle, a stream or a descriptor (docs/checked.md).
 *
 * With VODUDID_CHECKED=1 in the environment when a family registers (or
 * once the state has a checked-mode registry), each row with a twin gets it
 * in place of the plain handler, with the state's registry as the closure's
 * one upvalue. A twin is named after its handler (ck_MallocBuff beside
 * l_MallocBuff). It judges what the call would touch, by the span function
 * the handler itself uses (luaglue.h), and raises a Lua error that names the
 * mistake; a call it lets through behaves exactly as without checking.
 * Most twins then call the plain handler. The exceptions own what the
 * registry tracks: ck_MallocBuff and ck_FreeBuffer hand out and take back
 * the registry's own blocks, ck_fopen hands out a stream handle of the
 * registry's for the FILE* it opened, and the other stream twins pass that
 * FILE* to the handler's body (SeekStream and the rest).
 *
 * The plain handlers know nothing of this: with checking off no registry is
 * made and no twin is registered.
 */
#ifndef VODUDID_CHECKED_H
#define VODUDID_CHECKED_H

#include <lua.hpp>

namespace vud {

/* base family */
int ck_TraceBuffer(lua_State* L);

/* buffer family */
int ck_MallocBuff(lua_State* L);
int ck_FreeBuffer(lua_State* L);
int ck_GetBuffer(lua_State* L);
int ck_Memcpy(lua_State* L);
int ck_Memset(lua_State* L);
int ck_Memcmp(lua_State* L);
int ck_BufferToString(lua_State* L);
int ck_StringtoBuffer(lua_State* L);
int ck_GetMemValue(lua_State* L);
int ck_SetMemValue(lua_State* L);
int ck_BuffertoChars(lua_State* L);
int ck_CharstoBuffer(lua_State* L);
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

/* file family ("DeleteFile" has no twin) */
int ck_fopen(lua_State* L);
int ck_fseek(lua_State* L);
int ck_fwrite(lua_State* L);
int ck_fread(lua_State* L);
int ck_fclose(lua_State* L);
int ck_fgetALine(lua_State* L);
int ck_LFOpen(lua_State* L);
int ck_LFSeek(lua_State* L);
int ck_LFWrite(lua_State* L);
int ck_LFRead(lua_State* L);
int ck_LFClose(lua_State* L);
int ck_CopyFile(lua_State* L);

} // namespace vud

#endif /* VODUDID_CHECKED_H */
