/* Typed and bit-field access against a byte-array model: little-endian values,
 * masks of (width mod 32) bits, shifts mod 32, fields cut at their container's
 * top bit. The handle sits 16 bytes into a 64-byte block so that the signed
 * offsets can reach back. */
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static lua_State* L = fz::NewState(false);
    static const char* const kNames[] = {"GetInt32FrmMem", "SetInt32FrmMem", "GetInt16FrmMem", "SetInt16FrmMem",
        "GetInt8FrmMem", "SetInt8FrmMem", "GetByteBitsFrmMem", "SetByteBitsFrmMem", "GetIntBitsFrmMem",
        "SetIntBitsFrmMem"}; // each getter followed by its setter
    static const int kWidth[] = {4, 4, 2, 2, 1, 1, 1, 1, 4, 4};
    FuzzedDataProvider in(data, size);
    std::vector<unsigned char> block = in.ConsumeBytes<unsigned char>(64);
    block.resize(64);
    std::vector<unsigned char> model = block;
    while (in.remaining_bytes() > 0) {
        int op = in.ConsumeIntegralInRange(0, 9), w = kWidth[op];
        bool bSet = op & 1, bBits = op >= 6;
        // Signed offsets reach 16 bytes back; the Int8 pair's are unsigned;
        // the IntBits pair take a word index.
        long long nOff = in.ConsumeIntegralInRange(op / 2 == 2 ? 0 : op >= 8 ? -4 : -16, op >= 8 ? 11 : 48 - w);
        long long nAt = 16 + (op >= 8 ? 4 * nOff : nOff);
        long long v = in.ConsumeIntegralInRange<long long>(-(1LL << 53), 1LL << 53);
        unsigned s = in.ConsumeIntegral<unsigned>(), nBits = in.ConsumeIntegral<unsigned>();
        unsigned mask = (1u << (nBits % 32)) - 1, old = 0;
        for (int i = w - 1; i >= 0; --i)
            old = old << 8 | model[nAt + i];
        unsigned next = !bSet ? old : !bBits ? (unsigned)v : (old & ~(mask << s % 32)) | (((unsigned)v & mask) << s % 32);
        lua_pushlightuserdata(L, block.data() + 16);
        fz::PushCut32(L, in, nOff);
        if (bBits) {
            lua_pushnumber(L, (int)s);
            lua_pushnumber(L, (int)nBits);
        }
        if (bSet)
            lua_pushnumber(L, (lua_Number)v);
        fz::CallGlobal(L, kNames[op], lua_gettop(L));
        for (int i = 0; i < w; ++i)
            model[nAt + i] = (unsigned char)(next >> 8 * i);
        double want = bSet ? (bBits ? 1 : (double)v) : bBits ? (old >> s % 32) & mask : old;
        double got = lua_isboolean(L, -1) ? lua_toboolean(L, -1) : lua_tonumber(L, -1);
        if (block != model || got != want)
            abort();
        lua_settop(L, 0);
    }
    return 0;
}
