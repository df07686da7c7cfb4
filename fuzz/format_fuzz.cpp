/* CBCString::Format with generated formats and matching arguments: the text of
 * vsnprintf, in a buffer of exactly the walk's estimate + 1 when the output
 * fits it, else the output's length + 1. At most five integer or pointer
 * arguments and eight doubles: on x86-64 all travel in registers, so the model
 * knows which value each conversion receives. */
#include "BCString.h"
#include "fuzz_common.h"

namespace {
struct Probe : CBCString {
    unsigned Capacity() const { return m_dwBuffLen; }
};
const char* const kStrings[] = {"", "abc", "a longer text, forty characters or so", NULL};
int g_sink;
char g_out[1 << 16];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    std::string fmt;
    long long nEst = 0, G[5] = {0, 0, 0, 0, 0};
    double D[8] = {0};
    size_t gi = 0, di = 0;
    bool bKnown = true; // every conversion one the walk has a rule for
    std::vector<size_t> lit; // positions of literal characters
    while (in.remaining_bytes() > 0 && gi < 3 && di < 8) {
        if (in.ConsumeBool()) {
            std::string t = in.ConsumeRandomLengthString(8);
            t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return c == '%' || c == 0; }), t.end());
            for (size_t i = 0; i < t.size(); ++i)
                lit.push_back(fmt.size() + i);
            fmt += t;
            continue;
        }
        std::string piece = "%" + in.ConsumeBytesAsString(in.ConsumeIntegralInRange(0, 2));
        for (size_t i = 1; i < piece.size(); ++i)
            piece[i] = "#-+0 "[(unsigned char)piece[i] % 5];
        nEst += 2 * (long long)std::count(piece.begin(), piece.end(), '#');
        long long w = 0, p = 0;
        if (in.ConsumeIntegralInRange(0, 3) == 0 && gi < 5)
            w = std::abs(G[gi++] = in.ConsumeIntegralInRange(-60, 60)), piece += "*";
        else if (in.ConsumeBool())
            w = in.ConsumeIntegralInRange(1, 99), piece += std::to_string(w);
        if (in.ConsumeBool() && gi < 5 && in.ConsumeBool())
            p = std::max(G[gi++] = in.ConsumeIntegralInRange(-10, 150), 0LL), piece += ".*";
        else if (in.ConsumeBool())
            p = in.ConsumeIntegralInRange(0, 150), piece += "." + std::to_string(p);
        char conv = in.PickValueInArray({'c', 'd', 'i', 'o', 'u', 'x', 'X', 'p', 's', 'e', 'f', 'g',
                                         'G', 'n', '%', 'E', 'a', 'l'});
        if (conv == '%' && piece == "%") { // "%%": the rest of the format from its second '%'
            lit.push_back(fmt.size() + 1);
            fmt += "%%";
            continue;
        }
        bKnown = bKnown && strchr("cdiouxXpsefgGn", conv) != NULL;
        const char* s = kStrings[in.ConsumeIntegralInRange(0, 3)];
        long long item = conv == 'c' ? 2 : strchr("diouxXpl", conv) ? std::max(32LL, w + p)
                       : strchr("egGEa", conv) ? std::max(128LL, w + p)
                       : conv == 's' ? (s ? std::max<long long>(1, strlen(s)) : 6) : 0;
        if (strchr("cdiouxXpl", conv))
            G[gi++] = in.ConsumeIntegral<int>();
        else if (strchr("efgGEa", conv))
            D[di++] = in.ConsumeFloatingPoint<double>();
        else if (conv == 's' || conv == 'n') // "%5%" and kin take nothing: no rule in the walk
            G[gi++] = conv == 's' ? (long long)(uintptr_t)s : (long long)(uintptr_t)&g_sink;
        if (conv == 'f')
            item = snprintf(NULL, 0, "%*.*f", (int)w, (int)p + 6, D[di - 1]);
        if (conv == 'c' || conv == 's') // cut to the precision, raised to the width
            item = std::max(p != 0 ? std::min(item, p) : item, w);
        nEst += item;
        fmt += piece + (conv == 'l' ? "ld" : std::string(1, conv));
    }
    for (size_t l : lit) // each literal character counts the rest of the format
        nEst += (long long)(fmt.size() - l);
    static Probe cs;
    cs.Format(fmt.c_str(), G[0], G[1], G[2], G[3], G[4], D[0], D[1], D[2], D[3], D[4], D[5], D[6], D[7]);
    int n = snprintf(g_out, sizeof g_out, fmt.c_str(), G[0], G[1], G[2], G[3], G[4], D[0], D[1], D[2], D[3], D[4],
                     D[5], D[6], D[7]);
    LPCBTSTR got = cs;
    if (n < 0 || strcmp(got ? got : "", g_out) != 0)
        abort();
    if (cs.Capacity() != (unsigned)(bKnown && n <= nEst ? nEst + 1 : n + 1))
        abort();
    return 0;
}
