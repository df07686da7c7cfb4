// The exported path functions against std::string models, over every path of
// up to six of the bytes that matter and a long one.
#include "stdafx.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BCString.h"
#include "vodUdid.h"

TEST(PathFunctions, MatchTheModelsInPlaceAndWithNullArguments)
{
    std::vector<std::string> paths = {""};
    for (size_t i = 0; paths[i].size() < 6; ++i)
        for (char c : std::string("a\\/."))
            paths.push_back(paths[i] + c);
    paths.push_back(std::string(5000, 'x') + "\\/" + std::string(300, 'y'));
    auto name = [](const std::string& s, char sep) { // after the last sep at index 1 or later
        size_t pos = s.rfind(sep);
        return pos == std::string::npos || pos == 0 ? std::string() : s.substr(pos + 1);
    };
    for (const std::string& p : paths) {
        // The path is copied whole, then cut after its last backslash or
        // overwritten by dot-backslash; the buffer has the documented size.
        std::vector<char> buf(p.size() < 2 ? 3 : p.size() + 1, 'Z');
        std::string want = p + '\0' + std::string(buf.size() - p.size() - 1, 'Z');
        size_t pos = p.rfind('\\');
        if (pos == std::string::npos)
            want.replace(0, 3, ".\\\0", 3);
        else
            want[pos + 1] = '\0';
        GetDirectoryFromPath(p.c_str(), buf.data());
        EXPECT_EQ(want, std::string(buf.data(), buf.size())) << p;
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
