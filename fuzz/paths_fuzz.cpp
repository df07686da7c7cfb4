/* The path helpers against a model: GetDirectoryFromPath into a buffer of
 * exactly the size its contract names (so ASan sees one byte too many) gives
 * the path up to its last backslash, else dot-backslash; the file name follows
 * the last separator at an index above 0, else is empty. */
#include "BCString.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string path = std::string((const char*)data, size).c_str(); // a path ends at its first zero byte
    std::vector<char> dir(std::max<size_t>(path.size() + 1, 3));
    GetDirectoryFromPath(path.c_str(), dir.data());
    size_t cut = path.rfind('\\');
    if ((cut == std::string::npos ? ".\\" : path.substr(0, cut + 1)) != dir.data())
        abort();
    for (bool bSlash : {false, true}) {
        CBCString name = GetFileNameFromPath(path.c_str(), bSlash);
        cut = path.size() > 1 ? path.find_last_of(bSlash ? '/' : '\\') : std::string::npos;
        LPCBTSTR p = name;
        if ((cut == std::string::npos || cut == 0 ? "" : path.substr(cut + 1)) != (p ? p : ""))
            abort();
    }
    return 0;
}
