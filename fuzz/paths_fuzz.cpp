/*
 * The path helpers on generated paths: GetDirectoryFromPath into a buffer of
 * exactly the size its contract names (so ASan sees one byte too many), and
 * both against a model: the directory is the path up to and including its
 * last backslash, dot-backslash without one; the file name follows the last
 * separator at an index above 0, empty without one.
 */
#include "BCString.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string path((const char*)data, size);
    path = path.c_str(); // a path ends at its first zero byte
    std::vector<char> dir(std::max<size_t>(path.size() + 1, 3));
    GetDirectoryFromPath(path.c_str(), dir.data());
    size_t cut = path.rfind('\\');
    std::string want = cut == std::string::npos ? ".\\" : path.substr(0, cut + 1);
    if (want != dir.data())
        abort();
    for (bool bSlash : {false, true}) {
        CBCString name = GetFileNameFromPath(path.c_str(), bSlash);
        cut = path.size() > 1 ? path.find_last_of(bSlash ? '/' : '\\') : std::string::npos;
        want = cut == std::string::npos || cut == 0 ? "" : path.substr(cut + 1);
        LPCBTSTR p = name;
        if (want != (p ? p : ""))
            abort();
    }
    return 0;
}
