/*
 * Typed and bit-field access against a byte-array model in plain integer
 * arithmetic: little-endian values, masks of (width mod 32) bits, shifts mod
 * 32, fields cut at their container's top bit. The handle sits 16 bytes
 * into a 64-byte block so that the signed offsets can reach back.
 */
#include "fuzz_common.h"

namespace {
const char* const kNames[] = {"GetInt32FrmMem", "SetInt32FrmMem", "GetInt16FrmMem",
                              "SetInt16FrmMem", "GetInt8FrmMem", "SetInt8FrmMem",
                              "GetByteBitsFrmMem", "SetByteBitsFrmMem", "GetIntBitsFrmMem",
                              "SetIntBitsFrmMem"};
const int kWidth[] = {4, 4, 2, 2, 1, 1, 1, 1, 4, 4};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static lua_State* L = (fz::SilenceStdout(), fz::NewState(false));
    FuzzedDataProvider in(data, size);
    std::vector<unsigned char> block(64), model;
    for (auto& b : block)
        b = in.ConsumeIntegral<unsigned char>();
    model = block;
    unsigned char* h = block.data() + 16;
    while (in.remaining_bytes() > 0) {
        int op = in.ConsumeIntegralInRange(0, 9), w = kWidth[op];
        // Signed offsets reach 16 bytes back; the Int8 pair's are unsigned;
        // the IntBits pair take a word index.
        long long lo = op == 4 || op == 5 ? 0 : op >= 8 ? -4 : -16, hi = op >= 8 ? 11 : 48 - w;
        long long nOff = in.ConsumeIntegralInRange(lo, hi), nAt = 16 + (op >= 8 ? 4 * nOff : nOff);
        long long v = in.ConsumeIntegralInRange<long long>(-(1LL << 53), 1LL << 53);
        unsigned s = in.ConsumeIntegral<unsigned>(), nBits = in.ConsumeIntegral<unsigned>();
        unsigned mask = (1u << (nBits % 32)) - 1, old = 0;
        for (int i = w - 1; i >= 0; --i)
            old = old << 8 | model[nAt + i];
        unsigned next = op & 1 ? (op >= 6 ? (old & ~(mask << s % 32)) | (((unsigned)v & mask) << s % 32)
                                          : (unsigned)v)
                               : old;
        lua_pushlightuserdata(L, h);
        fz::PushCut32(L, in, nOff);
        if (op >= 6) {
            lua_pushnumber(L, (lua_Number)(int)s);
            lua_pushnumber(L, (lua_Number)(int)nBits);
        }
        if (op & 1)
            lua_pushnumber(L, (lua_Number)v);
        fz::CallGlobal(L, kNames[op], lua_gettop(L));
        for (int i = 0; i < w; ++i)
            model[nAt + i] = (unsigned char)(next >> 8 * i);
        double want = op & 1 ? (op >= 6 ? 1 : (double)v) : op >= 6 ? (old >> s % 32) & mask : old;
        double got = lua_isboolean(L, -1) ? lua_toboolean(L, -1) : lua_tonumber(L, -1);
        if (block != model || got != want)
            abort();
        lua_settop(L, 0);
    }
    return 0;
}
