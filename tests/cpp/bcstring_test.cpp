// CBCString against a model of every byte of its buffer, Format's buffers against snprintf (generated
// formats: fuzz/format_fuzz.cpp). Replacing new[], the class's only allocator, records every block's size
// and fails one request on demand.
#include "BCString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

static bool g_record = false, g_failNext = false;
static std::vector<size_t> g_sizes;           // requests while recording
static std::map<const void*, size_t> g_live;  // every live block (map nodes come from operator new)

void* operator new[](size_t n)
{
    void* p = std::exchange(g_failNext, false) ? nullptr : malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return g_record ? g_sizes.push_back(n) : void(), g_live[p] = n, p;
}
void operator delete[](void* p) noexcept { g_live.erase(p), free(p); }
void operator delete[](void* p, size_t) noexcept { g_live.erase(p), free(p); }

// Every byte of the buffer, as the allocator sized it ("" without a buffer).
struct Probe : CBCString {
    using CBCString::CBCString, CBCString::operator=;
    std::string Bytes() const { return m_pchData ? std::string(m_pchData, g_live.at(m_pchData)) : ""; }
};
// Shows another string's buffer, the capacity member left as start made it: nothing may rely on it.
struct View : CBCString {
    char* own;
    View(const std::string& start, char* text) : CBCString(start.c_str()), own(m_pchData) { m_pchData = text; }
    ~View() { m_pchData = own; }
};

static std::mt19937 g_rng(20240611);
static int Pick(int n) { return (int)(g_rng() % (unsigned)n); }
static char Ch(bool nul) { return "aAbB c\xe9\t"[Pick(nul ? 9 : 8)]; }  // 1 in 9 NUL
static std::string Text(int maxLen) { std::string t((size_t)Pick(maxLen + 1), ' '); for (char& c : t) c = Ch(false); return t; }
static int Sign(int v) { return (v > 0) - (v < 0); }
static int Clamp(long long v, long long lo, long long hi) { return (int)std::min(std::max(v, lo), hi); }
static std::string Cased(std::string t, char from, int add)  // the C locale's rule, by arithmetic
{ for (char& c : t) c = c >= from && c <= from + 25 ? (char)(c + add) : c; return t; }
template <class... A> static std::string Printed(const char* f, A... args)  // snprintf's bytes and NUL
{
    std::string want((size_t)std::max(snprintf(nullptr, 0, f, args...), 0) + 1, '\0');
    return snprintf(&want[0], want.size(), f, args...), want;
}

// The step under way: string s, its model buf (every byte; "" without a buffer), text m and length n before
// the step, the arguments, the results and the allocation requests the step should make.
static Probe* s;  // and a View of its buffer
static View* view;
static std::string buf, m, a, b;  // a, b: the texts at pa, pb
static const char *pa, *pb;
static int n, i, j, k, cj, got, want;  // k, cj: i and j clamped as the class clamps them
static char c1, c2;
static std::vector<size_t> req;
static void Build(const std::string& t, size_t size = 0) { buf = t, buf.resize(size ? size : t.size() + 1), req.push_back(buf.size()); }
static void Zeroed(std::string t) { if (!buf.empty()) t.resize((size_t)n + 1), buf.replace(0, t.size(), t); }  // Remove, Delete

// Rows run the class first, so a throw leaves the model as it was. own: pa may point into the text.
struct Op { const char* name; bool own; void (*run)(); };
static const Op kOps[] = {
    {"Insert(i, ch)", 0, [] { got = s->Insert(i, c1), Build(m.substr(0, k) + c1 + m.substr(k)); }},
    {"Insert(i, str)", 1, [] { got = s->Insert(i, pa), Build(m.insert(k, a)); }},
    {"Delete", 0, [] { got = s->Delete(i, j), Zeroed(m.erase(k, cj)); }},
    {"Replace(ch, ch)", 0, [] {  // a NUL chNew: the walk still goes on
        for (int x = (got = s->Replace(c1, c2), 0); x < n; ++x) if (c1 && buf[x] == c1) buf[x] = c2, ++want; }},
    {"Remove", 0, [] { got = s->Remove(c1), want = c1 ? (int)std::count(m.begin(), m.end(), c1) : 0;
        Zeroed(m.erase(std::remove(m.begin(), m.end(), c1) - m.begin())); }},
    {"Replace(str, str)", 1, [] {
        for (size_t p = (got = s->Replace(pa, pb), 0); !a.empty() && (p = m.find(a, p)) != std::string::npos; ++want)
            m.replace(p, a.size(), b), p += b.size();
        if (!a.empty()) Build(m); }},
    {"TrimLeft", 1, [] { i % 2 ? s->TrimLeft(pa) : c1 == ' ' ? s->TrimLeft() : s->TrimLeft(c1);
        Build(m.erase(0, m.find_first_not_of(i % 2 ? a : std::string(1, c1))), (size_t)n + 1); }},
    {"TrimRight", 0, [] { i % 2 ? s->TrimRight(pa) : c1 == ' ' ? s->TrimRight() : s->TrimRight(c1);
        const size_t from = m.find_last_not_of(i % 2 ? a : std::string(1, c1)) + 1;
        std::fill(&buf[0] + from, &buf[0] + (i % 2 ? std::min(from + 1, m.size()) : m.size()), '\0'); }},  // set: one NUL
    {"MakeLower/MakeUpper", 0, [] { i % 2 ? s->MakeLower() : s->MakeUpper(), Build(i % 2 ? Cased(m, 'A', 32) : Cased(m, 'a', -32)); }},
    {"MakeReverse", 0, [] { s->MakeReverse(), Build(std::string(m.rbegin(), m.rend())); }},
    {"+= str", 1, [] { *s += pa, Build(m + a); }},
    {"+= CBCString", 0, [] { i % 3 ? *s += *s : *s += CBCString(), Build(i % 3 ? m + m : m); }},
    {"+= ch", 0, [] { *s += c1, Build(m + c1); }},  // NUL: the length stays
    {"SetAt", 0, [] { (j % 2 ? *(CBCString*)s : *view).SetAt(i, c1); if (i >= 0 && i < n) buf[i] = c1; }},
    {"= ch", 0, [] { *s = c1; n ? (void)(buf[0] = c1, buf[1] = 0) : Build(std::string(1, c1)); }},
    {"= str", 1, [] { *s = pa, Build(a); }},
    {"= CBCString", 0, [] { i % 3 ? *s = *s : *s = CBCString(), Build(i % 3 ? m : ""); }},
    {"Empty", 0, [] { s->Empty(), std::fill_n(buf.begin(), n, '\0'); }},
    {"substrings", 1, [] {  // by value; the counted constructor copies NULs too
        const int len = Clamp(i, 0, (long long)buf.size());
        const char* src = pb ? buf.data() : nullptr;
        std::vector<std::string> have, want = {m.substr(k, cj), m.substr(k), m.substr(0, k), m.substr(n - Clamp(j, 0, n)), m,
                                               src && i >= 0 ? buf.substr(0, len) : ""};
        for (const CBCString& r : {s->Mid(i, j), s->Mid(i), s->Left(i), s->Right(j), CBCString(*s), CBCString(src, i < 0 ? i : len)})
            have.push_back(static_cast<const Probe&>(r).Bytes()), req.push_back((want[have.size() - 1] += '\0').size());
        EXPECT_EQ(have, want); }},
    {"reads", 1, [] {  // half of them through the View
        const CBCString& r = Pick(2) ? *(CBCString*)s : *view;
        const std::string mz = m + '\0';  // finds a NUL at the end
        auto at = [](int x) { return x >= 0 && x < n ? m[(size_t)x] : '\0'; };
        auto from = [&](int x, auto what) { return x < 0 || x >= n ? -1 : (int)mz.find(what, (size_t)x); };
        EXPECT_EQ((std::vector<int>{r.GetLength(), r.IsEmpty(), r.GetAt(i), r[j], r.Find(c1, i), r.Find(c1), r.ReverseFind(c1),
                                    r.Find(pa, i), r.Find(pa), r.FindOneOf(pa), Sign(r.Compare(pa)), Sign(r.CompareNoCase(pa))}),
                  (std::vector<int>{n, n == 0, at(i), at(j), from(i, c1), from(0, c1), c1 ? (int)m.rfind(c1) : -1,
                                    from(i, a) < 0 ? -1 : from(i, a) - i, from(0, a), (int)m.find_first_of(a),
                                    Sign(a.compare(m)), Sign(Cased(a, 'A', 32).compare(Cased(m, 'A', 32)))})); }},
};

// Random texts and arguments: bad indices, NULs, null pointers, the own text, no buffer, failed allocations.
TEST(BCStringRandom, EveryByteMatchesTheModel)
{
    for (int seq = 0; seq < 6000 && !HasFailure(); ++seq) {
        Probe str;
        s = &str, buf.clear();  // a sixth of the sequences start without a buffer
        if (Pick(6)) str = (buf = Text(20) + '\0').c_str();
        for (int step = 0; step < 25; ++step) {
            const Op& op = kOps[Pick(std::size(kOps))];
            m = buf.c_str(), n = (int)m.size(), i = Pick(6) ? Pick(n + 2) : Pick(40) - 20, j = Pick(6) ? Pick(n + 2) : Pick(40) - 20;
            k = Clamp(i, 0, n), cj = Clamp(j, 0, n - k), c1 = Ch(true), c2 = Ch(true), got = want = 0, req.clear();
            const int own = op.own && !buf.empty() && Pick(5) == 0 ? Pick(n + 1) : -1;
            std::string text = Text(3);  // pa: this text, a null pointer or the own text
            pa = own >= 0 ? str.GetBuffer(Pick(100)) + own : Pick(8) ? text.c_str() : nullptr;
            a = own >= 0 ? m.substr((size_t)own) : pa ? text : "", b = Text(3), pb = Pick(8) ? b.c_str() : (b = "", nullptr);
            View before(Text(30), str.GetBuffer(0));  // for SetAt and the reads
            view = &before;
            SCOPED_TRACE(testing::Message() << op.name << ", seq " << seq << " i " << i << " j " << j << " own " << own);
            bool fail = (g_failNext = Pick(10) == 0), threw = false;
            g_record = true, g_sizes.clear();
            try { op.run(); } catch (const std::bad_alloc&) { threw = true, req.clear(); }
            EXPECT_EQ(threw, fail && !g_failNext);  // when it allocated at all
            g_failNext = g_record = false;
            ASSERT_EQ(str.Bytes(), buf);
            EXPECT_EQ(std::tie(got, g_sizes), std::tie(want, req));
        }
    }
}

// Format gives snprintf's bytes (a %c of 0 too) in a zero-filled buffer of wantCap bytes, 0: output + 1.
template <class... A> static void Fmt(size_t wantCap, const char* fmt, A... args)
{
    std::string want = Printed(fmt, args...);
    Probe str("previous");  // replaced
    str.Format(fmt, args...);
    want.resize(wantCap ? wantCap : want.size());
    EXPECT_EQ(str.Bytes(), want) << "format \"" << fmt << "\": " << str.Bytes().size() << " bytes";
}

TEST(BCStringFormat, BufferSizes)
{
    int written = -1;  // for %n. Sized by the estimating walk where the output fits ("abc": 3 + 2 + 1):
    Fmt(7, "abc"), Fmt(2, "%%"), Fmt(1, ""), Fmt(33, "%d", 5), Fmt(41, "%*d", 40, 42), Fmt(35, "%#x", 255);
    Fmt(4, "%s", "abc"), Fmt(2, "%s", ""), Fmt(7, "%s", (const char*)nullptr), Fmt(6, "%5s", "ab"), Fmt(6, "%cab", 0);
    Fmt(3, "%.2s", "abcdef"), Fmt(2, "%.1c", 'x'), Fmt(11, "%5.2f", 3.14159), Fmt(129, "%e", 1.0), Fmt(1, "%n", &written);
    Fmt(211, "%10.200e", 1.0), Fmt(33, "%-*d", -5, 42), Fmt(9, "%.*f", -3, 2.5), Fmt(47, "%*.*dxyz", 40, -4, 7);
    Fmt(17, "%*sxyz", -10, "ab"), Fmt(36, "%5.30d", 7), Fmt(33, "%p", (void*)&written), Fmt(36, "%.35x", 1u);
    Probe c, t("ab%dc");  // printf fails part way: its bytes so far, in the estimate (6 + 5 + 2 + 2 + 1) + 1
    std::string part(17, '\0');
    c.Format("ab%Ccd", (wint_t)0x1234), snprintf(&part[0], 17, "ab%Ccd", (wint_t)0x1234);
    EXPECT_EQ(c.Bytes(), part);
    // The estimate falls short, or the walk has no rule: exactly the output + 1.
    Fmt(0, "%.40p", (void*)0x1234), Fmt(0, "%+f", INFINITY), Fmt(0, "%+f", -NAN), Fmt(0, "% f", NAN), Fmt(0, "%.200e", 1.0);
    Fmt(0, "%.125G", 1e300 / 3), Fmt(0, "%.40d", -1), Fmt(0, "%+.40d", 1), Fmt(0, "%lld", -1234567890123LL), Fmt(0, "%a", 1.0);
    Fmt(0, "%s%ld%s", "a", 5L, "b"), Fmt(0, "%Lf", 1.5L), Fmt(0, "%E", 1e5), Fmt(0, "%5%"), Fmt(0, "abc%-08."), Fmt(0, "%");
    t.Format(t, 7), c.Format(nullptr);  // the format from the own text, then the exact retry reads it; null
    t.Format("%s%.200e", (LPCBTSTR)t, 1.0);
    EXPECT_EQ(std::string(t).substr(0, 9) + "/" + (LPCBTSTR)c, "ab7c1.000/");
    // %f: snprintf's count at both sides of a carry into digit d + 1 (p + 6 places), two rounding modes.
    const double odd[] = {-0.0, 5e-324, 1e300, NAN, -INFINITY};
    for (int mode : {FE_TONEAREST, FE_UPWARD})
        for (int d = 0, p = 0; d <= 23 && !HasFailure(); p = (p + 1) % 19, d += !p) {
            const double edge = std::pow(10.0, d) - 0.5 * std::pow(10.0, -p - 6);
            for (double v : {edge, std::nextafter(edge, 0.0), std::nextafter(edge, 1e308), std::pow(10.0, d), -edge, odd[d % 5]})
                fesetround(mode), Fmt(snprintf(nullptr, 0, "%*.*f", d + p, p + 6, v) + 1, "%*.*f", d + p, p, v), fesetround(FE_TONEAREST);
        }
}
