/*
 * BCString.cpp - CBCString. The storage rules are stated in BCString.h.
 *
 * Every member is defined here, out of line, so that each one is an exported
 * symbol of the library. Buffers are made only by Rebuild() below, which is
 * not a member and so adds nothing to the exported set.
 */
#include "BCString.h"

#include "xcomplier_def.h"  // _tcsinc

#include <cctype>
#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <langinfo.h>
#include <new>

namespace {

// The largest buffer a string may have: its length must fit an int.
const size_t kMaxBuffer = INT_MAX;

// The text a null pointer or a string without a buffer stands for.
const char kNoText[1] = {0};

inline LPCBTSTR OrEmpty(LPCBTSTR p)
{
    return p ? p : kNoText;
}

// Builds a new buffer of exactly nSize bytes, zero-filled, lets fill(dst)
// write the text into it, then releases the old buffer and installs the new
// one. The old buffer stays readable while fill runs, so a source inside the
// own text is safe. When fill returns false the new buffer is dropped and the
// string keeps its old one. Throws std::bad_alloc (old value kept) when the
// allocation fails or nSize is beyond kMaxBuffer.
template <class Fill>
bool Rebuild(LPBTSTR& pchData, unsigned int& dwBuffLen, size_t nSize, Fill fill)
{
    if (nSize == 0 || nSize > kMaxBuffer)
        throw std::bad_alloc();
    char* pNew = new char[nSize];
    memset(pNew, 0, nSize);
    if (!fill(pNew)) {
        delete[] pNew;
        return false;
    }
    delete[] pchData;
    pchData = pNew;
    dwBuffLen = (unsigned int)nSize;
    return true;
}

// Rebuild with the nLen bytes at p as the text, in a buffer of nSize bytes
// (nSize > nLen; callers pass lengths they measured).
inline void Assign(LPBTSTR& pchData, unsigned int& dwBuffLen, size_t nSize,
                   LPCBTSTR p, size_t nLen)
{
    Rebuild(pchData, dwBuffLen, nSize, [&](char* dst) {
        memcpy(dst, p, nLen);
        return true;
    });
}

// Clamps v into [lo, hi] (lo <= hi).
inline int Clamp(long long v, int lo, int hi)
{
    return v < lo ? lo : (v > hi ? hi : (int)v);
}

// NUL over every byte of the text from pCut on.
inline void ClearTail(char* pCut)
{
    memset(pCut, 0, strlen(pCut));
}

// True when nIndex indexes a character of the text at p (not its
// terminator), looking at no more than nIndex + 1 bytes of it.
inline bool InText(LPCBTSTR p, int nIndex)
{
    return p && nIndex >= 0 && strnlen(p, (size_t)nIndex + 1) > (size_t)nIndex;
}

} // namespace

// ---- construction and destruction ---------------------------------------------

CBCString::CBCString() : m_pchData(nullptr), m_dwBuffLen(0) {}

CBCString::CBCString(const CBCString& stringSrc) : m_pchData(nullptr), m_dwBuffLen(0)
{
    LPCBTSTR p = OrEmpty(stringSrc.m_pchData);
    size_t n = strlen(p);
    Assign(m_pchData, m_dwBuffLen, n + 1, p, n);
}

CBCString::CBCString(LPCBTSTR lpsz) : m_pchData(nullptr), m_dwBuffLen(0)
{
    LPCBTSTR p = OrEmpty(lpsz);
    size_t n = strlen(p);
    Assign(m_pchData, m_dwBuffLen, n + 1, p, n);
}

CBCString::CBCString(LPCBTSTR lpch, int nLength) : m_pchData(nullptr), m_dwBuffLen(0)
{
    if (!lpch || nLength < 0) {
        lpch = kNoText;
        nLength = 0;
    }
    // All nLength bytes are copied: a NUL among them ends the text, and what
    // follows it stays in the buffer for a host that restores that byte.
    Assign(m_pchData, m_dwBuffLen, (size_t)nLength + 1, lpch, (size_t)nLength);
}

CBCString::~CBCString()
{
    delete[] m_pchData;
}

// ---- length and access -----------------------------------------------------------

int CBCString::GetLength() const
{
    return m_pchData ? (int)strlen(m_pchData) : 0;
}

bool CBCString::IsEmpty() const
{
    return !m_pchData || m_pchData[0] == 0;
}

void CBCString::Empty()
{
    if (m_pchData)
        ClearTail(m_pchData);
}

char CBCString::GetAt(int nIndex) const
{
    // Index nIndex == length is the terminator: a scan of nIndex bytes
    // proves the text reaches that far, one more would read past it.
    if (!m_pchData || nIndex < 0 || strnlen(m_pchData, (size_t)nIndex) < (size_t)nIndex)
        return 0;
    return m_pchData[nIndex];
}

char CBCString::operator[](int nIndex) const
{
    return GetAt(nIndex);
}

void CBCString::SetAt(int nIndex, char ch)
{
    // Only a byte of the text is replaced: its terminator stays where it is.
    if (InText(m_pchData, nIndex))
        m_pchData[nIndex] = ch;
}

CBCString::operator LPCBTSTR() const
{
    return m_pchData;
}

LPBTSTR CBCString::GetBuffer(int /*nMinBufLength*/)
{
    return m_pchData;
}

// ---- assignment ---------------------------------------------------------------------

// NOLINTNEXTLINE(cert-oop54-cpp): the new buffer is made from the source first
const CBCString& CBCString::operator=(const CBCString& stringSrc)
{
    // Building before releasing makes self-assignment harmless.
    return *this = stringSrc.m_pchData;
}

const CBCString& CBCString::operator=(LPCBTSTR lpsz)
{
    LPCBTSTR p = OrEmpty(lpsz);
    size_t n = strlen(p);
    Assign(m_pchData, m_dwBuffLen, n + 1, p, n);
    return *this;
}

const CBCString& CBCString::operator=(char ch)
{
    if (!m_pchData || m_pchData[0] == 0) {
        Rebuild(m_pchData, m_dwBuffLen, 2, [ch](char* dst) {
            dst[0] = ch;
            return true;
        });
    } else {
        // A non-empty text means at least two bytes of buffer.
        m_pchData[0] = ch;
        m_pchData[1] = 0;
    }
    return *this;
}

// ---- appending --------------------------------------------------------------------------

const CBCString& CBCString::operator+=(const CBCString& string)
{
    return *this += string.m_pchData;
}

const CBCString& CBCString::operator+=(char ch)
{
    LPCBTSTR pOwn = OrEmpty(m_pchData);
    size_t nLen = strlen(pOwn);
    Rebuild(m_pchData, m_dwBuffLen, nLen + 2, [&](char* dst) {
        memcpy(dst, pOwn, nLen); // NOLINT(bugprone-not-null-terminated-result): zero-filled
        dst[nLen] = ch;
        return true;
    });
    return *this;
}

const CBCString& CBCString::operator+=(LPCBTSTR lpsz)
{
    LPCBTSTR pOwn = OrEmpty(m_pchData);
    LPCBTSTR pAdd = OrEmpty(lpsz);
    size_t nLen = strlen(pOwn), nAdd = strlen(pAdd);
    // Both are read before the old buffer goes, so pAdd may lie inside it.
    Rebuild(m_pchData, m_dwBuffLen, nLen + nAdd + 1, [&](char* dst) {
        // Rebuild hands over a zero-filled buffer: the terminator is there.
        memcpy(dst, pOwn, nLen);        // NOLINT(bugprone-not-null-terminated-result)
        memcpy(dst + nLen, pAdd, nAdd); // NOLINT(bugprone-not-null-terminated-result)
        return true;
    });
    return *this;
}

// ---- comparison -------------------------------------------------------------------------

int CBCString::Compare(LPCBTSTR lpsz) const
{
    return strcmp(OrEmpty(lpsz), OrEmpty(m_pchData));
}

int CBCString::CompareNoCase(LPCBTSTR lpsz) const
{
    // strcmp of the two lower-cased texts, without building them.
    const unsigned char* a = (const unsigned char*)OrEmpty(lpsz);
    const unsigned char* b = (const unsigned char*)OrEmpty(m_pchData);
    for (;; ++a, ++b) {
        int ca = (unsigned char)tolower(*a), cb = (unsigned char)tolower(*b);
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

// ---- substrings --------------------------------------------------------------------------

CBCString CBCString::Mid(int nFirst, int nCount) const
{
    LPCBTSTR p = OrEmpty(m_pchData);
    int nLen = (int)strlen(p);
    int nFrom = Clamp(nFirst, 0, nLen);
    return CBCString(p + nFrom, Clamp(nCount, 0, nLen - nFrom));
}

CBCString CBCString::Mid(int nFirst) const
{
    LPCBTSTR p = OrEmpty(m_pchData);
    int nLen = (int)strlen(p);
    int nFrom = Clamp(nFirst, 0, nLen);
    return CBCString(p + nFrom, nLen - nFrom);
}

CBCString CBCString::Left(int nCount) const
{
    LPCBTSTR p = OrEmpty(m_pchData);
    return CBCString(p, Clamp(nCount, 0, (int)strlen(p)));
}

CBCString CBCString::Right(int nCount) const
{
    LPCBTSTR p = OrEmpty(m_pchData);
    int nLen = (int)strlen(p);
    int n = Clamp(nCount, 0, nLen);
    return CBCString(p + nLen - n, n);
}

// ---- case and order ----------------------------------------------------------------------
// The bytes go to toupper/tolower as unsigned char values, the only defined
// argument range; in the C locale that changes exactly the ASCII letters.

namespace {

// Rebuilds the text with every byte passed through convert.
void Convert(LPBTSTR& pchData, unsigned int& dwBuffLen, int (*convert)(int))
{
    LPCBTSTR p = OrEmpty(pchData);
    size_t n = strlen(p);
    Rebuild(pchData, dwBuffLen, n + 1, [&](char* dst) {
        for (size_t i = 0; i < n; ++i)
            dst[i] = (char)convert((unsigned char)p[i]);
        return true;
    });
}

} // namespace

void CBCString::MakeUpper()
{
    Convert(m_pchData, m_dwBuffLen, ::toupper);
}

void CBCString::MakeLower()
{
    Convert(m_pchData, m_dwBuffLen, ::tolower);
}

void CBCString::MakeReverse()
{
    LPCBTSTR p = OrEmpty(m_pchData);
    size_t n = strlen(p);
    Rebuild(m_pchData, m_dwBuffLen, n + 1, [&](char* dst) {
        for (size_t i = 0; i < n; ++i)
            dst[i] = p[n - 1 - i];
        return true;
    });
}

// ---- trimming ------------------------------------------------------------------------------

namespace {

// Cuts the trailing run of bytes c with inSet(c), in place.
template <class InSet>
void TrimTrailing(LPBTSTR pchData, InSet inSet)
{
    if (!pchData)
        return;
    size_t n = strlen(pchData);
    while (n > 0 && inSet(pchData[n - 1]))
        pchData[--n] = 0;
}

// Drops the leading run of bytes c with inSet(c) into a rebuilt buffer of
// the old length + 1 bytes (rebuilt even when nothing is dropped).
template <class InSet>
void TrimLeading(LPBTSTR& pchData, unsigned int& dwBuffLen, InSet inSet)
{
    LPCBTSTR p = OrEmpty(pchData);
    size_t n = strlen(p), k = 0;
    while (k < n && inSet(p[k]))
        ++k;
    Assign(pchData, dwBuffLen, n + 1, p + k, n - k);
}

} // namespace

void CBCString::TrimRight()
{
    TrimTrailing(m_pchData, [](char c) { return c == ' '; });
}

void CBCString::TrimRight(char chTarget)
{
    TrimTrailing(m_pchData, [chTarget](char c) { return c == chTarget; });
}

void CBCString::TrimRight(LPCBTSTR lpszTargets)
{
    if (!m_pchData || !lpszTargets || !*lpszTargets)
        return;
    // One forward walk remembering where the current run of set bytes began.
    char* pRun = nullptr;
    for (char* q = m_pchData; *q; q = _tcsinc(q)) {
        if (strchr(lpszTargets, *q)) {
            if (!pRun)
                pRun = q;
        } else {
            pRun = nullptr;
        }
    }
    if (pRun)
        *pRun = 0;  // one NUL cuts the whole run
}

void CBCString::TrimLeft()
{
    TrimLeading(m_pchData, m_dwBuffLen, [](char c) { return c == ' '; });
}

void CBCString::TrimLeft(char chTarget)
{
    TrimLeading(m_pchData, m_dwBuffLen, [chTarget](char c) { return c == chTarget; });
}

void CBCString::TrimLeft(LPCBTSTR lpszTargets)
{
    LPCBTSTR pSet = OrEmpty(lpszTargets);
    // Text bytes are never NUL, so strchr cannot match the set's terminator.
    TrimLeading(m_pchData, m_dwBuffLen, [pSet](char c) { return strchr(pSet, c) != nullptr; });
}

// ---- editing -------------------------------------------------------------------------------

int CBCString::Replace(char chOld, char chNew)
{
    if (!m_pchData || chOld == 0)
        return 0;
    char* p = m_pchData;
    size_t n = strlen(p);
    int nCount = 0;
    // The walk runs to the end the text had on entry: a NUL chNew cuts the
    // text at the first hit, yet every hit is replaced and counted.
    for (size_t i = 0; i < n; ++i) {
        if (p[i] == chOld) {
            p[i] = chNew;
            ++nCount;
        }
    }
    return nCount;
}

int CBCString::Replace(LPCBTSTR lpszOld, LPCBTSTR lpszNew)
{
    LPCBTSTR pOld = OrEmpty(lpszOld);
    size_t nOld = strlen(pOld);
    if (nOld == 0)
        return 0;
    LPCBTSTR pNew = OrEmpty(lpszNew);
    size_t nNew = strlen(pNew);
    LPCBTSTR p = OrEmpty(m_pchData);
    size_t n = strlen(p);

    // First pass counts the matches, so the new buffer is built once at its
    // exact size: linear in the text, where appending piece by piece is not.
    size_t nCount = 0;
    for (LPCBTSTR q = p; (q = strstr(q, pOld)) != nullptr; q += nOld)
        ++nCount;
    Rebuild(m_pchData, m_dwBuffLen, n - nCount * nOld + nCount * nNew + 1, [&](char* dst) {
        LPCBTSTR q = p;
        for (LPCBTSTR t; (t = strstr(q, pOld)) != nullptr; q = t + nOld) {
            memcpy(dst, q, (size_t)(t - q));
            dst += t - q;
            memcpy(dst, pNew, nNew); // NOLINT(bugprone-not-null-terminated-result): zero-filled
            dst += nNew;
        }
        memcpy(dst, q, (size_t)(p + n - q));
        return true;
    });
    return (int)nCount;
}

int CBCString::Remove(char chRemove)
{
    // The terminator is not counted: removing NUL removes nothing.
    if (!m_pchData || chRemove == 0)
        return 0;
    char* w = m_pchData;
    char* r = m_pchData;
    int nCount = 0;
    for (; *r; ++r) {
        if (*r == chRemove)
            ++nCount;
        else
            *w++ = *r;
    }
    memset(w, 0, (size_t)(r - w));
    return nCount;
}

int CBCString::Insert(int nIndex, char ch)
{
    LPCBTSTR p = OrEmpty(m_pchData);
    size_t n = strlen(p);
    size_t k = (size_t)Clamp(nIndex, 0, (int)n);
    Rebuild(m_pchData, m_dwBuffLen, n + 2, [&](char* dst) {
        memcpy(dst, p, k);
        dst[k] = ch;  // a NUL ends the text here; the rest still follows it
        memcpy(dst + k + 1, p + k, n - k);
        return true;
    });
    return 0;
}

int CBCString::Insert(int nIndex, LPCBTSTR pstr)
{
    LPCBTSTR p = OrEmpty(m_pchData);
    LPCBTSTR pIns = OrEmpty(pstr);
    size_t n = strlen(p), nSub = strlen(pIns);
    size_t k = (size_t)Clamp(nIndex, 0, (int)n);
    Rebuild(m_pchData, m_dwBuffLen, n + nSub + 1, [&](char* dst) {
        memcpy(dst, p, k);
        memcpy(dst + k, pIns, nSub); // NOLINT(bugprone-not-null-terminated-result): zero-filled
        memcpy(dst + k + nSub, p + k, n - k);
        return true;
    });
    return 0;
}

int CBCString::Delete(int nIndex, int nCount)
{
    if (!m_pchData)
        return 0;
    char* p = m_pchData;
    int nLen = (int)strlen(p);
    int k = Clamp(nIndex, 0, nLen);
    int c = Clamp(nCount, 0, nLen - k);
    if (c > 0) {
        memmove(p + k, p + k + c, (size_t)(nLen - k - c));
        memset(p + nLen - c, 0, (size_t)c);
    }
    return 0;
}

// ---- search --------------------------------------------------------------------------------

int CBCString::Find(char ch) const
{
    return Find(ch, 0);
}

int CBCString::Find(char ch, int nStart) const
{
    if (!InText(m_pchData, nStart))
        return -1;
    LPCBTSTR r = strchr(m_pchData + nStart, (unsigned char)ch);
    return r ? (int)(r - m_pchData) : -1;
}

int CBCString::ReverseFind(char ch) const
{
    if (!m_pchData || ch == 0)
        return -1;
    LPCBTSTR r = strrchr(m_pchData, (unsigned char)ch);
    return r ? (int)(r - m_pchData) : -1;
}

int CBCString::Find(LPCBTSTR lpszSub) const
{
    return Find(lpszSub, 0);
}

int CBCString::Find(LPCBTSTR lpszSub, int nStart) const
{
    if (!InText(m_pchData, nStart))
        return -1;
    LPCBTSTR pFrom = m_pchData + nStart;
    LPCBTSTR r = strstr(pFrom, OrEmpty(lpszSub));
    return r ? (int)(r - pFrom) : -1;  // an offset from nStart, not an index
}

int CBCString::FindOneOf(LPCBTSTR lpszCharSet) const
{
    if (!m_pchData)
        return -1;
    size_t k = strcspn(m_pchData, OrEmpty(lpszCharSet));
    return m_pchData[k] ? (int)k : -1;
}

// ---- formatting ----------------------------------------------------------------------------

namespace {

// Ends a va_list on every way out of a scope, exceptions included.
struct VaEnd {
    va_list& args;
    ~VaEnd() { va_end(args); }
};

// Reads the decimal digits at rp and moves past them; saturates at INT_MAX
// (atoi would overflow, and printf refuses such a field anyway).
long long ReadNumber(LPCBTSTR& rp)
{
    long long v = 0;
    for (; *rp >= '0' && *rp <= '9'; rp = _tcsinc(rp)) {
        v = v * 10 + (*rp - '0');  // v <= INT_MAX before: no overflow
        if (v > INT_MAX)
            v = INT_MAX;
    }
    return v;
}

// The length snprintf gives for "%*.*f" with nWidth, nPrecision and v,
// worked out without formatting: sign, integer digits, radix, nPrecision
// digits, padded to nWidth. The one hard part is a rounding that carries
// into a new leading digit (9.9999999996 to 8 places is 10.00000000); it is
// decided exactly where that is cheap, and -1 asks the caller to measure
// instead: a precision past 22 or a value from 1e22 on (powers of ten stop
// being exact doubles), a value too close to the carry to tell, a rounding
// mode other than to-nearest.
long long FixedLength(double v, long long nWidth, long long nPrecision)
{
    static const double kPow10[23] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8,
        1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    long long nLen = std::signbit(v) ? 1 : 0;  // "-0.00" and "-nan" too
    double a = std::fabs(v);
    if (std::isnan(a) || std::isinf(a)) {
        nLen += 3;  // "nan", "inf": the precision does not apply
    } else {
        if (nPrecision > 22 || !(a < 1e22) || fegetround() != FE_TONEAREST)
            return -1;
        int nDigits = 1;
        while (nDigits < 22 && a >= kPow10[nDigits])
            ++nDigits;
        // Rounding to nPrecision places carries to 10^nDigits when the gap
        // below it is at most half a unit of the last place. The gap is exact
        // for a >= 10^nDigits / 2 (one subtraction of doubles within a factor
        // of two); the half unit is within an ulp, hence the margin.
        const double p10 = kPow10[nDigits], half = 0.5 / kPow10[nPrecision];
        if (a >= p10 / 2) {
            const double gap = p10 - a;
            if (gap <= half * (1 - 0x1p-50))
                ++nDigits;
            else if (gap < half * (1 + 0x1p-50))
                return -1;
        }
        nLen += nDigits;
        if (nPrecision > 0)
            nLen += (long long)strlen(nl_langinfo(RADIXCHAR)) + nPrecision;
    }
    return nLen > nWidth ? nLen : nWidth;
}

// The estimating walk: an upper guess of the output length, conversion by
// conversion, reading the arguments it depends on from argList. Returns -1
// at the first thing it has no rule for (a conversion outside its table, a
// length modifier, a format ending inside a conversion): the arguments after
// it cannot be located, and the caller then measures the output instead.
long long EstimateLength(LPCBTSTR lpszFormat, va_list argList)
{
    long long nMaxLen = 0;
    // Literal text: each character adds the length of the whole rest of the
    // format (what _tclen there would say), found from the total length
    // instead of a scan per character.
    const long long nTotal = (long long)strlen(lpszFormat);
    auto rest = [&](LPCBTSTR p) { return nTotal - (p - lpszFormat); };
    for (LPCBTSTR lpsz = lpszFormat; *lpsz; lpsz = _tcsinc(lpsz)) {
        if (*lpsz != '%') {
            nMaxLen += rest(lpsz);
            continue;
        }
        lpsz = _tcsinc(lpsz);
        if (*lpsz == '%') {
            nMaxLen += rest(lpsz);
            continue;
        }
        long long nItemLen = 0, nWidth = 0, nPrecision = 0;
        for (;; lpsz = _tcsinc(lpsz)) {
            char c = *lpsz;
            if (c == '#') {
                nMaxLen += 2;
            } else if (c == '*') {
                // printf reads a negative '*' width as '-' and its magnitude.
                long long w = va_arg(argList, int);
                nWidth = w < 0 ? -w : w;
            } else if (c != '-' && c != '+' && c != '0' && c != ' ') {
                break;
            }
        }
        if (nWidth == 0)
            nWidth = ReadNumber(lpsz);
        if (*lpsz == '.') {
            lpsz = _tcsinc(lpsz);
            if (*lpsz == '*') {
                long long p = va_arg(argList, int);
                nPrecision = p < 0 ? 0 : p;  // printf: as if none was given
                lpsz = _tcsinc(lpsz);
            } else {
                nPrecision = ReadNumber(lpsz);
            }
        }
        bool bBounded = false;  // c and s: cut to the precision, raised to the width
        switch (*lpsz) {
        case 'c':
        case 'C':
            (void)va_arg(argList, int);
            nItemLen = 2;
            bBounded = true;
            break;
        case 's': {
            LPCBTSTR s = va_arg(argList, LPCBTSTR);
            if (!s) {
                nItemLen = 6;
            } else {
                // With a precision printf reads no further, and neither do we;
                // the bound below gives the same figure as a full strlen.
                size_t n = nPrecision > 0 ? strnlen(s, (size_t)nPrecision) : strlen(s);
                nItemLen = n < 1 ? 1 : (long long)n;
            }
            bBounded = true;
            break;
        }
        // NOLINTNEXTLINE(bugprone-branch-clone): 'p' below takes a pointer, not an int
        case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
            (void)va_arg(argList, int);
            nItemLen = nWidth + nPrecision > 32 ? nWidth + nPrecision : 32;
            break;
        case 'p':
            (void)va_arg(argList, void*);
            nItemLen = nWidth + nPrecision > 32 ? nWidth + nPrecision : 32;
            break;
        case 'e': case 'g': case 'G':
            (void)va_arg(argList, double);
            nItemLen = nWidth + nPrecision > 128 ? nWidth + nPrecision : 128;
            break;
        case 'f': {
            double v = va_arg(argList, double);
            if (nWidth > INT_MAX || nPrecision > INT_MAX - 6)
                return -1;
            // The value with the width and six digits beyond the precision:
            // counted where that is exact, else formatted to be measured.
            nItemLen = FixedLength(v, nWidth, nPrecision + 6);
            if (nItemLen < 0) {
                int n = snprintf(nullptr, 0, "%*.*f", (int)nWidth, (int)nPrecision + 6, v);
                if (n < 0)
                    return -1;
                nItemLen = n;
            }
            break;
        }
        case 'n':
            (void)va_arg(argList, int*);
            nItemLen = 0;
            break;
        default:
            return -1;
        }
        if (bBounded) {
            if (nPrecision != 0 && nPrecision < nItemLen)
                nItemLen = nPrecision;
            if (nWidth > nItemLen)
                nItemLen = nWidth;
        }
        nMaxLen += nItemLen;
    }
    return nMaxLen;
}

// vsnprintf into the zero-filled dst of nSize bytes. Every byte it writes
// stays, those after a %c of 0 included. When the C library fails part way,
// dst keeps what it wrote before the failure, and its last byte stays NUL.
int FormatInto(char* dst, size_t nSize, LPCBTSTR lpszFormat, va_list args)
{
    int nOut = vsnprintf(dst, nSize, lpszFormat, args);
    dst[nSize - 1] = 0;
    return nOut;
}

} // namespace

void CBCString::Format(LPCBTSTR lpszFormat, ...)
{
    va_list argList;
    va_start(argList, lpszFormat);
    VaEnd end{argList};
    FormatV(lpszFormat, argList);
    // cppcheck-suppress va_end_missing ; VaEnd ends it, also when FormatV throws
}

void CBCString::FormatV(LPCBTSTR lpszFormat, va_list argList)
{
    LPCBTSTR pFormat = OrEmpty(lpszFormat);
    // Two copies taken before the walk consumes argList: one for formatting
    // into the estimated buffer, one for the exact-size retry.
    va_list argFirst, argSecond;
    va_copy(argFirst, argList);
    VaEnd endFirst{argFirst};
    va_copy(argSecond, argList);
    VaEnd endSecond{argSecond};

    long long nMaxLen = EstimateLength(pFormat, argList);
    int nOut = -1;
    // Every buffer is built before the old one goes, so the format and the
    // arguments may point into the own text.
    if (nMaxLen >= 0 && (unsigned long long)nMaxLen < kMaxBuffer) {
        size_t nSize = (size_t)nMaxLen + 1;
        if (Rebuild(m_pchData, m_dwBuffLen, nSize, [&](char* dst) {
                nOut = FormatInto(dst, nSize, pFormat, argFirst);
                // A failure keeps the estimated buffer and the text written
                // before it, as plain vsprintf into that buffer would.
                return nOut < 0 || (size_t)nOut < nSize;
            }))
            // cppcheck-suppress va_end_missing ; both copies end in their VaEnd
            return;
    } else {
        nOut = vsnprintf(nullptr, 0, pFormat, argFirst);
    }
    if (nOut < 0) {
        // No estimate, and the C library refused the output (a wide
        // character with no multibyte form, a result beyond INT_MAX): the
        // text becomes empty.
        Assign(m_pchData, m_dwBuffLen, 1, kNoText, 0);
        return;
    }
    // The estimate fell short, or there was none: exactly the output's size.
    size_t nSize = (size_t)nOut + 1;
    Rebuild(m_pchData, m_dwBuffLen, nSize, [&](char* dst) {
        FormatInto(dst, nSize, pFormat, argSecond);
        return true;
    });
}
