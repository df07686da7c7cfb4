/*
 * filefun.cpp - the file family: C streams ("fopen" ... "fgetALine"),
 * POSIX descriptors with 64-bit seek offsets ("LFopen" ... "LFclose"), and
 * deleting and copying files.
 *
 * Every handler is a thin layer over one C library or POSIX call. Nothing is
 * raised as a Lua error; failures show in what is pushed and, for line
 * reading only, in a message on standard error.
 *
 * Calls that scripts are not supposed to make (a missing path, a negative
 * count, a null buffer) are refused before they reach the C library: the
 * handler then transfers nothing and pushes what the family pushes for
 * "nothing happened" (a null stream, -1, 0 or nil). docs/files.md lists each
 * of these choices for script authors.
 */
#include "stdafx.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "checked.h"
#include "luaglue.h"
#include "vodUdid.h"

using namespace vud;

// The handlers were declared extern "C" in vodUdid.h, which gives their
// definitions C linkage too.

namespace {

/* The messages of "fgetALine" name the source and the place they come from.
 * Scripts and their logs match on this text, so it is fixed here rather than
 * taken from __FILE__ and __LINE__, which move with the build directory and
 * every edit of this file. */
const char kSourceName[] = "./filefun.cpp";
const int kNullStreamLine = 98;
const int kReadErrorLine = 108;

/* One line piece: at most 1023 characters and the terminating zero. */
const int kLineLen = 1024;

/* Permission bits of every descriptor open: owner execute, group read and
 * write. They only matter when mode 2 creates the file. */
const mode_t kCreateBits = 0160;

/* The command buffer of "CopyFile": the command and its terminating zero. */
const size_t kCommandLen = 1024;

/* Open flags of the descriptor modes 0, 1, 2; no mode truncates. */
const int kOpenFlags[] = {O_RDONLY, O_RDWR, O_RDWR | O_CREAT};

/* What "LFread" and "LFwrite" push: nil when nothing moved (an error, the
 * end of file or a length of 0), otherwise the length asked for, even after
 * a short transfer. */
inline void PushTransferred(lua_State* L, ssize_t nDone, int nLen)
{
    if (nDone < 1)
        lua_pushnil(L);
    else
        lua_pushinteger(L, (DWORD)nLen); // nLen > 0 here
}

} // namespace

/* ---- C streams ---------------------------------------------------------- */

int l_fopen(lua_State* L)
{
    const char* szFileName = ArgText(L, 1);
    const char* szMod = ArgText(L, 2);
    // A missing path or mode opens nothing: the null stream, as for a failure.
    FILE* stream = (szFileName != NULL && szMod != NULL) ? fopen(szFileName, szMod) : NULL;
    PushHandle(L, stream);
    return 1;
}

/* The buffer of a stream transfer: the count's bytes from argument 2. */
Span vud::sp_fwrite(lua_State* L)
{
    return ReadSpan(L, 2, 0, CountLen(ArgInt(L, 3)));
}

Span vud::sp_fread(lua_State* L)
{
    return WriteSpan(L, 2, 0, CountLen(ArgInt(L, 3)));
}

int vud::SeekStream(lua_State* L, FILE* stream)
{
    int nPos = ArgInt(L, 2); // 4294967295 reads as -1
    int nFlag = ArgInt(L, 3);
    if (stream != NULL)
        (void)fseek(stream, (long)nPos, nFlag); // success or failure is not reported
    return PushedNothing(L); // pushes nothing: the origin comes back
}

int vud::WriteStream(lua_State* L, FILE* stream)
{
    Span s = sp_fwrite(L);
    // No stream, no buffer or a negative count: nothing is written.
    size_t nDone = 0;
    if (stream != NULL && s.p != NULL && s.nLen > 0)
        nDone = fwrite(s.p, 1, s.nLen, stream);
    lua_pushinteger(L, (int)nDone); // at most the count, so it fits
    return 1;
}

int vud::ReadStream(lua_State* L, FILE* stream)
{
    Span s = sp_fread(L);
    size_t nDone = 0;
    if (stream != NULL && s.p != NULL && s.nLen > 0)
        nDone = fread(s.p, 1, s.nLen, stream);
    lua_pushinteger(L, (int)nDone);
    return 1;
}

int vud::CloseStream(lua_State* L, FILE* stream)
{
    // Flushed before the test: a null stream flushes every output stream.
    (void)fflush(stream);
    if (stream != NULL)
        (void)fclose(stream);
    return PushedNothing(L); // pushes nothing: the stream handle comes back
}

int vud::ReadLine(lua_State* L, FILE* hFile)
{
    if (hFile == NULL) {
        (void)fprintf(stderr, "%s @ %d, file handle == null\n", kSourceName, kNullStreamLine);
        lua_pushboolean(L, 0);
        return 1;
    }
    // A buffer of this call's own (1 KiB of stack): nothing is shared, so
    // Lua states on several threads may read lines at the same time.
    char aLine[kLineLen];
    ZeroMemory(aLine, sizeof aLine);
    // errno is cleared so that a reason found after the read is this read's.
    errno = 0;
    if (fgets(aLine, kLineLen, hFile) != NULL) {
        aLine[kLineLen - 1] = '\0';
        lua_pushstring(L, aLine); // up to the first zero byte
        return 1;
    }
    // Nothing delivered: a read error only when the stream's error indicator
    // says so and this read left its reason; otherwise the end of file.
    // errno alone cannot tell (the C library may set it without failing),
    // nor can the indicator alone: it stays set from an earlier failed read.
    int nErr = errno;
    if (ferror(hFile) && nErr != 0) {
        (void)fprintf(stderr, "%s @ %d, %s\n", kSourceName, kReadErrorLine, strerror(nErr));
        lua_pushboolean(L, 0);
        return 1;
    }
    lua_pushnil(L); // end of file
    return 1;
}

int l_fseek(lua_State* L)
{
    return SeekStream(L, ArgStream(L, 1));
}

int l_fwrite(lua_State* L)
{
    return WriteStream(L, ArgStream(L, 1));
}

int l_fread(lua_State* L)
{
    return ReadStream(L, ArgStream(L, 1));
}

int l_fclose(lua_State* L)
{
    return CloseStream(L, ArgStream(L, 1));
}

int l_fgetALine(lua_State* L)
{
    return ReadLine(L, ArgStream(L, 1));
}

/* ---- POSIX descriptors -------------------------------------------------- */

/* The buffer of a descriptor transfer: the length's bytes from argument 2
 * (a length of 0 still reaches the system call). */
Span vud::sp_LFWrite(lua_State* L)
{
    return ReadSpan(L, 2, 0, CountLen(ArgInt(L, 3)));
}

Span vud::sp_LFRead(lua_State* L)
{
    return WriteSpan(L, 2, 0, CountLen(ArgInt(L, 3)));
}

int l_LFOpen(lua_State* L)
{
    const char* szFileName = ArgText(L, 1);
    DWORD nMode = ArgDword(L, 2); // 4294967296 reads as 0
    int fd = -1;
    // Any other mode, or a missing path, opens nothing.
    if (szFileName != NULL && nMode < sizeof kOpenFlags / sizeof kOpenFlags[0])
        fd = open(szFileName, kOpenFlags[nMode], kCreateBits);
    lua_pushinteger(L, fd);
    return 1;
}

int l_LFSeek(lua_State* L)
{
    int fd = ArgInt(L, 1);
    int64_t nOffset = ArgUnmaskedHalves(L, 2); // -1 with any high half is -1
    int nFlag = ArgInt(L, 4);
    (void)lseek(fd, (off_t)nOffset, nFlag); // position and error are dropped
    return PushedNothing(L); // pushes nothing: the origin comes back
}

int l_LFWrite(lua_State* L)
{
    int fd = ArgInt(L, 1);
    Span s = sp_LFWrite(L);
    // No buffer or a negative length: nothing is written, as for a failure.
    ssize_t nDone = 0;
    if (s.p != NULL && ArgInt(L, 3) >= 0)
        nDone = write(fd, s.p, s.nLen);
    PushTransferred(L, nDone, ArgInt(L, 3));
    return 1;
}

int l_LFRead(lua_State* L)
{
    int fd = ArgInt(L, 1);
    Span s = sp_LFRead(L);
    ssize_t nDone = 0;
    if (s.p != NULL && ArgInt(L, 3) >= 0)
        nDone = read(fd, s.p, s.nLen);
    PushTransferred(L, nDone, ArgInt(L, 3));
    return 1;
}

int l_LFClose(lua_State* L)
{
    int fd = ArgInt(L, 1);
    (void)close(fd);
    return PushedNothing(L); // pushes nothing: the descriptor comes back
}

/* ---- file management ---------------------------------------------------- */

int l_DeleteFile(lua_State* L)
{
    const char* szFileName = ArgText(L, 1);
    if (szFileName != NULL)
        (void)unlink(szFileName); // silent, whatever happens
    return PushedNothing(L); // pushes nothing: the path comes back
}

#if !VODUDID_SHELL_COPY
/* The hardened copy: cp from the search path with the two paths as its two
 * arguments, no shell in between, so nothing in a name is interpreted (and
 * no wildcard is expanded either). Waits for cp; its status is dropped. */
static void SpawnCopy(const char* szSrc, const char* szDes)
{
    char* argv[] = {const_cast<char*>("cp"), const_cast<char*>(szSrc),
                    const_cast<char*>(szDes), NULL};
    pid_t pid;
    if (posix_spawnp(&pid, "cp", NULL, NULL, argv, environ) != 0)
        return;
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}
#endif

int l_CopyFile(lua_State* L)
{
    const char* szSrcFileName = ArgText(L, 1);
    const char* szDesFileName = ArgText(L, 2);
    char strcmd[kCommandLen];
    ZeroMemory(strcmd, sizeof strcmd);
    // "cp", two blanks and the paths, unquoted: the shell splits them at
    // blanks and scripts rely on that. A command that would not fit, or one
    // missing a path, is not run at all; a cut command could copy or
    // overwrite something the script never named. The hardened build keeps
    // the same limit, so a name copies or not alike in both builds.
    if (szSrcFileName == NULL || szDesFileName == NULL)
        return PushedNothing(L);
    // snprintf never writes past the buffer and tells the full length: the
    // command runs only when all of it, with its zero, fitted.
    int nCmdLen = snprintf(strcmd, sizeof strcmd, "cp %s %s", szSrcFileName, szDesFileName);
    if (nCmdLen >= 0 && (size_t)nCmdLen < sizeof strcmd) {
#if VODUDID_SHELL_COPY
        // CopyFile is cp run by the shell, words unquoted: scripts rely on that.
        (void)!system(strcmd); // NOLINT(cert-env33-c): the exit status is dropped
#else
        SpawnCopy(szSrcFileName, szDesFileName);
#endif
    }
    return PushedNothing(L); // pushes nothing: the destination comes back
}

/* ---- registration ------------------------------------------------------- */

static const RegRow kFileRows[] = {
    {"fopen", l_fopen, ck_fopen},
    {"fseek", l_fseek, ck_fseek},
    {"fwrite", l_fwrite, ck_fwrite},
    {"fread", l_fread, ck_fread},
    {"fclose", l_fclose, ck_fclose},
    {"fgetALine", l_fgetALine, ck_fgetALine},
    {"LFopen", l_LFOpen, ck_LFOpen},
    {"LFseek", l_LFSeek, ck_LFSeek},
    {"LFwrite", l_LFWrite, ck_LFWrite},
    {"LFread", l_LFRead, ck_LFRead},
    {"LFclose", l_LFClose, ck_LFClose},
    {"DeleteFile", l_DeleteFile, NULL},
    {"CopyFile", l_CopyFile, ck_CopyFile},
};

int RegFileFun(lua_State* L)
{
    RegisterRows(L, kFileRows);
    return 1;
}

