/*
 * xcomplier_def.h - Windows-style names on POSIX.
 *
 * The module's sources are written against Windows type and function names;
 * this header supplies them on Linux on top of the C library and POSIX.
 *
 * Character model: bytes, no locale and no multibyte awareness, except where
 * a function is documented to follow the process's C locale.
 *
 * Every function here is `static inline`: each source file that includes the
 * header gets its own private copy, so nothing of this layer is ever exported
 * from the shared library.
 *
 * Several functions keep a Windows name while returning what the POSIX call
 * beneath returns (GetModuleFileName gives the buffer size, FreeLibrary gives
 * 0 on success, _tclen measures the whole remaining text). Read the contract
 * comment, not the name.
 */
#ifndef XCOMPLIER_DEF_H
#define XCOMPLIER_DEF_H

#include <ctype.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wchar.h>

/* ---- type names ------------------------------------------------------- */

typedef const char* LPCSTR;
typedef const char* LPCTSTR;
typedef char* LPSTR;
typedef char* LPTSTR;
typedef bool BOOL; /* one byte, true or false; not the Windows 32-bit int */
typedef void* HMODULE;
typedef unsigned int UINT;
typedef unsigned int DWORD;
typedef DWORD* LPDWORD;
typedef int INT;
typedef unsigned short WORD;
typedef unsigned char BYTE;
typedef BYTE* LPBYTE;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;
typedef long long __int64;
typedef unsigned long long __u64;
typedef void* (*pTHREAD_START_ROUTINE)(void*);

#ifndef TRUE
#define TRUE true
#endif
#ifndef FALSE
#define FALSE false
#endif

/* Size of every fixed path buffer of this layer and of the module. */
#define XC_MAX_PATH 260

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;

/* ---- memory and text ---------------------------------------------------- */

/* Sets nSize bytes at Buf to zero. */
static inline void ZeroMemory(void* Buf, unsigned int nSize)
{
    if (nSize != 0)
        memset(Buf, 0, nSize);
}

/* Length in bytes of the whole zero-terminated text at _cpc, cut to 32 bits.
 * Not the size of one character: _tclen("abc") is 3. */
static inline unsigned int _tclen(const char* _cpc)
{
    return (unsigned int)strlen(_cpc);
}

/* The next character: always exactly one byte further. */
static inline char* _tcsinc(const char* current)
{
    return const_cast<char*>(current) + 1;
}

/* Lower-cases, in place, every byte up to the terminator; returns str. */
static inline char* strlwr(char* str)
{
    for (char* p = str; *p; ++p)
        *p = (char)tolower((unsigned char)*p);
    return str;
}

/* Upper-cases, in place, every byte up to the terminator; returns str. */
static inline char* strupr(char* str)
{
    for (char* p = str; *p; ++p)
        *p = (char)toupper((unsigned char)*p);
    return str;
}

/* ---- diagnostics -------------------------------------------------------- */

/* Writes str to standard output (no newline added) when bFlag is true. */
static inline void DebugFunction(bool bFlag, const char* str)
{
    if (bFlag)
        printf("%s", str);
}

/* Writes lpText and a newline to standard output; nothing else is read. */
static inline void MessageBox(void* hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    (void)hWnd;
    (void)lpCaption;
    (void)uType;
    puts(lpText);
}

/* errno of the calling thread. */
static inline DWORD GetLastError()
{
    return (DWORD)errno;
}

/* ---- executable path ---------------------------------------------------- */

/*
 * Writes the path of the process's executable (never this library's) into
 * szPath, a buffer of nLen bytes.
 *
 * On success the last byte of the buffer, szPath[nLen - 1], is set to zero
 * and nLen itself is returned (not the path's length): readlink writes no
 * terminator, so callers zero-fill the buffer first to have the path end
 * where it ends.
 *
 * When the link cannot be read, or the path does not fit with room for a
 * terminator, "readlink failed:" and the error text go to standard error
 * through perror and 0 is returned. A size below 1 is such a failure too.
 */
static inline unsigned int GetModuleFileName(void* hInstance, char* szPath, int nLen)
{
    (void)hInstance;
    if (nLen <= 0) {
        errno = EINVAL;
        perror("readlink failed:");
        return 0;
    }
    ssize_t n = readlink("/proc/self/exe", szPath, (size_t)nLen);
    if (n < 0 || n >= (ssize_t)nLen) {
        perror("readlink failed:");
        return 0;
    }
    szPath[nLen - 1] = '\0';
    return (unsigned int)nLen;
}

/*
 * Copies the executable's full path (file name included) into szPath, which
 * must hold XC_MAX_PATH bytes. When the path cannot be read or is
 * XC_MAX_PATH bytes or longer, the empty string is copied.
 */
static inline void GetModuleDirectory(char* szPath)
{
    char buffer[XC_MAX_PATH];
    ZeroMemory(buffer, sizeof buffer);
    if (GetModuleFileName(NULL, buffer, XC_MAX_PATH) == 0)
        buffer[0] = '\0';
    memcpy(szPath, buffer, strnlen(buffer, sizeof buffer - 1) + 1);
}

/* ---- shared objects and threads ----------------------------------------- */

/* Prints "library file path: <name>", then dlopen(RTLD_LAZY); on failure the
 * loader's message goes to standard output. Returns the handle or null. */
static inline HMODULE LoadLibrary(const char* lpFileName)
{
    printf("library file path: %s\n", lpFileName);
    HMODULE h = dlopen(lpFileName, RTLD_LAZY);
    if (h == NULL) {
        const char* err = dlerror();
        puts(err ? err : "");
    }
    return h;
}

/* dlclose: 0 on success, non-zero on failure (the reverse of Windows). */
static inline int FreeLibrary(HMODULE hModule)
{
    return dlclose(hModule);
}

/* Starts lpStartAddress(lpParameter) on a new POSIX thread with default
 * attributes. Returns pthread_create's result: 0 or an error number, never a
 * handle. The thread id is not passed back; the thread is neither joined
 * nor detached. */
static inline int CreateThread(void* lpThreadAttributes, int dwStackSize,
                               pTHREAD_START_ROUTINE lpStartAddress, void* lpParameter,
                               DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    (void)lpThreadAttributes;
    (void)dwStackSize;
    (void)dwCreationFlags;
    (void)lpThreadId;
    pthread_t thread;
    return pthread_create(&thread, NULL, lpStartAddress, lpParameter);
}

/* ---- files -------------------------------------------------------------- */

/* Size of the file in bytes, cut to 32 bits; 0 when it cannot be opened. A
 * failed ftell gives 4294967295. */
static inline unsigned int GetFileLength(signed char* filename)
{
    FILE* fp = fopen((const char*)filename, "rb");
    if (fp == NULL)
        return 0;
    fseek(fp, 0, SEEK_END);
    long pos = ftell(fp);
    fclose(fp);
    return (unsigned int)pos;
}

/* Writes "/tmp" and its terminator into lpBuffer whatever nBufferLength
 * says; returns 0, not a length. */
static inline unsigned int GetTempPath(unsigned int nBufferLength, char* lpBuffer)
{
    (void)nBufferLength;
    memcpy(lpBuffer, "/tmp", 5);
    return 0;
}

/* Builds "<path>/<prefix>.tmp" in lpTempFileName (which must hold both texts
 * and six more bytes) and creates that file with mode 0664 before the
 * umask, truncating an existing one. uUnique is not read. The descriptor is
 * closed again: nobody could ever close it otherwise. Returns 0. */
static inline unsigned int GetTempFileName(const char* lpPathName, const char* lpPrefixString,
                                           unsigned int uUnique, char* lpTempFileName)
{
    (void)uUnique;
    strcpy(lpTempFileName, lpPathName);
    strcat(lpTempFileName, "/");
    strcat(lpTempFileName, lpPrefixString);
    strcat(lpTempFileName, ".tmp");
    int fd = creat(lpTempFileName, 0664);
    if (fd >= 0)
        close(fd);
    return 0;
}

/* ---- time --------------------------------------------------------------- */

/*
 * Packs the date and time into two 16-bit words, in 16-bit arithmetic:
 *   time = hour << 11 | minute << 5 | second   (second not halved)
 *   date = (year - 1980) << 9 | month << 5 | day  (year difference mod 128)
 * Fields are neither masked nor range-checked, so a wide field spills into
 * the next one. The words go into the low halves of dwLowDateTime and
 * dwHighDateTime; the high halves keep what the caller left there.
 */
static inline BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime)
{
    const SYSTEMTIME* st = lpSystemTime;
    WORD wTime = (WORD)((unsigned)st->wHour << 11 | (unsigned)st->wMinute << 5 |
                        (unsigned)st->wSecond);
    WORD wDate = (WORD)(((unsigned)st->wYear - 1980u) << 9 | (unsigned)st->wMonth << 5 |
                        (unsigned)st->wDay);
    lpFileTime->dwLowDateTime = (lpFileTime->dwLowDateTime & 0xFFFF0000u) | wTime;
    lpFileTime->dwHighDateTime = (lpFileTime->dwHighDateTime & 0xFFFF0000u) | wDate;
    return true;
}

/* Copies the eight bytes; no time-zone shift. */
static inline BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime)
{
    memcpy(lpFileTime, lpLocalFileTime, sizeof(FILETIME));
    return true;
}

/* ---- character sets ----------------------------------------------------- */

/* mbstowcs under the process's current C locale; -1 for an invalid
 * sequence. CodePage, dwFlags and cbMultiByte are not read. */
static inline int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                      int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar)
{
    (void)CodePage;
    (void)dwFlags;
    (void)cbMultiByte;
    return (int)mbstowcs(lpWideCharStr, lpMultiByteStr, (size_t)(long)cchWideChar);
}

/* wcstombs under the process's current C locale; -1 for a character that
 * cannot be converted. Only the two strings and cbMultiByte are read;
 * *lpUsedDefaultChar is never written. */
static inline int WideCharToMultiByte(INT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                      int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                      LPCSTR lpDefaultChar, bool* lpUsedDefaultChar)
{
    (void)CodePage;
    (void)dwFlags;
    (void)cchWideChar;
    (void)lpDefaultChar;
    (void)lpUsedDefaultChar;
    return (int)wcstombs(lpMultiByteStr, lpWideCharStr, (size_t)(long)cbMultiByte);
}

#endif /* XCOMPLIER_DEF_H */
