/*
 * vodudid - a small Lua 5.1 host for libvodUdid.so.
 *
 *   vodudid [--lib PATH] [--checked] [-v] [-e CHUNK]... [SCRIPT|-] [ARGS...]
 *
 * Parses the command line first; then, inside one protected call as lua.c
 * does, opens the standard libraries, loads the library with dlopen, calls
 * its l_RegAllFun, and runs the -e chunks and the script. `arg` is set as the
 * lua5.1 interpreter sets it: only for a script or an explicit -, after the
 * -e chunks ran. Without a script and without -e (or -v), the script is
 * read from standard input, or typed at a prompt when that is a terminal.
 *
 * The library is, unless --lib names one, the libvodUdid.so beside this
 * executable (the build tree), else the installed one in the library folder
 * next to this executable's, else whatever the dynamic loader finds.
 *
 * Exit status: 0 on success, 1 for a Lua error (message and traceback on
 * standard error), 2 when the library or its entry cannot be found or the
 * command line is wrong.
 */
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <lua.hpp>

namespace {

const char kProgName[] = "vodudid";
const char kLibName[] = "libvodUdid.so";

void PrintUsage(FILE* out)
{
    (void)fprintf(out,
            "usage: %s [--lib PATH] [--checked] [-v] [-e CHUNK]... [SCRIPT|-] [ARGS...]\n"
            "  --lib PATH     load the library from PATH (default: %s beside %s,\n"
            "                 then the installed one)\n"
            "  --checked      catch the script's memory mistakes (VODUDID_CHECKED=1)\n"
            "  -v, --version  print the version\n"
            "  -e CHUNK       run the Lua text CHUNK (may repeat)\n"
            "  -h, --help     print this help and exit\n"
            "  SCRIPT         run this file; - or nothing reads standard input\n"
            "                 (a prompt on a terminal)\n",
            kProgName, kLibName, kProgName);
}

/* Where the library is looked for, in order: beside this executable, in
 * the installed library folder relative to it, then by its soname through
 * the loader's own search. */
std::vector<std::string> DefaultLibPaths()
{
    std::vector<std::string> paths;
    char szExe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", szExe, sizeof szExe - 1);
    if (n > 0) {
        std::string exe(szExe, (size_t)n);
        std::string dir = exe.substr(0, exe.rfind('/') + 1);
        paths.push_back(dir + kLibName);
        paths.push_back(dir + VODUDID_LIBDIR_FROM_BINDIR "/" VODUDID_SONAME);
    }
    paths.push_back(VODUDID_SONAME);
    return paths;
}

/* Message handler: the error text with a traceback. */
int Traceback(lua_State* L)
{
    const char* msg = lua_tostring(L, 1);
    if (msg == NULL)
        msg = lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
    lua_getfield(L, LUA_GLOBALSINDEX, "debug");
    if (!lua_istable(L, -1)) {
        lua_pushstring(L, msg);
        return 1;
    }
    lua_getfield(L, -1, "traceback");
    if (!lua_isfunction(L, -1)) {
        lua_pushstring(L, msg);
        return 1;
    }
    lua_pushstring(L, msg);
    lua_pushinteger(L, 2);
    lua_call(L, 2, 1);
    return 1;
}

/* Reports a failed status as the lua interpreter does. Returns 0 or 1. */
int Report(lua_State* L, int status)
{
    if (status != 0) {
        const char* msg = lua_tostring(L, -1);
        (void)fprintf(stderr, "%s: %s\n", kProgName, msg ? msg : "(error object is not a string)");
        lua_pop(L, 1);
        return 1;
    }
    return 0;
}

/* Runs the function below its nArgs arguments on top of the stack, with a
 * traceback for errors; its results stay. Returns 0 or 1. */
int Call(lua_State* L, int nArgs, int nResults = 0)
{
    int base = lua_gettop(L) - nArgs;
    lua_pushcfunction(L, Traceback);
    lua_insert(L, base);
    int status = lua_pcall(L, nArgs, nResults, base);
    lua_remove(L, base);
    return Report(L, status);
}

/* ---- the prompt, as lua5.1 gives it on a terminal --------------------------- */

/* Reads one line after the prompt and pushes it; false at the end of input.
 * A first line "=expr" stands for "return expr". */
bool PushLine(lua_State* L, bool bFirst)
{
    (void)fputs(bFirst ? "> " : ">> ", stdout);
    (void)fflush(stdout);
    std::string line;
    char buf[512];
    while (fgets(buf, sizeof buf, stdin) != NULL) {
        line += buf;
        if (line.back() == '\n')
            break;
    }
    if (line.empty())
        return false;
    if (line.back() == '\n')
        line.pop_back();
    if (bFirst && line[0] == '=')
        line = "return " + line.substr(1);
    lua_pushlstring(L, line.data(), line.size());
    return true;
}

/* A syntax error at the end of the text: the statement goes on. */
bool Incomplete(lua_State* L, int status)
{
    static const char kEof[] = "'<eof>'";
    size_t n;
    const char* msg = lua_tolstring(L, -1, &n);
    if (status != LUA_ERRSYNTAX || n < sizeof kEof - 1 ||
        strcmp(msg + n - (sizeof kEof - 1), kEof) != 0)
        return false;
    lua_pop(L, 1);
    return true;
}

/* Loads one statement, line by line while it is incomplete; leaves the
 * chunk or the error. Returns the status, or -1 at the end of input. */
int LoadStatement(lua_State* L)
{
    lua_settop(L, 0);
    if (!PushLine(L, true))
        return -1;
    for (;;) {
        int status = luaL_loadbuffer(L, lua_tostring(L, 1), lua_objlen(L, 1), "=stdin");
        if (!Incomplete(L, status)) {
            lua_remove(L, 1);
            return status;
        }
        if (!PushLine(L, false))
            return -1;
        lua_pushliteral(L, "\n");
        lua_insert(L, -2);
        lua_concat(L, 3);
    }
}

/* Runs each statement typed and prints what it returns, as lua5.1 does;
 * an error is shown and the prompt comes back. */
void Interactive(lua_State* L)
{
    int status;
    while ((status = LoadStatement(L)) != -1) {
        if (Report(L, status) == 0 && Call(L, 0, LUA_MULTRET) == 0 && lua_gettop(L) > 0) {
            lua_getglobal(L, "print");
            lua_insert(L, 1);
            if (lua_pcall(L, lua_gettop(L) - 1, 0, 0) != 0)
                (void)fprintf(stderr, "%s: error calling 'print' (%s)\n", kProgName,
                              lua_tostring(L, -1));
        }
        (void)fflush(stdout);
    }
    lua_settop(L, 0);
    (void)fputs("\n", stdout);
}

/* arg[0] is the script, arg[1..] its arguments, arg[-1..] what came before. */
void SetArgTable(lua_State* L, char** argv, int argc, int scriptIndex)
{
    lua_createtable(L, argc - scriptIndex - 1, scriptIndex + 1);
    for (int i = 0; i < argc; ++i) {
        lua_pushstring(L, argv[i]);
        lua_rawseti(L, -2, i - scriptIndex);
    }
    lua_setglobal(L, "arg");
}

/* Loads the library and returns its entry; NULL after reporting why not. */
lua_CFunction LoadEntry(const std::string& libPath)
{
    std::vector<std::string> paths;
    if (libPath.empty())
        paths = DefaultLibPaths();
    else
        paths.push_back(libPath);
    std::string errors;
    for (const std::string& path : paths) {
        void* lib = dlopen(path.c_str(), RTLD_NOW);
        if (lib == NULL) {
            errors += std::string(kProgName) + ": cannot load library '" + path + "': " +
                      dlerror() + "\n";
            continue;
        }
        // The library stays loaded until the process ends: the state keeps
        // its functions.
        lua_CFunction entry = (lua_CFunction)dlsym(lib, "l_RegAllFun");
        if (entry == NULL)
            (void)fprintf(stderr, "%s: no l_RegAllFun in '%s': %s\n", kProgName, path.c_str(),
                    dlerror());
        return entry;
    }
    (void)fputs(errors.c_str(), stderr);
    return NULL;
}

/* ---- the command line ------------------------------------------------------ */

/* What the command line asks for; parsed before any Lua runs. */
struct Options {
    std::string libPath;
    std::vector<const char*> chunks;
    const char* script = NULL; // argv[scriptIndex], or NULL
    int scriptIndex = 0;       // where the script's arguments start, less one
    bool readStdin = false;    // the script is standard input
    bool prompt = false;       // ... typed at a prompt
    bool showVersion = false;
};

/* An option taking a value: the value, or NULL when none follows. */
const char* OptionValue(int argc, char** argv, int& i)
{
    return ++i < argc ? argv[i] : NULL;
}

/* Fills opt from argv. Returns -1 to go on running, else the exit status
 * (0 after --help, 2 for a wrong command line). */
int ParseArgs(int argc, char** argv, Options& opt)
{
    bool afterDashDash = false;
    int i = 1;
    for (; i < argc; ++i) {
        const char* a = argv[i];
        if (strcmp(a, "--lib") == 0 || strcmp(a, "-e") == 0) {
            const char* v = OptionValue(argc, argv, i);
            if (v == NULL) {
                PrintUsage(stderr);
                return 2;
            }
            if (a[1] == 'e')
                opt.chunks.push_back(v);
            else
                opt.libPath = v;
        } else if (strncmp(a, "--lib=", 6) == 0) {
            opt.libPath = a + 6;
        } else if (strcmp(a, "--checked") == 0) {
            // Read by the library when it registers: checked mode (docs/checked.md).
            setenv("VODUDID_CHECKED", "1", 1);
        } else if (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0) {
            PrintUsage(stdout);
            return 0;
        } else if (strcmp(a, "-v") == 0 || strcmp(a, "--version") == 0) {
            opt.showVersion = true;
        } else if (strcmp(a, "--") == 0) {
            ++i;
            afterDashDash = true;
            break;
        } else if (a[0] == '-' && a[1] != '\0') {
            (void)fprintf(stderr, "%s: unrecognized option '%s'\n", kProgName, a);
            PrintUsage(stderr);
            return 2;
        } else {
            break;
        }
    }
    // The first non-option is the script; "-" stands for standard input
    // unless it follows "--". With no script, standard input is read only
    // when neither -e chunks nor -v were the whole job, and then without
    // `arg`, as lua5.1 does; on a terminal it is typed at a prompt.
    opt.scriptIndex = i;
    opt.script = i < argc ? argv[i] : NULL;
    opt.readStdin = opt.script == NULL ? opt.chunks.empty() && !opt.showVersion
                                       : strcmp(opt.script, "-") == 0 && !afterDashDash;
    opt.prompt = opt.script == NULL && opt.readStdin && isatty(STDIN_FILENO);
    return -1;
}

/* ---- running, inside one protected call ---------------------------------- */

struct Job {
    const Options* opt;
    int argc;
    char** argv;
    int status; // the exit status RunAll decided
};

/* The -e chunks, in order; 0, or 1 after the first that failed. */
int RunChunks(lua_State* L, const Options& opt)
{
    for (const char* chunk : opt.chunks) {
        if (Report(L, luaL_loadbuffer(L, chunk, strlen(chunk), "=(command line)")) ||
            Call(L, 0))
            return 1;
    }
    return 0;
}

/* The script, or standard input, with its arguments. */
int RunScript(lua_State* L, const Job& job)
{
    const Options& opt = *job.opt;
    if (opt.script != NULL)
        SetArgTable(L, job.argv, job.argc, opt.scriptIndex);
    if (Report(L, luaL_loadfile(L, opt.readStdin ? NULL : opt.script)))
        return 1;
    int nArgs = 0;
    for (int k = opt.scriptIndex + 1; k < job.argc; ++k, ++nArgs)
        lua_pushstring(L, job.argv[k]);
    return Call(L, nArgs);
}

/* Everything the options ask for, in lua5.1's order: the standard
 * libraries, the library's globals, the -e chunks, then the script. */
int RunAll(lua_State* L, const Job& job)
{
    const Options& opt = *job.opt;
    if (opt.showVersion || opt.prompt)
        printf("%s %s\n", kProgName, VODUDID_VERSION);
    luaL_openlibs(L);
    lua_CFunction entry = LoadEntry(opt.libPath);
    if (entry == NULL)
        return 2;
    entry(L);
    if (RunChunks(L, opt) != 0)
        return 1;
    if (opt.prompt) {
        Interactive(L);
        return 0;
    }
    if (opt.script == NULL && !opt.readStdin)
        return 0;
    return RunScript(L, job);
}

/* The protected call's function: an error raised outside the script (no
 * memory, a failing registration) ends up with lua_cpcall's caller. */
int PMain(lua_State* L)
{
    Job* job = static_cast<Job*>(lua_touserdata(L, 1));
    lua_pop(L, 1);
    job->status = RunAll(L, *job);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    int status = ParseArgs(argc, argv, opt);
    if (status >= 0)
        return status;
    lua_State* L = luaL_newstate();
    if (L == NULL) {
        (void)fprintf(stderr, "%s: cannot create Lua state\n", kProgName);
        return 2;
    }
    Job job = {&opt, argc, argv, 0};
    status = Report(L, lua_cpcall(L, PMain, &job)) ? 1 : job.status;
    lua_close(L);
    // The library writes with puts and printf: make sure nothing buffered is
    // lost when standard output is a pipe.
    if (fflush(NULL) != 0 && status == 0)
        status = 1;
    return status;
}
