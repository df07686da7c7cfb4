/*
 * vodUdid.h - what a host application needs to use libvodUdid.so.
 *
 * A host loads the library, calls l_RegAllFun(L) once per Lua state, and
 * its scripts then find the library's 48 functions as globals. Everything a
 * script can call is also declared here as a plain Lua C function, so a host
 * can register a handler under a name of its own (l_MidBuffer is exported for
 * exactly that and registered by nobody).
 *
 * The header uses plain C and C++ types only; it deliberately does not pull
 * in the Windows-style compatibility names.
 */
#ifndef VODUDID_H
#define VODUDID_H

#ifdef __cplusplus
#include <lua.hpp>
#else
#include <lua.h>
#endif

/* VODUDID_API, the export mark of everything declared below. */
#include "vodUdid_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Entry: registers all globals into the globals table of L. Returns 1 and
 * leaves the stack as it found it. */
VODUDID_API int l_RegAllFun(lua_State* L);

/* Family registration, called by l_RegAllFun in this order. Each returns 1. */
VODUDID_API int RegPathFun(lua_State* L);
VODUDID_API int RegBuferFun(lua_State* L);
VODUDID_API int RegFileFun(lua_State* L);

/* Base: diagnostics and process functions. */
VODUDID_API int l_MessageBox(lua_State* L);
VODUDID_API int l_Exit(lua_State* L);
VODUDID_API int l_DebugTrace(lua_State* L);
VODUDID_API int l_TraceBuffer(lua_State* L);
VODUDID_API int l_MidBuffer(lua_State* L); /* exported, not registered */

/* Base: 64-bit values carried as two 32-bit halves. */
VODUDID_API int l_CompareInt64(lua_State* L);
VODUDID_API int l_Int64Add(lua_State* L);
VODUDID_API int l_Int64Dec(lua_State* L);

/* Paths. */
VODUDID_API int l_GetExecPath(lua_State* L);
VODUDID_API int l_GetCurrentDirectory(lua_State* L);
VODUDID_API int l_SetCurrentDirectory(lua_State* L);
VODUDID_API int l_GetFileNameFromPath(lua_State* L);

/* Buffers: blocks, raw memory, character transfer. */
VODUDID_API int l_MallocBuff(lua_State* L);     /* "MallocBuffer" */
VODUDID_API int l_FreeBuffer(lua_State* L);
VODUDID_API int l_GetBuffer(lua_State* L);
VODUDID_API int l_Memcpy(lua_State* L);
VODUDID_API int l_Memset(lua_State* L);
VODUDID_API int l_Memcmp(lua_State* L);
VODUDID_API int l_BuffertoChars(lua_State* L);  /* "BufferToChars" */
VODUDID_API int l_CharstoBuffer(lua_State* L);  /* "CharsToBuffer" */

/* Buffers: hex text. */
VODUDID_API int l_BufferToString(lua_State* L);
VODUDID_API int l_StringtoBuffer(lua_State* L);
VODUDID_API int l_GetMemValue(lua_State* L);
VODUDID_API int l_SetMemValue(lua_State* L);

/* Buffers: typed and bit-field access. */
VODUDID_API int l_GetInt32FrmMem(lua_State* L);
VODUDID_API int l_SetInt32FrmMem(lua_State* L);
VODUDID_API int l_GetInt16FrmMem(lua_State* L);
VODUDID_API int l_SetInt16FrmMem(lua_State* L);
VODUDID_API int l_GetByteBitsFrmMem(lua_State* L);
VODUDID_API int l_SetByteBitsFrmMem(lua_State* L);
VODUDID_API int l_GetIntBitsFrmMem(lua_State* L);
VODUDID_API int l_SetIntBitsFrmMem(lua_State* L);
VODUDID_API int l_GetInt8FrmMem(lua_State* L);
VODUDID_API int l_SetInt8FrmMem(lua_State* L);

/* Buffers: checksums. */
VODUDID_API int l_calc_crc32(lua_State* L);
VODUDID_API int l_add_sum(lua_State* L);

/* Files: C streams. */
VODUDID_API int l_fopen(lua_State* L);
VODUDID_API int l_fseek(lua_State* L);
VODUDID_API int l_fwrite(lua_State* L);
VODUDID_API int l_fread(lua_State* L);
VODUDID_API int l_fclose(lua_State* L);
VODUDID_API int l_fgetALine(lua_State* L);

/* Files: POSIX descriptors and file management. */
VODUDID_API int l_LFOpen(lua_State* L);   /* "LFopen" */
VODUDID_API int l_LFSeek(lua_State* L);   /* "LFseek" */
VODUDID_API int l_LFWrite(lua_State* L);  /* "LFwrite" */
VODUDID_API int l_LFRead(lua_State* L);   /* "LFread" */
VODUDID_API int l_LFClose(lua_State* L);  /* "LFclose" */
VODUDID_API int l_DeleteFile(lua_State* L);
VODUDID_API int l_CopyFile(lua_State* L);

/* The working record of the table-driven CRC-32, kept for host code that
 * builds its own table: CRC is the register in which one entry is
 * computed, CRC_32_Tbl[n] the register after eight steps started from n.
 * The library's calc_crc32 needs no such record from its caller. */
typedef struct tag_CRC32_DATA {
    unsigned int CRC;
    unsigned int CRC_32_Tbl[256];
} CRC32_DATA_t;

#ifdef __cplusplus
} /* extern "C" */

#include "BCString.h"

/* 64-bit value from its halves: bits 32-63 from lHi, bits 0-31 from lLow. */
VODUDID_API long long Get64bitLen(unsigned int lLow, unsigned int lHi);
/* Splits nLen into its halves; the exact inverse of Get64bitLen. */
VODUDID_API void Get32BitLen(long long nLen, unsigned int& lLow, unsigned int& lHi);

/* Paths (bytes; see docs/paths.md). The directory part of lpFileName, up to
 * and including its last backslash, else dot-backslash; lpDirRet holds
 * strlen(lpFileName) + 1 bytes and at least 3. */
VODUDID_API void GetDirectoryFromPath(const char* lpFileName, char* lpDirRet);
/* The text after the last separator at index 1 or later: the slash when
 * bUnHevent is true, the backslash when false; empty when there is none. */
VODUDID_API CBCString GetFileNameFromPath(const char* lpFileName, bool bUnHevent);
/* The running executable's directory, up to and including its last slash;
 * dot-backslash when its path cannot be read or is 260 bytes or longer. */
VODUDID_API CBCString GetModulePath();

/* CRC-32/ISO-HDLC (the CRC of zlib, gzip and Ethernet) of the length bytes
 * at buffer; 0 for a length of 0 or a null buffer. Prints nothing. */
VODUDID_API unsigned int calc_crc32(void* buffer, unsigned int length);
/* org plus the little-endian 32-bit words of the len bytes at buffer,
 * modulo 2^32; a tail of len % 4 bytes forms one more word from its low
 * byte up. Continuable: a sum over a range whose length is a multiple of 4
 * is the org of the next range. A null buffer gives org. */
VODUDID_API unsigned int AddSum(unsigned char* buffer, unsigned int len, unsigned int org);

#endif /* __cplusplus */

#endif /* VODUDID_H */
