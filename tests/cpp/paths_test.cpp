// GetDirectoryFromPath: every byte it leaves in a buffer of the documented size (beyond the terminator
// too), in place and with null arguments. The texts of generated paths: fuzz/paths_fuzz.cpp.
#include "stdafx.h"

#include <string>

#include <gtest/gtest.h>

#include "BCString.h"
#include "vodUdid.h"

TEST(PathFunctions, DirectoryBytesAndNullArguments)
{
    for (std::string p : {"", "a", "\\", "ab.txt", "a\\b/c", "/x\\", "\\\\x\\", "./a/b"}) {
        // Copied whole, then cut after the last backslash or overwritten by dot-backslash.
        std::string buf(p.size() < 2 ? 3 : p.size() + 1, 'Z'), want = p + '\0' + buf.substr(p.size() + 1);
        size_t pos = p.rfind('\\');
        pos == std::string::npos ? (void)want.replace(0, 3, ".\\\0", 3) : (void)(want[pos + 1] = '\0');
        GetDirectoryFromPath(p.c_str(), &buf[0]);
        EXPECT_EQ(want, buf) << p;
    }
    char buf[] = "x\\y\\z.txt";
    GetDirectoryFromPath(buf, buf);
    EXPECT_STREQ("x\\y\\", buf);
    GetDirectoryFromPath(nullptr, buf);
    EXPECT_STREQ(".\\", buf);
    GetDirectoryFromPath("a\\b", nullptr);  // nowhere to write: no effect
    EXPECT_STREQ("", GetFileNameFromPath(nullptr, true));
}
