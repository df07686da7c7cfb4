/*
 * Hex text to bytes and back: StringtoBuffer and SetMemValue against the
 * pair rule (byte k at offset k, nothing else touched), BufferToString and
 * GetMemValue against "%02x" of each byte.
 */
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static lua_State* L = fz::NewState(false);
    int nOffset = in.ConsumeIntegralInRange(0, 8);
    std::string text = in.ConsumeRandomLengthString(600);
    std::vector<unsigned char> want = fz::HexPairsModel(text.c_str());
    std::vector<unsigned char> block(nOffset + want.size() + 8, 0x5A), model = block;
    std::copy(want.begin(), want.end(), model.begin() + nOffset);

    lua_pushlightuserdata(L, block.data());
    if (in.ConsumeBool() && nOffset == 0) {
        lua_pushlstring(L, text.data(), text.size());
        fz::CallGlobal(L, "StringtoBuffer", 2);
    } else {
        lua_pushinteger(L, nOffset);
        lua_pushlstring(L, text.data(), text.size());
        fz::CallGlobal(L, "SetMemValue", 3);
    }
    if (block != model)
        abort();

    // Back to text: every byte of the block, then the written range alone.
    std::string hex, part;
    char szPair[3];
    for (size_t i = 0; i < block.size(); ++i) {
        snprintf(szPair, sizeof szPair, "%02x", block[i]);
        hex += szPair;
    }
    lua_pushlightuserdata(L, block.data());
    lua_pushinteger(L, (lua_Integer)block.size());
    fz::CallGlobal(L, "BufferToString", 2);
    lua_pushlightuserdata(L, block.data());
    lua_pushinteger(L, nOffset);
    lua_pushinteger(L, (lua_Integer)want.size());
    fz::CallGlobal(L, "GetMemValue", 3);
    if (hex != lua_tostring(L, -2) || hex.substr(2 * nOffset, 2 * want.size()) != lua_tostring(L, -1))
        abort();
    lua_settop(L, 0);
    return 0;
}
