// CBCString: every byte of its buffer where edits leave bytes behind the terminator, a derived class with a
// buffer of its own, the reads against std::string, Format's buffers against snprintf. Generated edit
// sequences and formats: fuzz/bcstring_fuzz.cpp, fuzz/format_fuzz.cpp. Replacing new[], the class's only
// allocator, gives every block's size and fails one request on demand.
#include "BCString.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

static bool g_failNext = false;
static std::map<const void*, size_t> g_live;  // every live block (map nodes come from operator new)

void* operator new[](size_t n)
{
    void* p = std::exchange(g_failNext, false) ? nullptr : malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return g_live[p] = n, p;
}
void operator delete[](void* p) noexcept { g_live.erase(p), free(p); }
void operator delete[](void* p, size_t) noexcept { g_live.erase(p), free(p); }

// Every byte of the buffer, as the allocator sized it ("" without a buffer).
struct Probe : CBCString {
    using CBCString::CBCString, CBCString::operator=;
    std::string Bytes() const { return m_pchData ? std::string(m_pchData, g_live.at(m_pchData)) : ""; }
};

TEST(BCString, BytesBehindTheTerminatorAndFailedAllocations)
{
    using S = std::string;
    using P = Probe&;
    const struct { const char* name; S start; std::function<int(P)> edit; S want; int result; } rows[] = {
        {"counted constructor copies past a NUL", S("ab\0cde", 6), [](P) { return 0; }, S("ab\0cde\0", 7), 0},
        {"SetAt(i, NUL) cuts, the rest stays", "abcd", [](P s) { return s.SetAt(1, 0), 0; }, S("a\0cd\0", 5), 0},
        {"SetAt on the terminator: nothing", "abcd", [](P s) { return s.SetAt(4, 'x'), 0; }, S("abcd\0", 5), 0},
        {"TrimRight(): a NUL over each space", "ab  ", [](P s) { return s.TrimRight(), 0; }, S("ab\0\0\0", 5), 0},
        {"TrimRight(ch): each byte", "abxx", [](P s) { return s.TrimRight('x'), 0; }, S("ab\0\0\0", 5), 0},
        {"TrimRight(set): one NUL cuts the run", "abxyx", [](P s) { return s.TrimRight("xy"), 0; },
         S("ab\0yx\0", 6), 0},
        {"Replace(ch, NUL): the walk goes on", "abcbb", [](P s) { return s.Replace('b', 0); },
         S("a\0c\0\0\0", 6), 3},
        {"Insert(i, NUL): the rest follows it", "abc", [](P s) { return s.Insert(1, '\0'); }, S("a\0bc\0", 5), 0},
        {"= ch on a used buffer: two bytes", "abcd", [](P s) { return s = 'z', 0; }, S("z\0cd\0", 5), 0},
        {"= ch on an empty text: a new buffer", "", [](P s) { return s = 'z', 0; }, S("z\0", 2), 0},
        {"Remove: NULs over the tail", "abcb", [](P s) { return s.Remove('b'); }, S("ac\0\0\0", 5), 2},
        {"Delete: NULs over the tail", "abcd", [](P s) { return s.Delete(1, 2); }, S("ad\0\0\0", 5), 0},
        {"Empty: every byte NUL", "abc", [](P s) { return s.Empty(), 0; }, S("\0\0\0\0", 4), 0},
        {"TrimLeft: the old size", "  ab", [](P s) { return s.TrimLeft(), 0; }, S("ab\0\0\0", 5), 0},
        {"+= NUL: the length stays", "ab", [](P s) { return s += '\0', 0; }, S("ab\0\0", 4), 0},
        {"+= itself", "ab", [](P s) { return s += s, 0; }, S("abab\0", 5), 0},
        {"Insert of the own text", "abc", [](P s) { return s.Insert(1, s.GetBuffer(0) + 1); }, S("abcbc\0", 6), 0},
        {"Replace: matches do not overlap", "aaab", [](P s) { return s.Replace("aa", ""); }, S("ab\0", 3), 1},
        {"Replace by the own text", "abc", [](P s) { return s.Replace(s.GetBuffer(0) + 2, s); }, S("ababc\0", 6), 1},
        {"MakeLower: ASCII only", "aB\xC9", [](P s) { return s.MakeLower(), 0; }, S("ab\xC9\0", 4), 0},
    };
    for (const auto& row : rows)
        for (bool fail : {false, true}) {  // a failed allocation throws and leaves every byte as it was
            Probe s(row.start.data(), (int)row.start.size());
            const S before = s.Bytes();
            int got = -1;
            g_failNext = fail;
            try { got = row.edit(s); } catch (const std::bad_alloc&) { EXPECT_EQ(s.Bytes(), before) << row.name; }
            if (got != -1) { EXPECT_EQ(std::pair(s.Bytes(), got), std::pair(row.want, row.result)) << row.name; }
            EXPECT_EQ(fail && got == -1, fail && !g_failNext) << row.name << ": throws only when it allocates";
            g_failNext = false;
        }
}

// A derived class showing a text of its own, the capacity member left as the base made it; and the reads
// of each text with each argument against std::string.
struct View : CBCString {
    char* own;
    explicit View(char* text) : CBCString("x"), own(m_pchData) { m_pchData = text; }
    ~View() { m_pchData = own; }
};
static int Sign(int v) { return (v > 0) - (v < 0); }
static std::string Lower(std::string t) { for (char& c : t) c = c >= 'A' && c <= 'Z' ? (char)(c + 32) : c; return t; }

TEST(BCString, ReadsOnADerivedClassMatchStdString)
{
    for (std::string m : {"", "abcabc", "a bB\tC\xe9 long enough for any capacity"}) {
        for (std::string q : {"", "b", "bc", "C", "\xe9x", "c "}) {
            std::string buf = m;
            View v(&buf[0]);
            const int n = (int)m.size();
            const std::string mz = m + '\0';  // finds a NUL at the end
            auto at = [&](int x) { return x >= 0 && x < n ? m[(size_t)x] : '\0'; };
            auto from = [&](int x, auto what) { return x < 0 || x >= n ? -1 : (int)mz.find(what, (size_t)x); };
            for (int i : {-1, 0, 2, 5, n - 1, n, n + 1}) {
                SCOPED_TRACE(testing::Message() << '"' << m << "\" \"" << q << "\" i " << i);
                const char* pq = q.c_str();
                const int sub = from(i, q);
                const std::vector<int> got = {v.GetLength(), v.IsEmpty(), v.GetAt(i), v[i], v.Find(q[0], i),
                    v.Find(pq, i), v.ReverseFind(q[0]), v.FindOneOf(pq), Sign(v.Compare(pq)), Sign(v.CompareNoCase(pq))};
                const std::vector<int> want = {n, n == 0, at(i), at(i), from(i, q[0]), sub < 0 ? -1 : sub - i,
                    q[0] ? (int)m.rfind(q[0]) : -1, (int)m.find_first_of(q), Sign(q.compare(m)),
                    Sign(Lower(q).compare(Lower(m)))};
                EXPECT_EQ(got, want);
            }
            v.SetAt(n - 1, '!'), v.SetAt(n, '?');  // the last byte changes, the terminator does not
            EXPECT_EQ(buf, n ? m.substr(0, (size_t)n - 1) + '!' : m);
        }
    }
}

// Format gives snprintf's bytes (a %c of 0 too) in a zero-filled buffer of wantCap bytes, 0: output + 1.
template <class... A> static void Fmt(size_t wantCap, const char* fmt, A... args)
{
    std::string want((size_t)std::max(snprintf(nullptr, 0, fmt, args...), 0) + 1, '\0');
    snprintf(&want[0], want.size(), fmt, args...);
    Probe str("previous");  // replaced
    str.Format(fmt, args...);
    want.resize(wantCap ? wantCap : want.size());
    EXPECT_EQ(str.Bytes(), want) << "format \"" << fmt << "\": " << str.Bytes().size() << " bytes";
}

TEST(BCStringFormat, BufferSizes)
{
    Probe c, t("ab%dc");
    // Sized by the estimating walk where the output fits ("abc": 3 + 2 + 1), else exactly the output + 1.
    // Generated formats: fuzz/format_fuzz.cpp; here the sizes the walk must keep and formats it cannot make.
    Fmt(7, "abc"), Fmt(6, "%cab", 0), Fmt(36, "%5.30d", 7), Fmt(33, "%p", (void*)&t), Fmt(36, "%.35x", 1u);
    Fmt(7, "%s", (const char*)nullptr), Fmt(9, "%.*f", -3, 2.5), Fmt(47, "%*.*dxyz", 40, -4, 7);
    Fmt(17, "%*sxyz", -10, "ab"), Fmt(0, "%.40d", -1), Fmt(0, "%+f", -NAN), Fmt(0, "abc%-08."), Fmt(0, "%");
    // printf fails part way: its bytes so far, in the estimate (6 + 5 + 2 + 2 + 1) + 1
    std::string part(17, '\0');
    c.Format("ab%Ccd", (wint_t)0x1234), snprintf(&part[0], 17, "ab%Ccd", (wint_t)0x1234);
    EXPECT_EQ(c.Bytes(), part);
    t.Format(t, 7), c.Format(nullptr);  // the format from the own text, then the exact retry reads it; null
    t.Format("%s%.200e", (LPCBTSTR)t, 1.0);
    EXPECT_EQ(std::string(t).substr(0, 9) + "/" + (LPCBTSTR)c, "ab7c1.000/");
    // %f: snprintf's count at both sides of a carry into digit d + 1 (p + 6 places), two rounding modes.
    const double odd[] = {-0.0, 5e-324, 1e300, NAN, -INFINITY};
    for (int mode : {FE_TONEAREST, FE_UPWARD})
        for (int d = 0, p = 0; d <= 23 && !HasFailure(); p = (p + 1) % 19, d += !p) {
            const double edge = std::pow(10.0, d) - 0.5 * std::pow(10.0, -p - 6);
            const double up = std::pow(10.0, d), below = std::nextafter(edge, 0.0), above = std::nextafter(edge, up);
            const double values[] = {edge, below, above, up, -edge, odd[d % 5]};
            for (double v : values) {
                fesetround(mode);
                Fmt(snprintf(nullptr, 0, "%*.*f", d + p, p + 6, v) + 1, "%*.*f", d + p, p, v);
                fesetround(FE_TONEAREST);
            }
        }
}
