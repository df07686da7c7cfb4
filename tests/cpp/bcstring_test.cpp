// CBCString: buffer sizes, a randomized differential test against a
// std::string model, Format against snprintf, and the forgiving edges.
//
// Buffer sizes are observed by replacing the array allocator of this test
// binary: the class allocates only through new char[], so every request is
// recorded, and the next request can be made to fail.
#include "BCString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {
bool g_record = false;
bool g_failNext = false;
size_t g_sizes[16];
int g_count = 0;
} // namespace

void* operator new[](size_t n)
{
    if (g_failNext) {
        g_failNext = false;
        throw std::bad_alloc();
    }
    if (g_record && g_count < 16)
        g_sizes[g_count++] = n;
    void* p = malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}
void operator delete[](void* p) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

namespace {

// The array requests made while fn runs.
template <class Fn>
std::vector<size_t> Requests(Fn fn)
{
    g_count = 0;
    g_record = true;
    fn();
    g_record = false;
    return std::vector<size_t>(g_sizes, g_sizes + g_count);
}
using Sizes = std::vector<size_t>;

// Exposes the capacity the class keeps in m_dwBuffLen.
struct Probe : CBCString {
    using CBCString::CBCString;
    using CBCString::operator=;
    size_t Cap() const { return m_dwBuffLen; }
    bool HasBuffer() const { return m_pchData != nullptr; }
    // Every byte from the terminator to the end of the buffer is NUL.
    bool TailClear() const
    {
        for (size_t i = strlen(m_pchData); i < m_dwBuffLen; ++i)
            if (m_pchData[i])
                return false;
        return true;
    }
};

int Sign(int v) { return (v > 0) - (v < 0); }

// ---- storage: exact sizes and in-place operations --------------------------

struct SizeRow {
    const char* name;
    const char* before;                  // nullptr: default-constructed
    void (*op)(Probe&);
    const char* after;                   // nullptr: still no buffer
    Sizes requests;                      // every new[] of the operation
    bool byValue = false;                // the requests build a result, not *this
};

TEST(BCStringStorage, ExactBufferSizes)
{
    const SizeRow rows[] = {
        {"assign to none", nullptr, [](Probe& s) { s = "abc"; }, "abc", {4}},
        {"assign char to none", nullptr, [](Probe& s) { s = 'q'; }, "q", {2}},
        {"assign char reuses", "abc", [](Probe& s) { s = 'q'; }, "q", {}},
        {"assign NUL char", "abc", [](Probe& s) { s = '\0'; }, "", {}},
        {"assign char to empty", "", [](Probe& s) { s = 'q'; }, "q", {2}},
        {"Empty in place", "abc", [](Probe& s) { s.Empty(); }, "", {}},
        {"Empty then +=", "abc", [](Probe& s) { s.Empty(); s += 'x'; }, "x", {2}},
        {"+= NUL grows", "ab", [](Probe& s) { s += '\0'; }, "ab", {4}},
        {"+= self", "ab", [](Probe& s) { s += s; }, "abab", {5}},
        {"+= own tail", "abcd", [](Probe& s) { s += s.GetBuffer(0) + 2; }, "abcdcd", {7}},
        {"GetBuffer never grows", "ab", [](Probe& s) { s.GetBuffer(100); }, "ab", {}},
        {"SetAt NUL cuts", "abc", [](Probe& s) { s.SetAt(1, '\0'); }, "a", {}},
        {"MakeUpper", "aBc1\xe9", [](Probe& s) { s.MakeUpper(); }, "ABC1\xe9", {6}},
        {"TrimRight in place", "  ab  ", [](Probe& s) { s.TrimRight(); }, "  ab", {}},
        {"TrimLeft rebuilds", "  ab  ", [](Probe& s) { s.TrimLeft(); }, "ab  ", {7}},
        {"TrimLeft nothing", "ab", [](Probe& s) { s.TrimLeft(); }, "ab", {3}},
        {"TrimRight tab kept", " a\t", [](Probe& s) { s.TrimRight(); }, " a\t", {}},
        {"Replace by NUL", "banana", [](Probe& s) { s.Replace('n', '\0'); }, "ba", {}},
        {"Replace sub", "banana", [](Probe& s) { s.Replace("an", "AN"); }, "bANANa", {7}},
        {"Replace no match", "abc", [](Probe& s) { s.Replace("x", "y"); }, "abc", {4}},
        {"Replace empty old", "abc", [](Probe& s) { s.Replace("", "y"); }, "abc", {}},
        {"Insert NUL", "abcd", [](Probe& s) { s.Insert(2, '\0'); }, "ab", {6}},
        {"Insert own text", "abcd", [](Probe& s) { s.Insert(1, s.GetBuffer(0) + 2); }, "acdbcd", {7}},
        {"self-assignment", "abc", [](Probe& s) { s = static_cast<const CBCString&>(s); }, "abc", {4}},
        {"assign own tail", "abcd", [](Probe& s) { s = s.GetBuffer(0) + 1; }, "bcd", {4}},
        {"Mid", "hello", [](Probe& s) { CBCString r = s.Mid(1, 3); EXPECT_STREQ(r, "ell"); }, "hello", {4}, true},
        // A string without a buffer reads as the empty text.
        {"none: Empty", nullptr, [](Probe& s) { s.Empty(); }, nullptr, {}},
        {"none: TrimRight", nullptr, [](Probe& s) { s.TrimRight("x"); }, nullptr, {}},
        {"none: Replace char", nullptr, [](Probe& s) { EXPECT_EQ(s.Replace('a', 'b'), 0); }, nullptr, {}},
        {"none: Delete", nullptr, [](Probe& s) { s.Delete(0, 3); }, nullptr, {}},
        {"none: SetAt", nullptr, [](Probe& s) { s.SetAt(0, 'x'); }, nullptr, {}},
        {"none: +=", nullptr, [](Probe& s) { s += "ab"; }, "ab", {3}},
        {"none: Insert", nullptr, [](Probe& s) { s.Insert(3, 'x'); }, "x", {2}},
        {"none: MakeUpper", nullptr, [](Probe& s) { s.MakeUpper(); }, "", {1}},
        {"none: Replace sub", nullptr, [](Probe& s) { EXPECT_EQ(s.Replace("a", "b"), 0); }, "", {1}},
        {"none: copy", nullptr, [](Probe& s) { Probe t(s); EXPECT_STREQ(t, ""); }, nullptr, {1}},
        {"none: assign from", "abc", [](Probe& s) { s = CBCString(); }, "", {1}},
        // Null pointers read as the empty text.
        {"null: assign", "abc", [](Probe& s) { s = (LPCBTSTR) nullptr; }, "", {1}},
        {"null: +=", "ab", [](Probe& s) { s += (LPCBTSTR) nullptr; }, "ab", {3}},
        {"null: Insert", "ab", [](Probe& s) { s.Insert(1, (LPCBTSTR) nullptr); }, "ab", {3}},
        {"null: Replace new", "abc", [](Probe& s) { EXPECT_EQ(s.Replace("b", nullptr), 1); }, "ac", {3}},
        {"null: Replace old", "abc", [](Probe& s) { EXPECT_EQ(s.Replace(nullptr, "x"), 0); }, "abc", {}},
    };
    for (const SizeRow& r : rows) {
        SCOPED_TRACE(r.name);
        Probe s;
        if (r.before)
            s = r.before;
        size_t capBefore = s.Cap();
        Sizes got = Requests([&] { r.op(s); });
        EXPECT_EQ(got, r.requests);
        if (!r.after) {
            EXPECT_FALSE(s.HasBuffer());
            EXPECT_EQ((LPCBTSTR)s, nullptr);
            continue;
        }
        ASSERT_TRUE(s.HasBuffer());
        EXPECT_STREQ(s, r.after);
        EXPECT_EQ(s.Cap(), r.requests.empty() || r.byValue ? capBefore : r.requests.back());
        EXPECT_TRUE(s.TailClear());
    }
}

TEST(BCStringStorage, ConstructorsAndFailedAllocation)
{
    Sizes got = Requests([] {
        Probe a(""), b("abcdef", 3), c("ab", 5), d(nullptr), e("abc", -2), f(b);
        EXPECT_STREQ(a, "");
        EXPECT_STREQ(b, "abc");
        EXPECT_STREQ(c, "ab");
        EXPECT_STREQ(d, "");
        EXPECT_STREQ(e, "");
        EXPECT_STREQ(f, "abc");
        EXPECT_TRUE(a.IsEmpty() && !b.IsEmpty() && Probe().IsEmpty());
    });
    EXPECT_EQ(got, (Sizes{1, 4, 6, 1, 1, 4}));

    // A failed allocation throws and keeps the previous value.
    Probe s("abc");
    const std::vector<void (*)(Probe&)> ops = {
        [](Probe& t) { t = "longer text"; },   [](Probe& t) { t += t; },
        [](Probe& t) { t.Insert(1, 'x'); },     [](Probe& t) { t.Replace("b", "yy"); },
        [](Probe& t) { t.MakeUpper(); },        [](Probe& t) { t.TrimLeft(); },
        [](Probe& t) { t.Format("%d", 7); },    [](Probe& t) { t.Format("%ld", 7L); },
    };
    for (size_t i = 0; i < ops.size(); ++i) {
        g_failNext = true;
        EXPECT_THROW(ops[i](s), std::bad_alloc) << i;
        EXPECT_STREQ(s, "abc") << i;
        EXPECT_EQ(s.Cap(), 4u);
    }
    g_failNext = false;
}


// ---- randomized differential test against std::string ------------------------

int ClampM(long long v, long long lo, long long hi) { return (int)(v < lo ? lo : v > hi ? hi : v); }

// The model's answer to Find(sub, nStart): an offset from nStart.
int ModelFindSub(const std::string& m, const std::string& sub, int nStart)
{
    if (nStart < 0 || (size_t)nStart >= m.size())
        return -1;
    size_t pos = m.find(sub, (size_t)nStart);
    return pos == std::string::npos ? -1 : (int)(pos - (size_t)nStart);
}

TEST(BCStringRandom, EditingAndSearchMatchStdString)
{
    std::mt19937 rng(20240611);
    const char alphabet[] = "aAbB c\xe9x";
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    auto ch = [&](bool nul) { return nul && pick(12) == 0 ? '\0' : alphabet[pick(8)]; };
    auto text = [&](int maxLen) {
        std::string t(pick(maxLen + 1), ' ');
        for (char& c : t)
            c = ch(false);
        return t;
    };
    auto index = [&](size_t n) { return pick(6) == 0 ? pick(40) - 20 : pick((int)n + 2); };
    int ops = 0;
    for (int seq = 0; seq < 3000; ++seq) {
        std::string m = text(20);
        Probe s(m.c_str());
        size_t cap = m.size() + 1;  // the model's capacity
        for (int step = 0; step < 25; ++step, ++ops) {
            const int n = (int)m.size();
            const int op = pick(20);
            const std::string a = text(3), b = text(3);
            const char c1 = ch(true), c2 = ch(true);
            const int i = index(m.size()), j = index(m.size());
            size_t newCap = 0;  // 0: in place
            int got = 0, want = 0;
            Sizes req = Requests([&] {
                switch (op) {
                case 0: got = s.Insert(i, c1); break;
                case 1: got = s.Insert(i, a.c_str()); break;
                case 2: got = s.Delete(i, j); break;
                case 3: got = s.Replace(c1, c2); break;
                case 4: got = s.Replace(a.c_str(), b.c_str()); break;
                case 5: got = s.Remove(c1); break;
                case 6: c1 == ' ' ? s.TrimLeft() : s.TrimLeft(c1); break;
                case 7: s.TrimLeft(a.c_str()); break;
                case 8: c1 == ' ' ? s.TrimRight() : s.TrimRight(c1); break;
                case 9: s.TrimRight(a.c_str()); break;
                case 10: i % 2 ? s.MakeLower() : s.MakeUpper(); break;
                case 11: s.MakeReverse(); break;
                case 12: s += a.c_str(); break;
                case 13: s += c1; break;
                case 14: s.SetAt(i, c1); break;
                case 15: s = c1; break;
                case 16: {
                    CBCString r = s.Mid(i, j);
                    EXPECT_EQ(std::string(r), m.substr(ClampM(i, 0, n), ClampM(j, 0, n - ClampM(i, 0, n))));
                    EXPECT_EQ(std::string(s.Mid(i)), m.substr(ClampM(i, 0, n)));
                    EXPECT_EQ(std::string(s.Left(i)), m.substr(0, ClampM(i, 0, n)));
                    EXPECT_EQ(std::string(s.Right(j)), m.substr(n - ClampM(j, 0, n)));
                    break;
                }
                default: break;
                }
            });
            switch (op) {
            case 0: case 1: {
                size_t k = (size_t)ClampM(i, 0, n);
                std::string ins = op == 0 ? std::string(1, c1) : a;
                newCap = m.size() + ins.size() + 1;
                m = op == 0 && c1 == 0 ? m.substr(0, k) : m.insert(k, ins);
                break;
            }
            case 2: {
                int k = ClampM(i, 0, n);
                m.erase((size_t)k, (size_t)ClampM(j, 0, n - k));
                break;
            }
            case 3: case 5:
                for (size_t k = 0; k < m.size(); ++k)
                    want += c1 != 0 && m[k] == c1;
                if (op == 5 && c1)
                    m.erase(std::remove(m.begin(), m.end(), c1), m.end());
                else if (op == 3 && c1)
                    std::replace(m.begin(), m.end(), c1, c2);
                m = m.c_str();  // a NUL replacement cuts the text
                break;
            case 4:
                if (!a.empty()) {
                    std::string r;
                    size_t from = 0;
                    for (size_t p; (p = m.find(a, from)) != std::string::npos; from = p + a.size(), ++want)
                        r += m.substr(from, p - from) + b;
                    m = r + m.substr(from);
                    newCap = m.size() + 1;
                }
                break;
            case 6: case 7: {
                newCap = m.size() + 1;
                size_t k = op == 6 ? (c1 ? m.find_first_not_of(c1) : 0) : m.find_first_not_of(a);
                m = k == std::string::npos ? "" : m.substr(k);
                break;
            }
            case 8: case 9: {
                size_t k = op == 8 ? (c1 ? m.find_last_not_of(c1) : m.size() - 1) : m.find_last_not_of(a);
                m = k == std::string::npos ? "" : m.substr(0, k + 1);
                break;
            }
            case 10:
                for (char& c : m)
                    c = (char)(i % 2 ? tolower((unsigned char)c) : toupper((unsigned char)c));
                newCap = m.size() + 1;
                break;
            case 11: m.assign(m.rbegin(), m.rend()); newCap = m.size() + 1; break;
            case 12: newCap = m.size() + a.size() + 1; m += a; break;
            case 13: newCap = m.size() + 2; if (c1) m += c1; break;
            case 14:
                if (i >= 0 && i < n)
                    m = c1 ? m.replace((size_t)i, 1, 1, c1) : m.substr(0, (size_t)i);
                break;
            case 15: newCap = m.empty() ? 2 : 0; m = c1 ? std::string(1, c1) : ""; break;
            case 16: newCap = 0; break;
            default: break;
            }
            SCOPED_TRACE(testing::Message() << "seq " << seq << " op " << op << " i " << i << " j " << j);
            ASSERT_EQ(std::string(s), m);
            EXPECT_EQ(got, want);
            if (op == 16)
                continue;
            EXPECT_EQ(req, newCap ? Sizes{newCap} : Sizes{});
            cap = newCap ? newCap : cap;
            ASSERT_EQ(s.Cap(), cap);
            ASSERT_TRUE(s.TailClear());

            // Searches and comparisons on the new text.
            const int len = (int)m.size();
            ASSERT_EQ(s.GetLength(), len);
            EXPECT_EQ(s.GetAt(i), i >= 0 && i < len ? m[(size_t)i] : '\0');
            EXPECT_EQ(s.Find(c1, i), i < 0 || i >= len ? -1 : c1 == 0 ? len : (int)m.find(c1, (size_t)i));
            EXPECT_EQ(s.Find(c1), len == 0 ? -1 : c1 == 0 ? len : (int)m.find(c1));
            EXPECT_EQ(s.ReverseFind(c1), c1 == 0 ? -1 : (int)m.rfind(c1));
            EXPECT_EQ(s.Find(a.c_str(), i), ModelFindSub(m, a, i));
            EXPECT_EQ(s.Find(a.c_str()), ModelFindSub(m, a, 0));
            EXPECT_EQ(s.FindOneOf(a.c_str()), (int)m.find_first_of(a));
            EXPECT_EQ(Sign(s.Compare(a.c_str())), Sign(a.compare(m)));
            std::string la = a, lm = m;
            for (char& c : la) c = (char)tolower((unsigned char)c);
            for (char& c : lm) c = (char)tolower((unsigned char)c);
            EXPECT_EQ(Sign(s.CompareNoCase(a.c_str())), Sign(la.compare(lm)));
        }
    }
    EXPECT_GT(ops, 50000);
}

// ---- Format against snprintf -------------------------------------------------

struct Formatted {
    long cap;  // capacity of the string's buffer afterwards
    long out;  // snprintf's count
};

// Formats through Format and through snprintf and expects the same text
// (the empty text where snprintf reports an error).
template <class... A>
Formatted FormatChecked(const char* fmt, A... args)
{
    int n = snprintf(nullptr, 0, fmt, args...);
    std::string want(n > 0 ? (size_t)n : 0, '\0');
    if (n > 0)
        snprintf(&want[0], (size_t)n + 1, fmt, args...);
    Probe s("previous");
    s.Format(fmt, args...);
    EXPECT_EQ(std::string(s), want.c_str()) << "format \"" << fmt << "\"";
    EXPECT_TRUE(s.TailClear());
    EXPECT_GE(s.Cap(), strlen(want.c_str()) + 1);
    return {(long)s.Cap(), n};
}

// Buffers sized by the estimating walk, where the output fits.
TEST(BCStringFormat, EstimatedSizes)
{
    int written = -1;
    EXPECT_EQ(FormatChecked("abc").cap, 7);  // 3 + 2 + 1 for the literal walk
    EXPECT_EQ(FormatChecked("%%").cap, 2);
    EXPECT_EQ(FormatChecked("").cap, 1);
    EXPECT_EQ(FormatChecked("%d", 5).cap, 33);
    EXPECT_EQ(FormatChecked("%*d", 5, 42).cap, 33);
    EXPECT_EQ(FormatChecked("%*d", 40, 42).cap, 41);
    EXPECT_EQ(FormatChecked("%#x", 255).cap, 35);
    EXPECT_EQ(FormatChecked("%s", "abc").cap, 4);
    EXPECT_EQ(FormatChecked("%s", "").cap, 2);
    EXPECT_EQ(FormatChecked("%s", (const char*)nullptr).cap, 7);
    EXPECT_EQ(FormatChecked("%5s", "ab").cap, 6);
    EXPECT_EQ(FormatChecked("%.2s", "abcdef").cap, 3);
    EXPECT_EQ(FormatChecked("%c", 'x').cap, 3);
    EXPECT_EQ(FormatChecked("%.1c", 'x').cap, 2);
    EXPECT_EQ(FormatChecked("%5.2f", 3.14159).cap, 11);
    EXPECT_EQ(FormatChecked("%e", 1.0).cap, 129);
    EXPECT_EQ(FormatChecked("%10.200e", 1.0).cap, 211);
    EXPECT_EQ(FormatChecked("%n", &written).cap, 1);
    EXPECT_EQ(FormatChecked("%-*d", -5, 42).cap, 33);        // negative width: left-justified
    EXPECT_EQ(FormatChecked("%.*f", -3, 2.5).cap, 9);         // negative precision: none
    EXPECT_EQ(FormatChecked("%*.*dxyz", 40, -4, 7).cap, 47);  // 40 + 6
    EXPECT_EQ(FormatChecked("%*sxyz", -10, "ab").cap, 17);       // 10 + 6
    EXPECT_EQ(written, 0);
}

// Where the estimate falls short, or the walk has no rule, the buffer is
// exactly the output's length + 1 and the text is printf's.
TEST(BCStringFormat, ShortOrMissingEstimatesGiveTheExactOutput)
{
    const double inf = INFINITY, nan = NAN;
    const std::pair<const char*, Formatted> rows[] = {
        {"%.40p", FormatChecked("%.40p", (void*)0x1234)},
        {"%+f inf", FormatChecked("%+f", inf)},
        {"%+f -nan", FormatChecked("%+f", -nan)},
        {"% f nan", FormatChecked("% f", nan)},
        {"%.200e", FormatChecked("%.200e", 1.0)},
        {"%.125G", FormatChecked("%.125G", 1e300 / 3)},
        {"%.40d", FormatChecked("%.40d", -1)},
        {"%+.40d", FormatChecked("%+.40d", 1)},
        {"%ld", FormatChecked("%ld", 1234567890123L)},
        {"%lld", FormatChecked("%lld", -1234567890123LL)},
        {"%zu", FormatChecked("%zu", (size_t)77)},
        {"%hhd", FormatChecked("%hhd", 300)},
        {"%Lf", FormatChecked("%Lf", 1.5L)},
        {"%E", FormatChecked("%E", 12345.678)},
        {"%a", FormatChecked("%a", 1.0)},
        {"%s%ld%s", FormatChecked("%s%ld%s", "a", 5L, "b")},
        {"%5%", FormatChecked("%5%")},
        {"trailing %", FormatChecked("abc%")},
        {"trailing flags", FormatChecked("abc%-08.")},
        {"lone %", FormatChecked("%")},
    };
    for (const auto& r : rows)
        EXPECT_EQ(r.second.cap, r.second.out < 0 ? 1 : r.second.out + 1) << r.first;
}

// Random single conversions with random flags, widths and precisions
// (literal or '*', negative ones included) against snprintf.
TEST(BCStringFormat, RandomConversionsMatchSnprintf)
{
    std::mt19937 rng(7);
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    const char* texts[] = {"", "a", "hello world", nullptr, "\xe9t\xe9"};
    const double reals[] = {0.0, -0.0, 1.5, -2.25e-7, 3.14159265358979, 1e300, -1e-300, INFINITY, NAN};
    int checked = 0;
    for (int round = 0; round < 20000; ++round) {
        const char conv = "diouxXcsfeEgGpa"[pick(15)];
        const bool numeric = strchr("diouxXfeEgGa", conv) != nullptr;
        std::string fmt = pick(3) ? "<" : "";
        fmt += '%';
        for (char flag : std::string(numeric ? "#-+ 0" : "-"))
            if (pick(4) == 0 && (flag != '#' || strchr("oxXfeEgGa", conv)))
                fmt += flag;
        const int ws = pick(3), ps = pick(3);  // 0 none, 1 digits, 2 '*'
        const int w = pick(60) - 20, p = pick(60) - 20;
        if (ws == 1) fmt += std::to_string(w < 0 ? -w : w);
        if (ws == 2) fmt += '*';
        if (ps == 1) fmt += "." + std::to_string(p < 0 ? -p : p);
        if (ps == 2) fmt += ".*";
        fmt += conv;
        fmt += pick(2) ? ">" : "";
        auto run = [&](auto v) {
            if (ws == 2 && ps == 2) FormatChecked(fmt.c_str(), w, p, v);
            else if (ws == 2) FormatChecked(fmt.c_str(), w, v);
            else if (ps == 2) FormatChecked(fmt.c_str(), p, v);
            else FormatChecked(fmt.c_str(), v);
        };
        switch (conv) {
        case 'd': case 'i': run((int)(rng() - 0x80000000u)); break;
        case 'o': case 'u': case 'x': case 'X': run((unsigned)rng()); break;
        case 'c': run(32 + pick(95)); break;
        case 's': run(texts[pick(5)]); break;
        case 'p': run((void*)(uintptr_t)(rng() * (uint64_t)rng())); break;
        default: run(reals[pick(9)] * (pick(2) ? 1 : -1)); break;
        }
        ++checked;
        if (HasFailure())
            FAIL() << fmt;
    }
    EXPECT_EQ(checked, 20000);
}

TEST(BCStringFormat, OwnTextAndNoBuffer)
{
    Probe s("ab%dc");
    s.Format(s, 7);  // the format is the string's own text
    EXPECT_STREQ(s, "ab7c");
    s.Format("%s|%s|%.1s", (LPCBTSTR)s, s.GetBuffer(0) + 2, (LPCBTSTR)s);
    EXPECT_STREQ(s, "ab7c|7c|a");
    s.Format("%s%.200e", (LPCBTSTR)s, 1.0);  // the retry reads it as well
    EXPECT_EQ(std::string(s).substr(0, 14), "ab7c|7c|a1.000");
    Probe none;
    none.Format("%d-%s", 1, "x");
    EXPECT_STREQ(none, "1-x");
    none.Format(nullptr);
    EXPECT_STREQ(none, "");
}

} // namespace
