/*
 * CBCString::Format with generated formats and matching arguments: the text
 * must be what vsnprintf makes of the same arguments, and the buffer must be
 * exactly the walk's estimate + 1 when the output fits it, the output's
 * length + 1 otherwise. At most five integer or pointer arguments and eight
 * doubles: on x86-64 they all travel in registers, so the model knows which
 * value each conversion receives.
 */
#include <algorithm>

#include "BCString.h"
#include "fuzz_common.h"

namespace {
struct Probe : CBCString {
    unsigned Capacity() const { return m_dwBuffLen; }
};
Probe g_cs;
char g_out[1 << 16];
int g_n;

void Both(const char* fmt, ...)
{
    va_list ap, ap2;
    va_start(ap, fmt);
    va_copy(ap2, ap);
    g_cs.FormatV(fmt, ap);
    g_n = vsnprintf(g_out, sizeof g_out, fmt, ap2);
    va_end(ap2);
    va_end(ap);
}

const char* const kStrings[] = {"", "abc", "a longer text, forty characters or so", NULL};
int g_sink;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    std::string fmt;
    long long nEst = 0, G[5] = {0, 0, 0, 0, 0};
    double D[8] = {0};
    size_t gi = 0, di = 0;
    bool bKnown = true;
    std::vector<std::pair<size_t, long long>> lit; // positions of literal characters
    while (in.remaining_bytes() > 0 && gi < 3 && di < 8) {
        if (in.ConsumeBool()) {
            std::string t = in.ConsumeRandomLengthString(8);
            t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return c == '%' || c == 0; }), t.end());
            for (size_t i = 0; i < t.size(); ++i)
                lit.push_back({fmt.size() + i, 0});
            fmt += t;
            continue;
        }
        std::string flags = in.ConsumeBytesAsString(in.ConsumeIntegralInRange(0, 2));
        for (char& c : flags) c = "#-+0 "[(unsigned char)c % 5];
        nEst += 2 * (long long)std::count(flags.begin(), flags.end(), '#');
        long long w = 0, p = 0;
        std::string piece = "%" + flags;
        if (in.ConsumeIntegralInRange(0, 3) == 0 && gi < 5) {
            w = G[gi++] = in.ConsumeIntegralInRange(-60, 60);
            w = std::abs(w), piece += "*";
        } else if (in.ConsumeBool()) {
            w = in.ConsumeIntegralInRange(1, 99), piece += std::to_string(w);
        }
        if (in.ConsumeBool() && gi < 5) {
            if (in.ConsumeBool())
                p = G[gi++] = in.ConsumeIntegralInRange(-10, 150), p = std::max(p, 0LL), piece += ".*";
            else
                p = in.ConsumeIntegralInRange(0, 150), piece += "." + std::to_string(p);
        }
        char conv = in.PickValueInArray({'c', 'd', 'i', 'o', 'u', 'x', 'X', 'p', 's', 'e', 'f', 'g',
                                         'G', 'n', '%', 'E', 'a', 'l'});
        if (conv == '%' && piece == "%") { // "%%": the rest of the format from its second '%'
            lit.push_back({fmt.size() + 1, 0});
            fmt += "%%";
            continue;
        }
        bKnown = bKnown && strchr("cdiouxXpsefgGn", conv) != NULL;
        long long item = 0;
        if (strchr("cdiouxXpl", conv)) {
            G[gi++] = (long long)in.ConsumeIntegral<int>();
            item = conv == 'c' ? 2 : std::max(32LL, w + p);
            piece += conv == 'l' ? "ld" : std::string(1, conv);
        } else if (strchr("efgGEa", conv)) {
            double v = D[di++] = in.ConsumeFloatingPoint<double>();
            item = conv == 'f' ? snprintf(NULL, 0, "%*.*f", (int)w, (int)p + 6, v) : std::max(128LL, w + p);
            piece += conv;
        } else if (conv == 's') {
            const char* s = kStrings[in.ConsumeIntegralInRange(0, 3)];
            G[gi++] = (long long)(uintptr_t)s;
            item = s ? std::max<long long>(1, strlen(s)) : 6;
            piece += conv;
        } else if (conv == 'n') {
            G[gi++] = (long long)(uintptr_t)&g_sink;
            piece += conv;
        } else {
            piece += conv; // "%5%" and kin: no rule in the walk
        }
        if (conv == 'c' || conv == 's')
            item = std::max(p != 0 ? std::min(item, p) : item, w);
        nEst += item;
        fmt += piece;
    }
    for (auto& l : lit) // each literal character counts the rest of the format
        nEst += (long long)(fmt.size() - l.first);
    Both(fmt.c_str(), G[0], G[1], G[2], G[3], G[4], D[0], D[1], D[2], D[3], D[4], D[5], D[6], D[7]);
    LPCBTSTR p = g_cs;
    if (g_n < 0 || strcmp(p ? p : "", g_out) != 0)
        abort();
    unsigned want = (unsigned)(bKnown && g_n <= nEst ? nEst + 1 : g_n + 1);
    if (g_cs.Capacity() != want)
        abort();
    return 0;
}
