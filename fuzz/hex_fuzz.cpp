/* Hex text to bytes and back: StringtoBuffer and SetMemValue against the pair
 * rule, nothing else touched; BufferToString and GetMemValue against "%02x". */
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static lua_State* L = fz::NewState(false);
    int nOffset = in.ConsumeIntegralInRange(0, 8);
    std::string text = in.ConsumeRandomLengthString(600), hex;
    std::vector<unsigned char> want = fz::HexPairsModel(text.c_str());
    std::vector<unsigned char> block(nOffset + want.size() + 8, 0x5A), model = block;
    std::copy(want.begin(), want.end(), model.begin() + nOffset);
    if (in.ConsumeBool() && nOffset == 0)
        fz::Call(L, "StringtoBuffer", block.data(), text);
    else
        fz::Call(L, "SetMemValue", block.data(), nOffset, text);
    char szPair[3];
    for (unsigned char b : block)
        hex += (snprintf(szPair, sizeof szPair, "%02x", b), szPair);
    // Back to text: every byte of the block, then the written range alone.
    fz::Call(L, "BufferToString", block.data(), block.size());
    fz::Call(L, "GetMemValue", block.data(), nOffset, want.size());
    if (block != model || hex != lua_tostring(L, -2) || hex.substr(2 * nOffset, 2 * want.size()) != lua_tostring(L, -1))
        abort();
    lua_settop(L, 0);
    return 0;
}
