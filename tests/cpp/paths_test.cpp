// The exported path functions against small std::string models.
#include "stdafx.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BCString.h"
#include "vodUdid.h"

namespace {

// The directory part: up to and including the last backslash, else ".\".
std::string DirectoryModel(const std::string& s)
{
    size_t pos = s.rfind('\\');
    return pos == std::string::npos ? std::string(".\\") : s.substr(0, pos + 1);
}

// The file name: after the rightmost separator at index 1 or later.
std::string FileNameModel(const std::string& s, char sep)
{
    size_t pos = s.rfind(sep);
    return pos == std::string::npos || pos == 0 ? std::string() : s.substr(pos + 1);
}

std::string Text(const CBCString& cs)
{
    const char* p = cs;
    return p ? std::string(p) : std::string("<null>");
}

// GetDirectoryFromPath into a heap block of exactly the documented size, so
// that the sanitizer build catches any write past it.
std::string Directory(const std::string& path)
{
    size_t n = std::max<size_t>(path.size() + 1, 3);
    std::unique_ptr<char[]> buf(new char[n]);
    memset(buf.get(), 'Z', n);
    GetDirectoryFromPath(path.c_str(), buf.get());
    return std::string(buf.get(), strnlen(buf.get(), n));
}

// Named rows, then every string of up to six bytes over the bytes that
// matter: 5461 paths.
std::vector<std::string> Paths()
{
    std::vector<std::string> rows = {
        "C:\\dir\\app.exe", "\\app", "a\\b\\", "app", "", "/usr/bin/app",
        "/usr/local/bin/tool", "dir/file.txt", "//x", "file.txt", "/file", "dir/",
        "C:\\dir\\file.txt", "\\\\", "\\", "a\\", "a/b\\c", "a\\b/c",
        std::string(5000, 'x') + "\\" + std::string(300, 'y'),
    };
    const char alphabet[] = {'a', '\\', '/', '.'};
    std::vector<std::string> level = {""};
    for (int len = 1; len <= 6; ++len) {
        std::vector<std::string> next;
        for (const std::string& s : level)
            for (char c : alphabet)
                next.push_back(s + c);
        rows.insert(rows.end(), next.begin(), next.end());
        level.swap(next);
    }
    return rows;
}

TEST(GetDirectoryFromPath, MatchesModel)
{
    for (const std::string& path : Paths())
        EXPECT_EQ(DirectoryModel(path), Directory(path)) << "path: " << path;
}

TEST(GetDirectoryFromPath, CopiesTheWholePathFirst)
{
    // The directory is cut out of a full copy: past its terminator the
    // buffer holds the rest of the path.
    char buf[16];
    memset(buf, 'Z', sizeof buf);
    GetDirectoryFromPath("ab\\cd", buf);
    EXPECT_EQ(0, memcmp(buf, "ab\\\0d\0ZZ", 8));
    memset(buf, 'Z', sizeof buf);
    GetDirectoryFromPath("abcde", buf);
    EXPECT_EQ(0, memcmp(buf, ".\\\0de\0ZZ", 8));
}

TEST(GetDirectoryFromPath, InPlaceAndNullArguments)
{
    char buf[] = "x\\y\\z.txt";
    GetDirectoryFromPath(buf, buf);
    EXPECT_STREQ("x\\y\\", buf);

    char out[4] = "QQQ";
    GetDirectoryFromPath(nullptr, out);
    EXPECT_STREQ(".\\", out);
    GetDirectoryFromPath("a\\b", nullptr); // nothing to write into: no effect
}

TEST(GetFileNameFromPath, MatchesModelForBothSeparators)
{
    for (const std::string& path : Paths()) {
        EXPECT_EQ(FileNameModel(path, '/'), Text(GetFileNameFromPath(path.c_str(), true)))
            << "slash, path: " << path;
        EXPECT_EQ(FileNameModel(path, '\\'), Text(GetFileNameFromPath(path.c_str(), false)))
            << "backslash, path: " << path;
    }
}

TEST(GetFileNameFromPath, NullPathIsEmpty)
{
    EXPECT_EQ("", Text(GetFileNameFromPath(nullptr, true)));
    EXPECT_EQ("", Text(GetFileNameFromPath(nullptr, false)));
}

TEST(GetModulePath, IsTheDirectoryOfThisExecutable)
{
    std::vector<char> link(65536);
    ssize_t n = readlink("/proc/self/exe", link.data(), link.size());
    ASSERT_GT(n, 0);
    std::string exe(link.data(), (size_t)n);
    // Up to and including the last slash; a path too long for the 260-byte
    // buffer falls back to dot-backslash.
    std::string expected = exe.size() < 260 ? exe.substr(0, exe.rfind('/') + 1) : ".\\";

    testing::internal::CaptureStderr();
    std::string got = Text(GetModulePath());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(expected, got);
    if (exe.size() < 260)
        EXPECT_EQ("", err);
    else
        EXPECT_EQ(0u, err.rfind("readlink failed:: ", 0)) << err;
}

} // namespace
