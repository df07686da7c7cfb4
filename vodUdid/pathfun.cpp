/*
 * pathfun.cpp - the path family: the executable's directory, the current
 * directory, and the file-name part of a path.
 *
 * Paths are zero-terminated bytes with no character set; the separators are
 * the single bytes '\\' and '/'. GetDirectoryFromPath keeps the Windows
 * convention (backslash only); the executable's directory is taken at the
 * last slash, because that is what the kernel hands back for it here.
 */
#include "stdafx.h"

#include <exception>
#include <new>

#include "BCString.h"
#include "luaglue.h"
#include "vodUdid.h"

using namespace vud;

namespace {

/* Every fixed path buffer of the family: 259 bytes of path and a zero. */
const int kPathBufLen = XC_MAX_PATH;

/* The directory of a path without any separator: dot-backslash. Three bytes
 * with its zero, which is why a directory buffer holds at least 3. */
const char kNoDirectory[] = ".\\";

/*
 * Copies lpFileName whole into lpDirRet, then ends the copy right after its
 * last chSep; without one, dot-backslash is written over the start of the
 * copy. lpDirRet holds strlen(lpFileName) + 1 bytes and at least 3. The two
 * may be the same buffer (memmove).
 */
void CopyDirectoryPart(LPCTSTR lpFileName, LPTSTR lpDirRet, char chSep)
{
    size_t nLen = strlen(lpFileName);
    memmove(lpDirRet, lpFileName, nLen + 1);
    for (size_t i = nLen; i-- > 0;) { // index 0 included
        if (lpDirRet[i] == chSep) {
            lpDirRet[i + 1] = '\0';
            return;
        }
    }
    memcpy(lpDirRet, kNoDirectory, sizeof kNoDirectory);
}

/*
 * Pushes the text of csText through a temporary copy of GetLength() + 1
 * bytes, released again before returning. Should that copy not be
 * available, the text is pushed straight from the string: the result is the
 * same either way.
 */
void PushTextCopy(lua_State* L, const CBCString& csText)
{
    LPCBTSTR lpText = csText;
    if (lpText == NULL) {
        lua_pushstring(L, "");
        return;
    }
    size_t nSize = (size_t)csText.GetLength() + 1;
    char* lpCopy = new (std::nothrow) char[nSize];
    if (lpCopy == NULL) {
        lua_pushstring(L, lpText);
        return;
    }
    memcpy(lpCopy, lpText, nSize);
    lua_pushstring(L, lpCopy);
    delete[] lpCopy;
}

} // namespace

/* ---- path functions ------------------------------------------------------ */

void GetDirectoryFromPath(LPCTSTR lpFileName, LPTSTR lpDirRet)
{
    if (lpDirRet == NULL)
        return; // nowhere to write
    CopyDirectoryPart(lpFileName != NULL ? lpFileName : "", lpDirRet, '\\');
}

CBCString GetFileNameFromPath(LPCTSTR lpFileName, BOOL bUnHevent)
{
    CBCString csRet("");
    csRet.Empty();
    if (lpFileName == NULL)
        return csRet; // no path: no file name
    const char chBreak = bUnHevent ? '/' : '\\';
    // Rightmost separator first; index 0 is never examined, so a path whose
    // only separator leads it ("/file") has no file name.
    for (size_t nIndex = strlen(lpFileName); nIndex-- > 1;) {
        if (lpFileName[nIndex] == chBreak) {
            csRet = lpFileName + nIndex + 1;
            break;
        }
    }
    return csRet;
}

CBCString GetModulePath()
{
    CBCString csRet("");
    char szMoudlePath[kPathBufLen];
    char szFileName[kPathBufLen];
    ZeroMemory(szMoudlePath, sizeof szMoudlePath);
    ZeroMemory(szFileName, sizeof szFileName);
    // On failure the message is printed already, and a path too long for
    // the buffer lies in it without a terminator: use none of it.
    if (GetModuleFileName(NULL, szFileName, kPathBufLen) == 0)
        szFileName[0] = '\0';
    // The kernel's path is slash-separated: its directory ends at the last
    // slash. An empty path (unreadable link) gives dot-backslash.
    CopyDirectoryPart(szFileName, szMoudlePath, '/');
    csRet = szMoudlePath;
    return csRet;
}

/* ---- handlers ------------------------------------------------------------ */

/*
 * The string class reports a failed allocation with std::bad_alloc; no
 * exception may leave a handler into the Lua core, which is C. Only
 * std::exception is caught: a Lua core built as C++ raises its errors with
 * a type of its own, and those must pass.
 */

extern "C" {

int l_GetExecPath(lua_State* L)
{
    try {
        PushTextCopy(L, GetModulePath());
    } catch (const std::exception&) {
        lua_pushstring(L, ""); // out of memory: no path to offer
    }
    return 1;
}

int l_GetCurrentDirectory(lua_State* L)
{
    char szPath[kPathBufLen];
    ZeroMemory(szPath, sizeof szPath);
    // A directory of 260 bytes or more, or one that was removed: "".
    if (getcwd(szPath, sizeof szPath) == NULL)
        szPath[0] = '\0';
    lua_pushstring(L, szPath);
    return 1;
}

int l_SetCurrentDirectory(lua_State* L)
{
    const char* szPath = ArgText(L, 1);
    if (szPath != NULL) {
        int nFailed = chdir(szPath); // a failed change is silent
        (void)nFailed;
    }
    return PushedNothing(L); // pushes nothing: the path argument comes back
}

int l_GetFileNameFromPath(lua_State* L)
{
    const char* szPath = ArgText(L, 1);
    try {
        PushTextCopy(L, GetFileNameFromPath(szPath, true));
    } catch (const std::exception&) {
        lua_pushstring(L, "");
    }
    return 1;
}

/* ---- registration -------------------------------------------------------- */

static const RegRow kPathRows[] = {
    {"GetExecPath", l_GetExecPath, NULL},
    {"GetCurrentDirectory", l_GetCurrentDirectory, NULL},
    {"SetCurrentDirectory", l_SetCurrentDirectory, NULL},
    {"GetFileNameFromPath", l_GetFileNameFromPath, NULL},
};

int RegPathFun(lua_State* L)
{
    RegisterRows(L, kPathRows);
    return 1;
}

} // extern "C"
