// The Windows-style layer: the functions whose results differ from what
// their names suggest, and the ones that touch the file system.
#include "xcomplier_def.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace testing::internal;  // CaptureStdout, GetCapturedStderr and kin

TEST(GetModuleFileName, ReturnsTheBufferSizeAndTerminatesOnlyTheLastByte)
{
    const std::string exe = fs::read_symlink("/proc/self/exe").string();
    char szPath[XC_MAX_PATH];
    EXPECT_EQ(260u, GetModuleFileName(NULL, (char*)memset(szPath, 'z', sizeof szPath), XC_MAX_PATH));
    EXPECT_EQ(exe + std::string(259 - exe.size(), 'z'), szPath);
    GetModuleDirectory(szPath);  // zero-fills first: the full path, file name included
    EXPECT_EQ(exe, szPath);
    for (int n : {5, (int)exe.size(), 0, -1}) {  // too small: message and 0
        char szSmall[XC_MAX_PATH] = {};
        CaptureStderr();
        EXPECT_EQ(0u, GetModuleFileName(NULL, szSmall, n)) << n;
        std::string err = GetCapturedStderr();
        EXPECT_TRUE(err.rfind("readlink failed:: ", 0) == 0 && err.back() == '\n') << err;
        EXPECT_EQ('\0', szSmall[std::max(n, 0)]) << "wrote past the given size";
    }
}

// Rows worked out by hand from the bit layout (day 0-4, month 5-8, year - 1980
// from 9; second 0-4, minute 5-10, hour 11-15), spills and 16-bit cuts included.
TEST(SystemTimeToFileTime, PacksUnmaskedFieldsInto16BitWords)
{
    struct Row { const char* name; WORD y, mo, d, h, mi, s; DWORD date, time; } rows[] = {
        {"2020-06-15 13:45:30", 2020, 6, 15, 13, 45, 30, 20687, 28094},
        {"second 32 ORs into minute 1", 1980, 1, 1, 0, 1, 32, 33, 32},
        {"1979 wraps to 127, second 59 spills", 1979, 12, 31, 23, 59, 59, 65439, 49019},
        {"2108 wraps to 0, hour 32 cut off", 2108, 2, 3, 32, 0, 0, 67, 0},
        {"month 16 and minute 64 spill upwards", 1980, 16, 40, 1, 64, 0, 552, 2048},
    };
    for (const Row& r : rows) {
        SYSTEMTIME st = {r.y, r.mo, 0xFFFF, r.d, r.h, r.mi, r.s, 0xFFFF};  // day of week, ms: unread
        FILETIME ft = {0xA5A5FFFFu, 0x5A5AFFFFu}, copy = {};
        EXPECT_TRUE(SystemTimeToFileTime(&st, &ft) && LocalFileTimeToFileTime(&ft, &copy)) << r.name;
        EXPECT_EQ(0xA5A50000u | r.time, copy.dwLowDateTime) << r.name;  // high words untouched
        EXPECT_EQ(0x5A5A0000u | r.date, copy.dwHighDateTime) << r.name;
    }
}

TEST(Files, TempFileNameCreatesTheFileAndLengthMeasuresIt)
{
    char tmpl[] = "/tmp/vodudid-compat-XXXXXX", szName[XC_MAX_PATH], szTmp[8] = "xxxxxxx";
    const std::string dir = mkdtemp(tmpl);
    mode_t old = umask(0);
    EXPECT_EQ(0u, GetTempFileName(dir.c_str(), "abc", 77, szName));
    umask(old);
    EXPECT_EQ(dir + "/abc.tmp", szName);
    EXPECT_EQ(fs::perms(0664), fs::status(szName).permissions());
    auto length = [](const std::string& f) { return GetFileLength((signed char*)f.c_str()); };
    std::ofstream(szName, std::ios::binary) << std::string(12345, 'x');
    EXPECT_EQ(12345u, length(szName));
    GetTempFileName(dir.c_str(), "abc", 0, szName);  // an existing file is cut to 0
    EXPECT_EQ(0u, length(szName) + length(dir + "/missing"));
    fs::remove_all(dir);
    EXPECT_TRUE(GetTempPath(0, szTmp) == 0 && memcmp(szTmp, "/tmp\0xx", 8) == 0);
}

// Every byte 1..255, then a letter that changes (the last byte too), through strlwr and strupr: in
// the C locale exactly the letters of this fixed table change.
TEST(Text, CaseFunctionsTclenAndTcsinc)
{
    const char upper[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ", lower[] = "abcdefghijklmnopqrstuvwxyz";
    std::string all;
    for (int c = 1; c < 256; ++c) all += (char)c;
    for (auto [f, from, to] : {std::tuple{&strlwr, upper, lower}, std::tuple{&strupr, lower, upper}}) {
        std::string s = all + from[0], want = s;
        for (char& c : want) c = strchr(from, c) ? to[strchr(from, c) - from] : c;  // no NUL in want
        EXPECT_EQ(&s[0], f(&s[0]));
        EXPECT_EQ(want, s);
    }
    const char* t = "\xC3\xA9x";  // a two-byte character, then x
    EXPECT_EQ(3u, _tclen(t));  // the whole rest, not one character
    EXPECT_TRUE(_tcsinc(t) == t + 1 && _tclen(t + 3) == 0);
}

TEST(Output, MessageBoxDebugFunctionAndLoadLibraryWriteToStdout)
{
    const char* lib = getenv("VODUDID_LIB");
    CaptureStdout();
    MessageBox(NULL, "text", "caption", 0);
    DebugFunction(false, "hidden");
    DebugFunction(true, "shown");
    HMODULE h = LoadLibrary(lib);
    EXPECT_EQ(nullptr, LoadLibrary("/nonexistent/x.so"));
    EXPECT_EQ(std::string("text\nshown") + "library file path: " + lib + "\nlibrary file path: /nonexistent/x.so\n"
              "/nonexistent/x.so: cannot open shared object file: No such file or directory\n", GetCapturedStdout());
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(0, FreeLibrary(h));  // 0 is success here
}

// CreateThread and the charset conversions pass on what pthread and the C library say.
TEST(Posix, CreateThreadAndCharsetsPassResultsOn)
{
    static std::atomic<int> ran{0};
    int value = 5, id = 0xDEADBEEF;
    auto start = [](void* p) -> void* { return ran = *(int*)p, nullptr; };
    EXPECT_EQ(0, CreateThread(nullptr, 0, start, &value, 0, (DWORD*)&id));
    EXPECT_EQ((int)0xDEADBEEF, id);  // the id is not passed back
    for (int i = 0; i < 5000 && ran == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(5, ran);
    wchar_t wide[8];
    char narrow[8] = "";
    EXPECT_EQ(3, MultiByteToWideChar(0, 0, "abc", -1, wide, 8));
    EXPECT_EQ(3, WideCharToMultiByte(0, 0, wide, -1, narrow, 8, nullptr, nullptr));
    EXPECT_STREQ("abc", narrow);
    EXPECT_EQ(-1, MultiByteToWideChar(0, 0, "\xC3\xA9", -1, wide, 8));  // not ASCII in "C"
    EXPECT_EQ((DWORD)EILSEQ, GetLastError());
}
