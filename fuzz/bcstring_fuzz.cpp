/* CBCString operation sequences against std::string. Texts hold no zero byte;
 * a NUL an operation stores cuts the text there, which the model states after
 * every step. Texts stay below 4 KiB: growth without bound would be the
 * fuzzer's doing, not the class's. */
#include "BCString.h"
#include "fuzz_common.h"

namespace {
int Sign(int v) { return (v > 0) - (v < 0); }
int Clamp(int v, int lo, int hi) { return std::max(lo, std::min(v, hi)); }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    CBCString cs;
    std::string m, t;
    while (in.remaining_bytes() > 0) {
        int op = in.ConsumeIntegralInRange(0, 21), len = (int)m.size(), r = 0, want = 0;
        int a = in.ConsumeIntegralInRange(-3, len + 3), b = in.ConsumeIntegralInRange(-3, len + 3);
        char ch = in.ConsumeIntegral<char>();
        t = in.ConsumeRandomLengthString(16);
        std::replace(t.begin(), t.end(), '\0', 'z');
        int nCh = (int)std::count(m.begin(), m.end(), ch), nA = Clamp(a, 0, len); // a NUL counts 0
        if (len > 4096 && (op < 3 || op == 14 || op == 16))
            op = 3; // every op that can grow the text, Replace and Insert too
        CBCString copy(cs);
        switch (op) {
        case 0: cs += t.c_str(); m += t; break;
        case 1: cs += ch; m += ch; break;
        case 2: cs += copy; m += m; break;
        case 3: cs = t.c_str(); m = t; break;
        case 4: cs = ch; m = std::string(1, ch); break;
        case 5: cs = b % 2 ? cs.Mid(a, b) : cs.Mid(a); m = m.substr(nA, b % 2 ? Clamp(b, 0, len - nA) : len); break;
        case 6: cs = cs.Left(a); m = m.substr(0, nA); break;
        case 7: cs = cs.Right(a); m = m.substr(len - nA); break;
        case 8: cs.MakeUpper(); for (char& c : m) c = (char)toupper((unsigned char)c); break;
        case 9: cs.MakeReverse(); std::reverse(m.begin(), m.end()); break;
        case 10: cs.TrimRight(t.c_str()); m.erase(m.find_last_not_of(t) + 1); break;
        case 11: b % 2 ? cs.TrimLeft(t.c_str()) : cs.TrimLeft(t[0]);
            m.erase(0, std::min(b % 2 ? m.find_first_not_of(t) : m.find_first_not_of(t[0]), m.size()));
            break;
        case 12: cs.TrimRight(ch); m.erase(m.find_last_not_of(ch) + 1); break;
        case 13: r = cs.Replace(ch, t[0]); want = nCh; std::replace(m.begin(), m.end(), ch, t[0]); break;
        case 14: {
            std::string from = t.substr(0, 2), to = t.substr(from.size()), res;
            r = cs.Replace(from.c_str(), to.c_str());
            size_t i = 0, j;
            for (; !from.empty() && (j = m.find(from, i)) != std::string::npos; i = j + from.size(), ++want)
                res += m.substr(i, j - i) + to;
            if (want) m = res + m.substr(i);
            break;
        }
        case 15: r = cs.Remove(ch); want = nCh; m.erase(std::remove(m.begin(), m.end(), ch), m.end()); break;
        case 16: cs.Insert(a, t.c_str()); m.insert(nA, t); break;
        case 17: cs.Delete(a, b); m.erase(nA, Clamp(b, 0, len - nA)); break;
        case 18: r = a ? cs.Find(ch, a) : cs.Find(ch); want = !ch ? -2 : a < 0 || a >= len ? -1 : (int)m.find(ch, a); break;
        case 19: r = a ? cs.Find(t.c_str(), a) : cs.Find(t.c_str()); want = t.empty() ? -2 : a < 0 || a >= len ? -1 : (int)m.find(t, a);
            if (want >= 0) want -= a;
            break;
        case 20: {
            std::string lt = t, lm = m; // CompareNoCase: strcmp of the lower-cased texts
            for (std::string* x : {&lt, &lm})
                for (char& c : *x) c = b % 2 ? (char)tolower((unsigned char)c) : c;
            r = Sign(b % 2 ? cs.CompareNoCase(t.c_str()) : cs.Compare(t.c_str()));
            want = Sign(strcmp(lt.c_str(), lm.c_str()));
            break;
        }
        default: cs.SetAt(a, ch); if (a >= 0 && a < len) m[a] = ch;
            m = m.c_str(), r = cs.GetAt(b);
            want = b >= 0 && b <= (int)m.size() ? m.c_str()[b] : 0;
        }
        m = m.c_str(); // a stored NUL ends the text
        LPCBTSTR p = cs;
        if ((want != -2 && r != want) || m != (p ? p : "") || cs.GetLength() != (int)m.size())
            abort();
    }
    return 0;
}
