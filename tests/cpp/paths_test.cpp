// The path functions on named paths against std::string models: every byte
// they leave in a buffer of the documented size (beyond the terminator too),
// in place and with null arguments. Generated paths: fuzz/paths_fuzz.cpp.
#include "stdafx.h"

#include <string>

#include <gtest/gtest.h>

#include "BCString.h"
#include "vodUdid.h"

TEST(PathFunctions, MatchTheModelsOnNamedPaths)
{
    auto name = [](const std::string& s, char sep) { // after the last sep at index 1 or later
        size_t pos = s.rfind(sep);
        return pos == std::string::npos || pos == 0 ? std::string() : s.substr(pos + 1);
    };
    for (std::string p : {"", "a", "\\", "/", "ab.txt", "a\\b/c", "/x\\", "\\x", "\\\\x\\", "./a/b"}) {
        // Copied whole, then cut after the last backslash or overwritten by dot-backslash.
        std::string buf(p.size() < 2 ? 3 : p.size() + 1, 'Z'), want = p + '\0' + buf.substr(p.size() + 1);
        size_t pos = p.rfind('\\');
        pos == std::string::npos ? (void)want.replace(0, 3, ".\\\0", 3) : (void)(want[pos + 1] = '\0');
        GetDirectoryFromPath(p.c_str(), &buf[0]);
        EXPECT_EQ(want, buf) << p;
        EXPECT_STREQ(name(p, '/').c_str(), GetFileNameFromPath(p.c_str(), true)) << p;
        EXPECT_STREQ(name(p, '\\').c_str(), GetFileNameFromPath(p.c_str(), false)) << p;
    }
    char buf[] = "x\\y\\z.txt"; // in place, and null arguments
    GetDirectoryFromPath(buf, buf);
    EXPECT_STREQ("x\\y\\", buf);
    GetDirectoryFromPath(nullptr, buf);
    EXPECT_STREQ(".\\", buf);
    GetDirectoryFromPath("a\\b", nullptr); // nowhere to write: no effect
    EXPECT_STREQ("", GetFileNameFromPath(nullptr, true));
}
