/*
 * BCString.h - CBCString, the library's own byte string.
 *
 * Character model: single bytes (char), no multibyte or wide characters, no
 * locale beyond the C library's tolower/toupper in the process's locale.
 * Lengths, indices and counts are int.
 *
 * Storage rules (every member obeys them):
 *  1. A string has no buffer (m_pchData null) until it is first assigned or
 *     formatted; only the default constructor makes that state. Otherwise it
 *     owns one heap array (new char[]) holding a NUL-terminated text.
 *  2. The length is never stored: it is strlen of the buffer, so the text
 *     ends at the first NUL.
 *  3. Every operation that builds a buffer sizes it exactly as its comment
 *     says; the operations marked "in place" keep the present block, so the
 *     capacity can exceed length + 1. A buffer never grows in place.
 *  4. A new buffer is zero-filled, then receives exactly the bytes its
 *     operation puts there, a NUL among them included: the counted
 *     constructor all nLength bytes, Insert(i, NUL) the whole old text
 *     around the NUL, Format everything vsnprintf writes (a %c of 0 too).
 *  5. In place, an operation writes only the bytes its comment names:
 *     Empty, TrimRight() and TrimRight(ch) put NUL over each byte they
 *     remove; TrimRight(set) and SetAt(i, NUL) write a single NUL;
 *     Replace(ch, NUL) writes NUL over each replaced byte and nothing else;
 *     Remove and Delete zero the old length + 1 bytes and copy the new text
 *     back; operator=(char) on a reused buffer writes bytes 0 and 1 only.
 *     Bytes past such a NUL keep their values, so a host that writes a byte
 *     back through GetBuffer gets its old text back.
 *  6. Copies are deep: no sharing, no reference counting, no copy on write.
 *  7. A buffer is released when it is replaced and when the string dies.
 *  m_dwBuffLen is kept at the capacity of the buffer the class built, for a
 *  debugger's eyes only: nothing reads it, so a derived class may install a
 *  text of its own in m_pchData and leave m_dwBuffLen as it was.
 *
 * Index checks: a negative index is refused at no cost. An index above the
 * length is found with strnlen(text, index + 1), a scan bounded by the index
 * and never by the length: GetAt, operator[], SetAt and the Find forms with
 * a start cost O(index) instead of O(1), the price of never reading outside
 * a buffer whose capacity the class does not trust itself to know.
 *
 * Forgiving edges: a null pointer argument is read as the empty text; a
 * string without a buffer is read as the empty text (operations that build a
 * buffer then give it one); indices and counts outside the text are clamped
 * or give -1 / NUL / an empty result, never an access outside the buffer.
 * A failed allocation throws std::bad_alloc and leaves the string with its
 * previous value (new buffers are built before the old one is released), as
 * does a size beyond INT_MAX. Nothing here asserts or prints.
 *
 * The header stands alone (a host includes it without the compatibility
 * header): BOOL is spelled bool and DWORD unsigned int, the same types.
 */
#ifndef BCSTRING_H
#define BCSTRING_H

#include <stdarg.h>

#include "vodUdid_api.h"

typedef char* LPBTSTR;
typedef const char* LPCBTSTR;

class VODUDID_API CBCString
{
public:
    // ---- construction and destruction ----------------------------------
    // No buffer; converts to a null pointer.
    CBCString();
    // Deep copy: a buffer of stringSrc.GetLength() + 1 bytes.
    CBCString(const CBCString& stringSrc);
    // A buffer of strlen(lpsz) + 1 bytes (1 byte for null).
    CBCString(LPCBTSTR lpsz);
    // A buffer of nLength + 1 bytes holding all nLength bytes at lpch, which
    // must be readable; a NUL among them ends the text, the bytes after it
    // are kept. A negative nLength or a null lpch gives the empty text, 1 byte.
    CBCString(LPCBTSTR lpch, int nLength);
    ~CBCString();

    // ---- length and access ----------------------------------------------
    // strlen of the text (0 without a buffer).
    int GetLength() const;
    // True exactly when the length is 0.
    bool IsEmpty() const;
    // In place: NUL over every byte of the text; the capacity stays.
    void Empty();
    // The byte at nIndex for 0 <= nIndex <= length (the NUL at length);
    // NUL for any other index (see "Index checks" above).
    char GetAt(int nIndex) const;
    // Same as GetAt.
    char operator[](int nIndex) const;
    // Stores ch at nIndex for 0 <= nIndex < length, in place; a NUL cuts
    // the text there and is the only byte written. Any other index is ignored.
    void SetAt(int nIndex, char ch);
    // The buffer itself (null without a buffer); valid until the buffer is
    // replaced or the string destroyed.
    operator LPCBTSTR() const;
    // The buffer for writing; nMinBufLength is ignored: nothing is grown.
    // Write only within the present capacity and leave a NUL inside it.
    LPBTSTR GetBuffer(int nMinBufLength);

    // ---- assignment: each returns *this -----------------------------------
    // A buffer of stringSrc.GetLength() + 1 bytes; self-assignment is safe.
    const CBCString& operator=(const CBCString& stringSrc);
    // A buffer of strlen(lpsz) + 1 bytes; lpsz may point into the own text.
    const CBCString& operator=(LPCBTSTR lpsz);
    // The one-character text ch (empty for NUL). Reuses the present buffer
    // when the text is not empty (bytes 0 and 1 written), else builds a
    // 2-byte buffer.
    const CBCString& operator=(char ch);

    // ---- appending: each builds a buffer of exactly the new size ----------
    // GetLength() + string.GetLength() + 1 bytes; appending itself works.
    const CBCString& operator+=(const CBCString& string);
    // GetLength() + 2 bytes; a NUL ch leaves the text as it was.
    const CBCString& operator+=(char ch);
    // GetLength() + strlen(lpsz) + 1 bytes; lpsz may point into the text.
    const CBCString& operator+=(LPCBTSTR lpsz);

    // ---- comparison: note the operand order --------------------------------
    // strcmp(lpsz, text): positive when lpsz sorts after the own text.
    int Compare(LPCBTSTR lpsz) const;
    // As Compare, both sides lower-cased byte by byte; nothing is changed.
    int CompareNoCase(LPCBTSTR lpsz) const;

    // ---- substrings: new strings of exactly their length + 1 bytes --------
    // nCount bytes from nFirst; nFirst is clamped to 0..length, nCount to
    // 0..length - nFirst.
    CBCString Mid(int nFirst, int nCount) const;
    // The tail from nFirst (clamped to 0..length).
    CBCString Mid(int nFirst) const;
    // The first nCount bytes (clamped to 0..length).
    CBCString Left(int nCount) const;
    // The last nCount bytes (clamped to 0..length).
    CBCString Right(int nCount) const;

    // ---- case and order: rebuilt, length + 1 bytes -------------------------
    // Bytes through toupper / tolower (in the C locale only a-z / A-Z).
    void MakeUpper();
    void MakeLower();
    // Reverses the bytes of the text.
    void MakeReverse();

    // ---- trimming ------------------------------------------------------------
    // In place: each trailing space (0x20 only) becomes NUL.
    void TrimRight();
    // In place: each trailing chTarget byte becomes NUL; NUL trims nothing.
    void TrimRight(char chTarget);
    // In place: one NUL at the start of the trailing run of bytes found in
    // lpszTargets; an empty or null set trims nothing.
    void TrimRight(LPCBTSTR lpszTargets);
    // Rebuilt with the length before trimming + 1 bytes, even when nothing
    // is trimmed: leading spaces (0x20 only) removed.
    void TrimLeft();
    // The same with chTarget; NUL trims nothing (the rebuild still happens).
    void TrimLeft(char chTarget);
    // The same with every byte of lpszTargets; empty or null trims nothing.
    void TrimLeft(LPCBTSTR lpszTargets);

    // ---- editing -------------------------------------------------------------
    // In place: every chOld byte of the text as it was becomes chNew;
    // returns how many. A NUL chNew cuts the text at the first one, yet
    // every occurrence is replaced and counted; a NUL chOld matches nothing.
    int Replace(char chOld, char chNew);
    // Every non-overlapping lpszOld, left to right over the original text,
    // becomes lpszNew; returns how many. Rebuilt with new length + 1 bytes
    // even when nothing matched; an empty lpszOld changes nothing, returns 0.
    int Replace(LPCBTSTR lpszOld, LPCBTSTR lpszNew);
    // In place: removes every chRemove byte; returns how many (NUL: 0).
    // The old length + 1 bytes are zeroed before the new text goes back.
    int Remove(char chRemove);
    // Rebuilt with length + 2 bytes: ch inserted before index nIndex
    // (clamped to 0..length); a NUL ends the text there, the rest follows
    // it in the buffer. Always returns 0.
    int Insert(int nIndex, char ch);
    // Rebuilt with length + strlen(pstr) + 1 bytes: pstr inserted before
    // nIndex (clamped); pstr may point into the own text. Always returns 0.
    int Insert(int nIndex, LPCBTSTR pstr);
    // In place: removes nCount bytes from nIndex (nIndex clamped to
    // 0..length, nCount to 0..length - nIndex), zeroing as Remove does.
    // Always returns 0.
    int Delete(int nIndex, int nCount);

    // ---- search (nothing changes) ----------------------------------------------
    // Find(ch, 0).
    int Find(char ch) const;
    // Index of the first ch at or after nStart, or -1; -1 when nStart is
    // negative or at or past the end. A NUL ch yields the length.
    int Find(char ch, int nStart) const;
    // Index of the last ch, or -1; a NUL ch yields -1.
    int ReverseFind(char ch) const;
    // Find(lpszSub, 0).
    int Find(LPCBTSTR lpszSub) const;
    // OFFSET FROM nStart (not an index) of the first lpszSub at or after
    // nStart, or -1; -1 when nStart is negative or at or past the end (also
    // for the empty text). An empty lpszSub yields 0.
    int Find(LPCBTSTR lpszSub, int nStart) const;
    // Index of the first byte that occurs in lpszCharSet, or -1.
    int FindOneOf(LPCBTSTR lpszCharSet) const;

    // ---- formatting ----------------------------------------------------------------
    // printf-style: the text becomes exactly what vsnprintf produces. The
    // buffer is sized by walking the format (see docs/bcstring.md); when the
    // output would not fit that estimate, or the format holds a conversion
    // the walk does not know, the buffer is exactly output length + 1.
    // The format and the arguments may point into the own text.
    void Format(LPCBTSTR lpszFormat, ...) __attribute__((format(printf, 2, 3)));
    // The same with a va_list; argList counts as used up afterwards.
    void FormatV(LPCBTSTR lpszFormat, va_list argList)
        __attribute__((format(printf, 2, 0)));

protected:
    LPBTSTR m_pchData;         // the owned buffer, or null
    unsigned int m_dwBuffLen;  // DWORD: capacity of the last buffer built; never read
};

#endif /* BCSTRING_H */
