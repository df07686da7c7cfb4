/*
 * BCString.cpp - CBCString. The storage rules are stated in BCString.h.
 *
 * Every member is defined here, out of line, so that each one is an exported
 * symbol of the library. Buffers are made only by Rebuild() below, which is
 * not a member and so adds nothing to the exported set.
 */
#include "stdafx.h"

#include "BCString.h"

#include <climits>
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

// Clears the bytes after a cut at pCut up to the old end of the text, so
// that everything after the terminator stays NUL.
inline void ClearTail(char* pCut)
{
    for (char* q = pCut; *q; ++q)
        *q = 0;
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
    // Only up to the first NUL is read: the rest would not be text anyway.
    size_t n = strnlen(lpch, (size_t)nLength);
    Assign(m_pchData, m_dwBuffLen, (size_t)nLength + 1, lpch, n);
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
    // Past the terminator every byte of the buffer is NUL (rule 4), so the
    // capacity is the only bound needed.
    if (!m_pchData || nIndex < 0 || (unsigned int)nIndex >= m_dwBuffLen)
        return 0;
    return m_pchData[nIndex];
}

char CBCString::operator[](int nIndex) const
{
    return GetAt(nIndex);
}

void CBCString::SetAt(int nIndex, char ch)
{
    // A non-NUL byte at nIndex means nIndex lies inside the text; the last
    // byte of the buffer is never written, so a terminator always remains.
    if (!m_pchData || nIndex < 0 || (unsigned int)nIndex + 1 >= m_dwBuffLen ||
        m_pchData[nIndex] == 0)
        return;
    if (ch == 0)
        ClearTail(m_pchData + nIndex);
    else
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
        ClearTail(m_pchData + 1);
        m_pchData[0] = ch;
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
        memcpy(dst, pOwn, nLen);
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
        memcpy(dst, pOwn, nLen);
        memcpy(dst + nLen, pAdd, nAdd);
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
