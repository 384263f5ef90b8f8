#pragma once

#include <windows.h>
#include <oleauto.h>
#include <stdarg.h>

// A shared, reference-counted automation string (BSTR) copy of a text.
class AutomationString
{
public:
    AutomationString() = default;
    explicit AutomationString(const wchar_t* text);
    AutomationString(const AutomationString& other);
    AutomationString& operator=(const AutomationString& other);
    ~AutomationString();
    BSTR Get() const;

private:
    struct Holder;
    void Release();
    Holder* holder_ = nullptr;
};

// The one string type: a growable, zero-terminated UTF-16 buffer. Operations
// answer 1 or 0 and never throw; an allocation failure leaves the string
// empty with the default capacity.
class WideString
{
public:
    static constexpr unsigned kDefaultCapacity = 260;
    // AssignNarrow and ToNarrow mode: every byte is one code unit (0-255).
    static constexpr int kRaw = 1;

    WideString();
    explicit WideString(unsigned capacity);
    explicit WideString(const wchar_t* text);
    ~WideString();
    WideString(const WideString&) = delete;
    WideString& operator=(const WideString&) = delete;

    // Capacity and count; count includes the terminator.
    int Reserve(unsigned capacity);
    int Reset(unsigned capacity = kDefaultCapacity);
    void RefreshCount();
    unsigned Length() const { return count_ ? count_ - 1 : 0; }
    unsigned MaxLength() const { return capacity_ ? capacity_ - 1 : 0; }
    unsigned Capacity() const { return capacity_; }
    unsigned Count() const { return count_; }
    int SetCount(unsigned count);
    wchar_t* Data() { return buffer_; }
    const wchar_t* Data() const { return buffer_ ? buffer_ : L""; }
    // Copies the text into the caller's array, cut to fit; returns the array.
    template <size_t N> wchar_t* Data(wchar_t (&destination)[N]) const
    {
        lstrcpynW(destination, Data(), static_cast<int>(N));
        return destination;
    }
    wchar_t CharAt(int index) const;
    bool IsEmpty() const { return Length() == 0; }

    // Assignment and concatenation.
    int Assign(const wchar_t* text);
    int Assign(const wchar_t* text, unsigned count);
    int Assign(const WideString* other);
    int Assign(const WideString& other) { return Assign(&other); }
    int AssignNarrow(const char* bytes, unsigned count, int mode = 0, UINT codePage = 0);
    int AssignNarrow(const char* text);
    int Append(wchar_t unit);
    int Append(const wchar_t* text);
    int Append(const WideString& other);
    int Insert(unsigned position, const wchar_t* text);
    void Erase(unsigned position, unsigned count);
    void Mid(int position, int count);
    void Mid(int position);
    void TruncateAt(int position);
    int EnsureTrailing(wchar_t unit);

    // Comparison and search; a failed search gives -1 or null.
    int Compare(const wchar_t* text) const;
    int CompareNoCase(const wchar_t* text) const;
    int CompareNoCaseN(const wchar_t* text, unsigned count) const;
    int FindChar(wchar_t unit, int start = 0) const;
    int FindLastChar(wchar_t unit) const;
    const wchar_t* Find(const wchar_t* text) const;
    const wchar_t* FindNoCase(const wchar_t* text) const;
    int FindNoCaseIndex(const wchar_t* text) const;

    // Editing.
    void ReplaceChar(wchar_t from, wchar_t to);
    const wchar_t* Replace(const wchar_t* pattern, const wchar_t* replacement);
    const wchar_t* ReplaceNoCase(const wchar_t* pattern, const wchar_t* replacement);
    void TrimLeft();
    // wcstok over the own buffer; the scan position is kept per thread.
    wchar_t* Token(int first, const wchar_t* delimiters);

    // Formatting and conversion. Patterns follow the platform's wide
    // formatter: %s is wide, %hs narrow.
    int FormatV(const wchar_t* pattern, va_list args);
    const char* ToNarrow(int mode = 0);
    int DecodeUtf8Into(WideString& target) const;
    AutomationString ToAutomationString() const;

private:
    int Reallocate(unsigned capacity);
    int Grow(unsigned needed, unsigned slack);
    void ResetAfterFailure();

    wchar_t* buffer_ = nullptr;
    unsigned capacity_ = 0;
    unsigned count_ = 0;
    char* narrow_ = nullptr;
};

int Format(WideString& target, const wchar_t* pattern, ...);

// Raw text functions on a caller's zero-terminated buffer.
void TrimTrailingSpaces(wchar_t* text);
wchar_t* FlattenLines(wchar_t* text);
void CutExtension(wchar_t* text, unsigned maxExtension);
const wchar_t* FileNamePart(const wchar_t* path);
void ExtensionOf(const wchar_t* path, WideString& target);
int CutLastComponent(wchar_t* path);
// Fills a buffer of at least 260 units with the system's text for an error
// code; null when there is none.
wchar_t* SystemErrorText(DWORD code, wchar_t* buffer);
