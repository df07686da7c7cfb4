// The Windows-style layer: the functions whose results differ from what
// their names suggest, and the ones that touch the file system.
#include "xcomplier_def.h"

#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::string ExePath()
{
    return fs::read_symlink("/proc/self/exe").string();
}

struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/vodudid-compat-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
};

} // namespace

TEST(GetModuleFileName, ReturnsBufferSizeAndTheExecutablePath)
{
    char szPath[XC_MAX_PATH];
    ZeroMemory(szPath, sizeof szPath);
    ASSERT_LT(ExePath().size(), sizeof szPath);
    EXPECT_EQ(260u, GetModuleFileName(NULL, szPath, XC_MAX_PATH));
    EXPECT_EQ(ExePath(), szPath);

    // Only the last byte is terminated: what lies between the path's end and
    // the buffer's last byte is left as it was.
    memset(szPath, 'z', sizeof szPath);
    EXPECT_EQ(260u, GetModuleFileName(NULL, szPath, XC_MAX_PATH));
    EXPECT_EQ(ExePath() + std::string(259 - ExePath().size(), 'z'), szPath);
}

TEST(GetModuleFileName, ReportsAPathThatDoesNotFit)
{
    const int sizes[] = {5, (int)ExePath().size(), 0, -1};
    for (int n : sizes) {
        char szPath[XC_MAX_PATH] = {};
        testing::internal::CaptureStderr();
        EXPECT_EQ(0u, GetModuleFileName(NULL, szPath, n)) << n;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(0u, err.rfind("readlink failed:: ", 0)) << err;
        EXPECT_EQ('\n', err.back());
        EXPECT_EQ(0, memchr(szPath, 0, sizeof szPath) == NULL) << "no write past n";
    }
}

TEST(GetModuleDirectory, CopiesTheFullPath)
{
    char szPath[XC_MAX_PATH];
    memset(szPath, 'q', sizeof szPath);
    GetModuleDirectory(szPath);
    EXPECT_EQ(ExePath(), szPath);
}

TEST(SystemTimeToFileTime, PacksUnmaskedFieldsInto16BitWords)
{
    std::mt19937 rng(42);
    for (int i = 0; i < 20000; ++i) {
        SYSTEMTIME st;
        WORD* f = &st.wYear;
        for (int k = 0; k < 8; ++k)
            f[k] = (WORD)(i < 10000 ? rng() % 64 : rng());
        st.wYear = (WORD)(i % 3 == 0 ? rng() : 1900 + rng() % 300);
        FILETIME ft = {(DWORD)rng(), (DWORD)rng()};
        const FILETIME before = ft;
        ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
        // Model: plain integer arithmetic, then the low 16 bits.
        unsigned long long time = ((unsigned long long)st.wHour << 11 | (unsigned long long)st.wMinute << 5 |
                                   st.wSecond) & 0xFFFF;
        long long years = (long long)st.wYear - 1980;
        unsigned long long date =
            (((unsigned long long)(years & 0x7F) << 9) | (unsigned long long)st.wMonth << 5 | st.wDay) &
            0xFFFF;
        ASSERT_EQ((before.dwLowDateTime & 0xFFFF0000u) | time, ft.dwLowDateTime);
        ASSERT_EQ((before.dwHighDateTime & 0xFFFF0000u) | date, ft.dwHighDateTime);
    }
    SYSTEMTIME st = {2020, 6, 1, 15, 13, 45, 30, 999};
    FILETIME ft = {0xABCD0000u, 0x12340000u};
    SystemTimeToFileTime(&st, &ft);
    EXPECT_EQ(0xABCD0000u | 28094u, ft.dwLowDateTime);
    EXPECT_EQ(0x12340000u | 20687u, ft.dwHighDateTime);

    FILETIME copy = {1, 2};
    EXPECT_TRUE(LocalFileTimeToFileTime(&ft, &copy));
    EXPECT_EQ(0, memcmp(&ft, &copy, sizeof ft));
}

TEST(Files, TempFileNameCreatesTheFileAndLengthMeasuresIt)
{
    TempDir dir;
    char szName[XC_MAX_PATH];
    mode_t old = umask(0);
    EXPECT_EQ(0u, GetTempFileName(dir.path.c_str(), "abc", 77, szName));
    umask(old);
    EXPECT_EQ(dir.path.string() + "/abc.tmp", szName);
    struct stat sb;
    ASSERT_EQ(0, stat(szName, &sb));
    EXPECT_EQ(0664u, sb.st_mode & 07777);
    EXPECT_EQ(0u, GetFileLength((signed char*)szName));

    std::ofstream(szName, std::ios::binary) << std::string(12345, 'x');
    EXPECT_EQ(12345u, GetFileLength((signed char*)szName));
    // An existing file is cut to length 0.
    GetTempFileName(dir.path.c_str(), "abc", 0, szName);
    EXPECT_EQ(0u, GetFileLength((signed char*)szName));
    EXPECT_EQ(0u, GetFileLength((signed char*)(dir.path / "missing").c_str()));

    char szTmp[8];
    memset(szTmp, 'x', sizeof szTmp);
    EXPECT_EQ(0u, GetTempPath(0, szTmp));
    EXPECT_EQ(0, memcmp(szTmp, "/tmp\0xxx", 8));
}

TEST(Text, CaseFunctionsMatchTheCLibraryByteForByte)
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
}

TEST(Text, TclenMeasuresTheRestAndTcsincStepsOneByte)
{
    const char* s = "abc";
    EXPECT_EQ(3u, _tclen(s));
    EXPECT_EQ(2u, _tclen(_tcsinc(s)));
    EXPECT_EQ(0u, _tclen(""));
    const char* utf8 = "\xC3\xA9x"; // one two-byte character, then x
    EXPECT_EQ(utf8 + 1, _tcsinc(utf8));
    EXPECT_EQ(2u, _tclen(_tcsinc(utf8)));

    unsigned char buf[4] = {1, 2, 3, 4};
    ZeroMemory(buf, 0);
    EXPECT_EQ(1, buf[0]);
    ZeroMemory(buf + 1, 2);
    EXPECT_EQ(0, memcmp(buf, "\x01\x00\x00\x04", 4));
}

TEST(Output, MessageBoxAndDebugFunctionWriteToStdout)
{
    testing::internal::CaptureStdout();
    MessageBox(NULL, "text", "caption", 0);
    DebugFunction(false, "hidden");
    DebugFunction(true, "shown");
    EXPECT_EQ("text\nshown", testing::internal::GetCapturedStdout());
}

TEST(SharedObjects, LoadLibraryPrintsThePathAndTheLoaderError)
{
    const char* lib = getenv("VODUDID_LIB");
    ASSERT_NE(nullptr, lib);
    testing::internal::CaptureStdout();
    HMODULE h = LoadLibrary(lib);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(std::string("library file path: ") + lib + "\n", out);
    EXPECT_NE(nullptr, dlsym(h, "l_RegAllFun"));
    EXPECT_EQ(0, FreeLibrary(h));

    testing::internal::CaptureStdout();
    EXPECT_EQ(nullptr, LoadLibrary("/nonexistent/libnothing.so"));
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, out.find("library file path: /nonexistent/libnothing.so\n/nonexistent/libnothing.so: "))
        << out;
    EXPECT_EQ('\n', out.back());
}

TEST(Threads, CreateThreadRunsTheRoutineAndReturnsZero)
{
    static std::atomic<int> ran{0};
    auto routine = [](void* p) -> void* {
        ran.store(*(int*)p);
        return nullptr;
    };
    int value = 5;
    DWORD id = 0xDEADBEEF;
    EXPECT_EQ(0, CreateThread(nullptr, 0, routine, &value, 0, &id));
    EXPECT_EQ(0xDEADBEEFu, id); // the id is not passed back
    for (int i = 0; i < 5000 && ran.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(5, ran.load());
}

TEST(Charsets, ConversionsFollowTheCLocale)
{
    wchar_t wide[8];
    EXPECT_EQ(3, MultiByteToWideChar(0, 0, "abc", -1, wide, 8));
    EXPECT_EQ(std::wstring(L"abc"), wide);
    char narrow[8];
    bool used = true;
    EXPECT_EQ(3, WideCharToMultiByte(0, 0, L"xyz", -1, narrow, 8, nullptr, &used));
    EXPECT_STREQ("xyz", narrow);
    EXPECT_TRUE(used); // never written
    EXPECT_EQ(-1, WideCharToMultiByte(0, 0, L"\u00e9", -1, narrow, 8, nullptr, nullptr));
    EXPECT_EQ(-1, MultiByteToWideChar(0, 0, "\xC3\xA9", -1, wide, 8));
    EXPECT_EQ(GetLastError(), (DWORD)errno);
}

TEST(Types, WidthsAreThoseScriptsAndHostsRelyOn)
{
    static_assert(sizeof(BOOL) == 1 && sizeof(DWORD) == 4 && sizeof(WORD) == 2);
    static_assert(sizeof(__int64) == 8 && sizeof(__u64) == 8 && sizeof(wchar_t) == 4);
    static_assert(sizeof(SYSTEMTIME) == 16 && sizeof(FILETIME) == 8);
    static_assert(std::is_same_v<__int64, long long> && std::is_same_v<DWORD, unsigned int>);
    SUCCEED();
}
