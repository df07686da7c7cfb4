// CBCString against a std::string model and Format against snprintf. Replacing
// new char[], the class's only allocator, records every request and fails one.
#include "BCString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

static bool g_record = false, g_failNext = false;
static std::vector<size_t> g_sizes;  // grows through operator new, not new[]

void* operator new[](size_t n)
{
    void* p = g_failNext ? nullptr : malloc(n ? n : 1);
    g_failNext = false;
    if (!p) throw std::bad_alloc();
    if (g_record) g_sizes.push_back(n);
    return p;
}
void operator delete[](void* p) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

// Reads the capacity (m_dwBuffLen) and checks that every byte after the text is NUL.
struct Probe : CBCString {
    using CBCString::CBCString;
    using CBCString::operator=;
    size_t Cap() const { return m_dwBuffLen; }
    bool TailClear() const
    { return !m_pchData || std::all_of(m_pchData + strlen(m_pchData), m_pchData + m_dwBuffLen, [](char c) { return !c; }); }
};

static std::string Str(const CBCString& s) { return (LPCBTSTR)s ? (LPCBTSTR)s : "<none>"; }
static int Sign(int v) { return (v > 0) - (v < 0); }
static int Clamp(long long v, long long lo, long long hi) { return (int)std::min(std::max(v, lo), hi); }
static std::string Cased(std::string t, int (*f)(int))
{ std::transform(t.begin(), t.end(), t.begin(), [f](unsigned char c) { return (char)f(c); }); return t; }

// Every edit, search and substring with bad indices, NULs, null pointers, pointers
// into the own text and strings without a buffer; rebuilt buffers have exact sizes.
TEST(BCStringRandom, EditingAndSearchMatchStdString)
{
    std::mt19937 rng(20240611);
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    auto ch = [&](bool nul) { return "aAbB c\xe9\t"[pick(nul ? 9 : 8)]; };  // 1 in 9 NUL
    auto text = [&](int maxLen) { std::string t((size_t)pick(maxLen + 1), ' '); for (char& c : t) c = ch(false); return t; };
    for (int seq = 0; seq < 3000; ++seq) {
        std::string m = text(20);
        Probe s;  // a sixth of the sequences start without a buffer
        pick(6) ? (void)(s = m.c_str()) : m.clear();
        size_t cap = (LPCBTSTR)s ? m.size() + 1 : 0;
        for (int step = 0; step < 25; ++step) {
            const int n = (int)m.size(), op = pick(17);
            auto index = [&] { return pick(6) == 0 ? pick(40) - 20 : pick(n + 2); };
            const int i = index(), j = index(), k = Clamp(i, 0, n), cj = Clamp(j, 0, n - k);
            const char c1 = ch(true), c2 = ch(true);
            // Text arguments: sometimes null, or the own text from `own` (not for TrimRight: in place).
            std::string a = text(3), b = text(3);
            const int own = (LPCBTSTR)s && op != 7 && pick(5) == 0 ? pick(n + 1) : -1;
            const char* pa = own >= 0 ? s.GetBuffer(0) + own : pick(8) ? a.c_str() : nullptr;
            const char* pb = pick(8) ? b.c_str() : nullptr;
            a = own >= 0 ? m.substr((size_t)own) : pa ? a : "", b = pb ? b : "";
            const std::string set = i % 2 ? a : c1 == ' ' ? " " : std::string(1, c1);  // of the trims
            CBCString none, tmp(pa);
            const CBCString& ca = own == 0 ? s : pa || i % 3 ? tmp : none;
            SCOPED_TRACE(testing::Message() << "seq " << seq << " op " << op << " i " << i << " j " << j << " own " << own);
            size_t newCap = 0;  // 0: in place
            int got = 0, want = 0, cnt = (int)std::count(m.begin(), m.end(), c1);
            std::vector<std::string> subs, wantSubs;  // of case 16, with its requests:
            std::vector<size_t> wantReq;
            // Every tenth operation meets a failed allocation (std::string uses operator new only).
            bool fail = pick(10) == 0, threw = false;
            g_failNext = fail, g_record = true, g_sizes.clear();
            try {
                switch (op) {  // the class's operation first: when it throws, m stays
                case 0: got = s.Insert(i, c1), m.insert((size_t)k, 1, c1), newCap = n + 2; break;
                case 1: got = s.Insert(i, pa), m.insert((size_t)k, a), newCap = m.size() + 1; break;
                case 2: got = s.Delete(i, j), m.erase((size_t)k, (size_t)cj); break;
                case 3: got = s.Replace(c1, c2), std::replace(m.begin(), m.end(), c1, c2); break;
                case 4: got = s.Remove(c1), m.erase(std::remove(m.begin(), m.end(), c1), m.end()); break;
                case 5: got = s.Replace(pa, pb);
                    for (size_t p = 0; !a.empty() && (p = m.find(a, p)) != std::string::npos; p += b.size(), ++want)
                        m.replace(p, a.size(), b);
                    newCap = a.empty() ? 0 : m.size() + 1; break;
                case 6: i % 2 ? s.TrimLeft(pa) : c1 == ' ' ? s.TrimLeft() : s.TrimLeft(c1);
                    m.erase(0, m.find_first_not_of(set)), newCap = n + 1; break;
                case 7: i % 2 ? s.TrimRight(pa) : c1 == ' ' ? s.TrimRight() : s.TrimRight(c1);
                    m.erase(m.find_last_not_of(set) + 1); break;
                case 8: i % 2 ? s.MakeLower() : s.MakeUpper(); m = Cased(m, i % 2 ? ::tolower : ::toupper), newCap = n + 1; break;
                case 9: s.MakeReverse(), std::reverse(m.begin(), m.end()), newCap = n + 1; break;
                case 10: i % 2 ? s += pa : s += ca; m += a, newCap = m.size() + 1; break;
                case 11: s += c1, m += c1, newCap = n + 2; break;
                case 12: s.SetAt(i, c1); if (i >= 0 && i < n) m[(size_t)i] = c1; break;
                case 13: s = c1, m.assign(1, c1), newCap = n ? 0 : 2; break;  // keeps a non-empty text's buffer
                case 14: i % 2 ? s = pa : s = ca; m = a, newCap = a.size() + 1; break;
                case 15: if (i % 2) s.Empty(), m.clear(); else s.GetBuffer(i + 50); break;  // never grows
                case 16:
                    for (const CBCString& r : {s.Mid(i, j), s.Mid(i), s.Left(i), s.Right(j), CBCString(s), CBCString(pa, i)})
                        subs.push_back(Str(r));
                    wantSubs = {m.substr((size_t)k, (size_t)cj), m.substr((size_t)k), m.substr(0, (size_t)k),
                                m.substr((size_t)(n - Clamp(j, 0, n))), m, a.substr(0, (size_t)Clamp(i, 0, 99))};
                    for (const std::string& w : wantSubs) wantReq.push_back(w.size() + 1);
                    wantReq.back() = (size_t)(pa ? Clamp(i, 0, 99) : 0) + 1;  // CBCString(lpch, nLength)
                }
            } catch (const std::bad_alloc&) { threw = true; }
            EXPECT_EQ(threw, fail && !g_failNext);  // then m and newCap stay: so must the value and buffer
            g_failNext = g_record = false;
            m.resize(strlen(m.c_str()));  // a NUL put into the text ends it
            ASSERT_EQ(Str(s), cap || newCap ? m : "<none>" + m);
            EXPECT_EQ(std::make_pair(got, subs), std::make_pair(op == 3 || op == 4 ? cnt : want, wantSubs));
            EXPECT_EQ(g_sizes, op == 16 ? wantReq : std::vector<size_t>(newCap ? 1 : 0, newCap));
            ASSERT_EQ(s.Cap(), cap = newCap ? newCap : cap);
            ASSERT_TRUE(s.TailClear());

            const char* q = pa ? a.c_str() : nullptr;  // the own text may have moved
            const int len = (int)m.size();
            const size_t npos = std::string::npos, sub = i < 0 || i >= len ? npos : m.find(a, (size_t)i);
            auto at = [&](int x) { return x >= 0 && x < len ? m[(size_t)x] : '\0'; };
            auto findCh = [&](int st) { return st < 0 || st >= len ? -1 : c1 ? (int)m.find(c1, (size_t)st) : len; };
            const std::vector<int> reads = {s.GetLength(), s.IsEmpty(), s.GetAt(i), s[j], s.Find(c1, i), s.Find(c1),
                s.ReverseFind(c1), s.Find(q, i), s.Find(q), s.FindOneOf(q), Sign(s.Compare(q)), Sign(s.CompareNoCase(q))};
            EXPECT_EQ(reads, (std::vector<int>{len, len == 0, at(i), at(j), findCh(i), findCh(0), c1 ? (int)m.rfind(c1) : -1,
                sub == npos ? -1 : (int)(sub - (size_t)i), len ? (int)m.find(a) : -1, (int)m.find_first_of(a),
                Sign(a.compare(m)), Sign(Cased(a, ::tolower).compare(Cased(m, ::tolower)))}));  // Compare: reversed operands
        }
    }
}

// Format must give snprintf's text (empty where it fails) in a buffer of wantCap
// bytes; 0: exactly the output + 1; -1: any size that holds it.
template <class... A> static void Fmt(long wantCap, const char* fmt, A... args)
{
    static int calls = 0;
    Probe s;  // every other call formats into a string without a buffer
    if (++calls % 2) s = "previous";
    std::vector<char> want((size_t)std::max(snprintf(nullptr, 0, fmt, args...), 0) + 1, '\0');
    snprintf(want.data(), want.size(), fmt, args...);
    g_failNext = true;  // a failed allocation first: it keeps the previous value and buffer
    EXPECT_THROW(s.Format(fmt, args...), std::bad_alloc) << fmt;
    EXPECT_EQ(Str(s) + std::to_string(s.Cap()), calls % 2 ? "previous9" : "<none>0");
    g_failNext = false;
    s.Format(fmt, args...);
    EXPECT_STREQ(s, want.data()) << "format \"" << fmt << '"';
    const size_t exact = strlen(want.data()) + 1;
    EXPECT_TRUE(s.TailClear() && s.Cap() == (wantCap < 0 ? std::max(s.Cap(), exact) : wantCap ? (size_t)wantCap : exact))
        << fmt << ": " << s.Cap() << " bytes";
}

TEST(BCStringFormat, BufferSizes)
{
    int written = -1;  // for %n. Sized by the estimating walk where the output fits ("abc": 3 + 2 + 1):
    Fmt(7, "abc"), Fmt(2, "%%"), Fmt(1, ""), Fmt(33, "%d", 5), Fmt(41, "%*d", 40, 42), Fmt(35, "%#x", 255);
    Fmt(4, "%s", "abc"), Fmt(2, "%s", ""), Fmt(7, "%s", (const char*)nullptr), Fmt(6, "%5s", "ab"), Fmt(6, "%cab", 0);
    Fmt(3, "%.2s", "abcdef"), Fmt(2, "%.1c", 'x'), Fmt(11, "%5.2f", 3.14159), Fmt(129, "%e", 1.0), Fmt(1, "%n", &written);
    Fmt(211, "%10.200e", 1.0), Fmt(33, "%-*d", -5, 42), Fmt(9, "%.*f", -3, 2.5), Fmt(47, "%*.*dxyz", 40, -4, 7);
    Fmt(17, "%*sxyz", -10, "ab");  // negative '*': as printf, by its magnitude / as none
    char part[9] = "";  // printf fails part way: its text so far, in the estimate (6 + 5 + 2 + 2 + 1) + 1
    Probe c; c.Format("ab%Ccd", (wint_t)0x1234), snprintf(part, sizeof part, "ab%Ccd", (wint_t)0x1234);
    EXPECT_EQ(Str(c) + std::to_string(c.Cap()), std::string(part) + "17");
    // The estimate falls short, or the walk has no rule: exactly the output + 1.
    Fmt(0, "%.40p", (void*)0x1234), Fmt(0, "%+f", INFINITY), Fmt(0, "%+f", -NAN), Fmt(0, "% f", NAN), Fmt(0, "%.200e", 1.0);
    Fmt(0, "%.125G", 1e300 / 3), Fmt(0, "%.40d", -1), Fmt(0, "%+.40d", 1), Fmt(0, "%ld", 1234567890123L), Fmt(0, "%a", 1.0);
    Fmt(0, "%lld", -1234567890123LL), Fmt(0, "%zu", (size_t)77), Fmt(0, "%hhd", 300), Fmt(0, "%Lf", 1.5L), Fmt(0, "%E", 1e5);
    Fmt(0, "%s%ld%s", "a", 5L, "b"), Fmt(0, "%5%"), Fmt(0, "abc%"), Fmt(0, "abc%-08."), Fmt(0, "%");
}

// Random conversions, flags, widths and precisions (digits or '*', negative too).
TEST(BCStringFormat, RandomConversionsMatchSnprintf)
{
    std::mt19937 rng(7);
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    const double reals[] = {0.0, 1.5, -2.25e-7, 3.14159265358979, 1e300, -1e-300, INFINITY, NAN};
    for (int round = 0; round < 20000; ++round) {
        const char conv = "diouxXcsfeEgGpa"[pick(15)];
        std::string fmt = pick(3) ? "<%" : "%";
        for (char flag : std::string(strchr("cps", conv) ? "-" : "#-+ 0"))
            if (pick(4) == 0 && (flag != '#' || strchr("oxXfeEgGa", conv)))
                fmt += flag;
        const int ws = pick(3), ps = pick(3), w = pick(60) - 20, p = pick(60) - 20;  // 0 none, 1 digits, 2 '*'
        fmt += ws == 1 ? std::to_string(std::abs(w)) : ws == 2 ? "*" : "";
        fmt += (ps == 1 ? "." + std::to_string(std::abs(p)) : ps == 2 ? ".*" : "") + conv + (pick(2) ? ">" : "");
        auto run = [&, f = fmt.c_str()](auto v) {
            ws == 2 && ps == 2 ? Fmt(-1, f, w, p, v) : ws == 2 || ps == 2 ? Fmt(-1, f, ws == 2 ? w : p, v) : Fmt(-1, f, v);
        };
        switch (conv) {
        case 'd': case 'i': run((int)(rng() - 0x80000000u)); break;
        case 'o': case 'u': case 'x': case 'X': run((unsigned)rng()); break;
        case 'c': run(32 + pick(95)); break;
        case 's': run(pick(8) ? "hello \xe9t\xe9" + pick(10) : nullptr); break;
        case 'p': run((void*)(uintptr_t)(rng() * (uint64_t)rng())); break;
        default: run(reals[pick(8)] * (pick(2) ? 1 : -1));
        }
        ASSERT_FALSE(HasFailure()) << fmt;
    }
}

TEST(BCStringFormat, FromTheOwnText)
{
    Probe s("ab%dc");
    s.Format(s, 7);  // the format is the string's own text, then so are the arguments
    s.Format("%s|%s|%.1s", (LPCBTSTR)s, s.GetBuffer(0) + 2, (LPCBTSTR)s);
    EXPECT_STREQ(s, "ab7c|7c|a");
    s.Format("%s%.200e", (LPCBTSTR)s, 1.0);  // the retry with an exact buffer reads it as well
    EXPECT_EQ(std::string(s).substr(0, 14), "ab7c|7c|a1.000");
    s.Format(nullptr);
    EXPECT_STREQ(s, "");
}
