// The Windows-style layer: the functions whose results differ from what
// their names suggest, and the ones that touch the file system.
#include "xcomplier_def.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

static const std::string kExe = fs::read_symlink("/proc/self/exe").string();

TEST(GetModuleFileName, ReturnsTheBufferSizeAndTerminatesOnlyTheLastByte)
{
    char szPath[XC_MAX_PATH];
    memset(szPath, 'z', sizeof szPath);
    EXPECT_EQ(260u, GetModuleFileName(NULL, szPath, XC_MAX_PATH));
    EXPECT_EQ(kExe + std::string(259 - kExe.size(), 'z'), szPath);
    GetModuleDirectory(szPath); // zero-fills first: the full path, file name included
    EXPECT_EQ(kExe, szPath);

    for (int n : {5, (int)kExe.size(), 0, -1}) { // too small: message and 0
        char szSmall[XC_MAX_PATH] = {};
        CaptureStderr();
        EXPECT_EQ(0u, GetModuleFileName(NULL, szSmall, n)) << n;
        std::string err = GetCapturedStderr();
        EXPECT_EQ(0u, err.rfind("readlink failed:: ", 0)) << err;
        EXPECT_EQ('\n', err.back());
        EXPECT_EQ('\0', szSmall[std::max(n, 0)]) << "wrote past the given size";
    }
}

TEST(SystemTimeToFileTime, PacksUnmaskedFieldsInto16BitWords)
{
    std::mt19937 rng(42);
    for (int i = 0; i < 20000; ++i) {
        SYSTEMTIME st;
        for (WORD* f = &st.wYear; f <= &st.wMilliseconds; ++f)
            *f = (WORD)(i % 2 ? rng() % 64 : rng());
        st.wYear = (WORD)(i % 3 ? 1900 + rng() % 300 : rng());
        FILETIME ft = {(DWORD)rng(), (DWORD)rng()}, before = ft;
        ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
        // Model: fields shifted in wide integers and OR-ed, spilling, then 16 bits.
        long long time = (st.wHour * 2048LL | st.wMinute * 32LL | st.wSecond) & 0xFFFF;
        long long date = ((((long long)st.wYear - 1980) & 0x7F) * 512 | st.wMonth * 32LL | st.wDay) & 0xFFFF;
        ASSERT_EQ((before.dwLowDateTime & 0xFFFF0000u) | time, ft.dwLowDateTime);
        ASSERT_EQ((before.dwHighDateTime & 0xFFFF0000u) | date, ft.dwHighDateTime);
        FILETIME copy = {};
        EXPECT_TRUE(LocalFileTimeToFileTime(&ft, &copy));
        ASSERT_EQ(0, memcmp(&ft, &copy, sizeof ft));
    }
}

TEST(Files, TempFileNameCreatesTheFileAndLengthMeasuresIt)
{
    char tmpl[] = "/tmp/vodudid-compat-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    char szName[XC_MAX_PATH];
    mode_t old = umask(0);
    EXPECT_EQ(0u, GetTempFileName(dir.c_str(), "abc", 77, szName));
    umask(old);
    EXPECT_EQ(dir + "/abc.tmp", szName);
    struct stat sb;
    ASSERT_EQ(0, stat(szName, &sb));
    EXPECT_EQ(0664u, sb.st_mode & 07777);

    std::ofstream(szName, std::ios::binary) << std::string(12345, 'x');
    EXPECT_EQ(12345u, GetFileLength((signed char*)szName));
    GetTempFileName(dir.c_str(), "abc", 0, szName); // an existing file is cut to 0
    EXPECT_EQ(0u, GetFileLength((signed char*)szName));
    EXPECT_EQ(0u, GetFileLength((signed char*)(dir + "/missing").c_str()));
    fs::remove_all(dir);

    char szTmp[8] = "xxxxxxx";
    EXPECT_EQ(0u, GetTempPath(0, szTmp));
    EXPECT_EQ(0, memcmp(szTmp, "/tmp\0xx", 8));
}

TEST(Text, CaseFunctionsTclenAndTcsinc)
{
    char lower[256], upper[256];
    for (int c = 1; c < 256; ++c)
        lower[c - 1] = upper[c - 1] = (char)c;
    lower[255] = upper[255] = 0;
    EXPECT_EQ(lower, strlwr(lower));
    EXPECT_EQ(upper, strupr(upper));
    for (int c = 1; c < 256; ++c) {
        EXPECT_EQ((unsigned char)tolower(c), (unsigned char)lower[c - 1]) << c;
        EXPECT_EQ((unsigned char)toupper(c), (unsigned char)upper[c - 1]) << c;
    }
    const char* s = "\xC3\xA9x"; // a two-byte character, then x
    EXPECT_EQ(3u, _tclen(s));    // the whole rest, not one character
    EXPECT_EQ(s + 1, _tcsinc(s));
    EXPECT_EQ(0u, _tclen(s + 3));
}

TEST(Output, MessageBoxDebugFunctionAndLoadLibraryWriteToStdout)
{
    CaptureStdout();
    MessageBox(NULL, "text", "caption", 0);
    DebugFunction(false, "hidden");
    DebugFunction(true, "shown");
    EXPECT_EQ("text\nshown", GetCapturedStdout());

    const char* lib = getenv("VODUDID_LIB");
    CaptureStdout();
    HMODULE h = LoadLibrary(lib);
    EXPECT_EQ(std::string("library file path: ") + lib + "\n", GetCapturedStdout());
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(0, FreeLibrary(h)); // 0 is success here
    CaptureStdout();
    EXPECT_EQ(nullptr, LoadLibrary("/nonexistent/x.so"));
    EXPECT_EQ("library file path: /nonexistent/x.so\n"
              "/nonexistent/x.so: cannot open shared object file: No such file or directory\n",
              GetCapturedStdout());
}

TEST(Threads, CreateThreadReturnsZeroNotAHandle)
{
    static std::atomic<int> ran{0};
    int value = 5;
    DWORD id = 0xDEADBEEF;
    EXPECT_EQ(0, CreateThread(nullptr, 0, [](void* p) -> void* { ran = *(int*)p; return nullptr; },
                              &value, 0, &id));
    EXPECT_EQ(0xDEADBEEFu, id); // the id is not passed back
    for (int i = 0; i < 5000 && ran == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(5, ran);
}

TEST(Charsets, ConversionsFollowTheCLocale)
{
    wchar_t wide[8];
    char narrow[8];
    EXPECT_EQ(3, MultiByteToWideChar(0, 0, "abc", -1, wide, 8));
    EXPECT_EQ(3, WideCharToMultiByte(0, 0, wide, -1, narrow, 8, nullptr, nullptr));
    EXPECT_STREQ("abc", narrow);
    EXPECT_EQ(-1, MultiByteToWideChar(0, 0, "\xC3\xA9", -1, wide, 8)); // not ASCII in "C"
    EXPECT_EQ((DWORD)EILSEQ, GetLastError());
}
