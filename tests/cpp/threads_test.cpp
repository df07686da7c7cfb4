// The globals from several Lua states on several threads at once, and CBCString on each thread: every
// thread must get what the same work gives on the main thread alone. Run in a -fsanitize=thread build
// (scripts/tsan.sh), this is also the data-race check.
#include <gtest/gtest.h>
#include <lua.hpp>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "BCString.h"
#include "vodUdid.h"

// Buffers, hex, typed and bit-field access, checksums, halves, then a stream on a file of the thread's
// own; what it saw.
const char kScript[] = R"(
local path, rounds, out = ...
for r = 1, rounds do
  local h = MallocBuffer(64)
  Memset(h, r, 64)
  StringtoBuffer(h, "00112233445566778899aabbccddeeff")
  SetInt32FrmMem(h, 16, 305419896 + r)
  SetIntBitsFrmMem(h, 5, 3, 7, r)
  SetByteBitsFrmMem(h, 24, 1, 4, r)
  Memcpy(GetBuffer(h, 32), h, 32)
  out = out .. table.concat({calc_crc32(h, 64), add_sum(h, 61, r), GetMemValue(h, 16, 16),
    GetIntBitsFrmMem(h, 5, 3, 7), GetByteBitsFrmMem(h, 24, 1, 4), Memcmp(h, GetBuffer(h, 32), 32),
    Int64Add(r, 1, 4294967295, 0)}, " ")
  CharsToBuffer(h, "one\ntwo\n")
  local f = fopen(path, "wb")
  fwrite(f, h, 8)
  fclose(f)
  f = fopen(path, "rb")
  out = out .. fgetALine(f) .. fgetALine(f) .. tostring(fgetALine(f)) .. "\n"
  fclose(f)
  FreeBuffer(h)
end
return out
)";

static std::string RunScript(const std::string& path, int rounds)
{
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    l_RegAllFun(L);
    luaL_loadstring(L, kScript);
    lua_pushstring(L, path.c_str()), lua_pushinteger(L, rounds), lua_pushstring(L, "");
    std::string out = lua_pcall(L, 3, 1, 0) ? "error: " : "";
    out += lua_tostring(L, -1);
    lua_close(L);
    for (int r = 0; r < rounds; ++r) {  // CBCString holds no state between objects
        CBCString cs;
        cs.Format("%d-%s-%5.2f", r, path.c_str(), r / 3.0);
        cs.Replace("/", "|");
        out += std::string(cs) + "\n";
    }
    return out;
}

TEST(Threads, GlobalsOnSeveralStatesAtOnce)
{
    fflush(stdout);  // calc_crc32's traces are not what this test reads
    const int nSaved = dup(STDOUT_FILENO), kThreads = 4, kRounds = 40;
    ASSERT_NE(freopen("/dev/null", "w", stdout), nullptr);
    char szDir[] = "/tmp/vodudid-threads-XXXXXX";
    ASSERT_NE(mkdtemp(szDir), nullptr);
    auto path = [&](int i) { return szDir + ("/a" + std::to_string(i)); };
    std::vector<std::string> alone(kThreads), together(kThreads), checked(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) alone[i] = RunScript(path(i), kRounds);
    for (int i = 0; i < kThreads; ++i) threads.emplace_back([&, i] { together[i] = RunScript(path(i), kRounds); });
    for (auto& t : threads) t.join();
    setenv("VODUDID_CHECKED", "1", 1);  // each state its own registry, no lock between them, same results
    threads.clear();
    for (int i = 0; i < kThreads; ++i) threads.emplace_back([&, i] { checked[i] = RunScript(path(i), kRounds); });
    for (auto& t : threads) t.join();
    unsetenv("VODUDID_CHECKED");
    fflush(stdout);
    dup2(nSaved, STDOUT_FILENO);
    close(nSaved);
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(together[i], alone[i]) << "thread " << i;
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(checked[i], alone[i]) << "checked thread " << i;
    EXPECT_NE(alone[0].find("one\ntwo\nnil"), std::string::npos) << alone[0];
    std::filesystem::remove_all(szDir);
}
