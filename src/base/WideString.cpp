#include "base/WideString.h"

#include "base/ScopedHandle.h"

#include <new>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

// Formatting gives up beyond this many units (a runaway pattern or value).
constexpr unsigned kFormatLimit = 0x300000;
constexpr unsigned kSmallFormatStep = 260;
constexpr unsigned kLargeFormatStep = 10240;
// Far beyond any real text; keeps the unit arithmetic from wrapping.
constexpr unsigned kMaxUnits = 0x10000000;
constexpr unsigned kAppendSlack = 20;

bool PointsInto(const wchar_t* text, const wchar_t* buffer, unsigned capacity)
{
    return buffer && text >= buffer && text < buffer + capacity;
}

unsigned BoundedLength(const wchar_t* text, unsigned limit)
{
    unsigned length = 0;
    while (length < limit && text[length]) {
        ++length;
    }
    return length;
}

wchar_t FoldCase(wchar_t unit)
{
    return (unit >= L'A' && unit <= L'Z') ? static_cast<wchar_t>(unit + (L'a' - L'A')) : unit;
}

// Compares at most `limit` units, letters A-Z equal to a-z.
int CompareFolded(const wchar_t* left, const wchar_t* right, unsigned limit)
{
    for (unsigned i = 0; i < limit; ++i) {
        wchar_t a = FoldCase(left[i]);
        wchar_t b = FoldCase(right[i]);
        if (a != b) {
            return a < b ? -1 : 1;
        }
        if (!a) {
            break;
        }
    }
    return 0;
}

int CompareNullable(const wchar_t* own, const wchar_t* text, int result)
{
    return text ? result : (*own ? -1 : 0);
}

const wchar_t* FindFolded(const wchar_t* text, const wchar_t* pattern)
{
    if (!text || !pattern) {
        return nullptr;
    }
    size_t patternLength = wcslen(pattern);
    for (const wchar_t* at = text;; at = CharNextW(at)) {
        if (CompareFolded(at, pattern, static_cast<unsigned>(patternLength)) == 0) {
            return at;
        }
        if (!*at) {
            return nullptr;
        }
    }
}

bool IsSeparator(wchar_t unit)
{
    return unit == L'\\' || unit == L'/';
}

bool IsSpaceCharacter(const wchar_t* at)
{
    WORD type = 0;
    return GetStringTypeExW(GetThreadLocale(), CT_CTYPE1, at, 1, &type) && (type & C1_SPACE);
}

struct TokenState
{
    const WideString* owner = nullptr;
    const wchar_t* buffer = nullptr;
    wchar_t* next = nullptr;
};

thread_local TokenState tokenState;

} // namespace

// ---- AutomationString ------------------------------------------------------

struct AutomationString::Holder
{
    ScopedBstr text;
    LONG references = 1;
};

AutomationString::AutomationString(const wchar_t* text)
{
    holder_ = new (std::nothrow) Holder;
    if (!holder_) {
        return;
    }
    holder_->text.Reset(SysAllocString(text));
    if (!holder_->text) {
        // A null BSTR stands for the empty text if even this fails.
        holder_->text = MakeBstr(L"");
    }
}

AutomationString::AutomationString(const AutomationString& other) : holder_(other.holder_)
{
    if (holder_) {
        InterlockedIncrement(&holder_->references);
    }
}

AutomationString& AutomationString::operator=(const AutomationString& other)
{
    if (other.holder_) {
        InterlockedIncrement(&other.holder_->references);
    }
    Release();
    holder_ = other.holder_;
    return *this;
}

AutomationString::~AutomationString()
{
    Release();
}

BSTR AutomationString::Get() const
{
    return holder_ ? holder_->text.Get() : nullptr;
}

void AutomationString::Release()
{
    if (holder_ && InterlockedDecrement(&holder_->references) == 0) {
        delete holder_;
    }
    holder_ = nullptr;
}

// ---- WideString: storage ---------------------------------------------------

WideString::WideString() : WideString(kDefaultCapacity)
{
}

WideString::WideString(unsigned capacity)
{
    Reallocate(capacity);
}

WideString::WideString(const wchar_t* text) : WideString(kDefaultCapacity)
{
    Assign(text);
}

WideString::~WideString()
{
    free(buffer_);
    free(narrow_);
}

int WideString::Reallocate(unsigned capacity)
{
    if (capacity == 0) {
        capacity = 1;
    }
    void* block = capacity <= kMaxUnits ? realloc(buffer_, capacity * sizeof(wchar_t)) : nullptr;
    if (!block) {
        free(buffer_);
        buffer_ = nullptr;
        capacity_ = count_ = 0;
        return 0;
    }
    bool wasAbsent = buffer_ == nullptr;
    buffer_ = static_cast<wchar_t*>(block);
    capacity_ = capacity;
    if (wasAbsent) {
        buffer_[0] = 0;
        count_ = 1;
    } else if (capacity_ < count_) {
        buffer_[capacity_ - 1] = 0;
        count_ = capacity_;
    }
    return 1;
}

void WideString::ResetAfterFailure()
{
    if (Reallocate(kDefaultCapacity)) {
        buffer_[0] = 0;
        count_ = 1;
    }
}

int WideString::Grow(unsigned needed, unsigned slack)
{
    if (!buffer_ && !Reallocate(kDefaultCapacity)) {
        ResetAfterFailure();
        return 0;
    }
    if (capacity_ >= needed) {
        return 1;
    }
    if (needed > kMaxUnits || !Reallocate(needed + slack)) {
        ResetAfterFailure();
        return 0;
    }
    return 1;
}

int WideString::Reserve(unsigned capacity)
{
    return Reallocate(capacity);
}

int WideString::Reset(unsigned capacity)
{
    int result = Reserve(capacity);
    if (result) {
        buffer_[0] = 0;
        count_ = 1;
    }
    return result;
}

void WideString::RefreshCount()
{
    if (!buffer_) {
        count_ = 0;
        return;
    }
    unsigned length = BoundedLength(buffer_, capacity_ - 1);
    buffer_[length] = 0;
    count_ = length + 1;
}

int WideString::SetCount(unsigned count)
{
    if (!buffer_ || count == 0 || count > capacity_ - 1) {
        return 0;
    }
    count_ = count;
    buffer_[count - 1] = 0;
    return 1;
}

wchar_t WideString::CharAt(int index) const
{
    if (index < 0 || static_cast<unsigned>(index) >= Length()) {
        return 0;
    }
    return buffer_[index];
}

// ---- Assignment and concatenation ------------------------------------------

int WideString::Assign(const wchar_t* text)
{
    return Assign(text, text ? static_cast<unsigned>(wcslen(text)) : 0);
}

int WideString::Assign(const wchar_t* text, unsigned count)
{
    if (!text) {
        count = 0;
    }
    ptrdiff_t offset = PointsInto(text, buffer_, capacity_) ? text - buffer_ : -1;
    if (count >= kMaxUnits) {
        ResetAfterFailure();
        return 0;
    }
    if (!Grow(count + 1, 0)) {
        return 0;
    }
    if (offset >= 0) {
        text = buffer_ + offset;
    }
    if (count) {
        memmove(buffer_, text, count * sizeof(wchar_t));
    }
    buffer_[count] = 0;
    RefreshCount();
    return 1;
}

int WideString::Assign(const WideString* other)
{
    if (!other) {
        return Reset(kDefaultCapacity);
    }
    if (other == this) {
        return 1;
    }
    return Assign(other->Data(), other->Length());
}

int WideString::AssignNarrow(const char* bytes, unsigned count, int mode, UINT codePage)
{
    if (count >= kMaxUnits) {
        ResetAfterFailure();
        return 0;
    }
    if (!Grow(count + 1, 0)) {
        return 0;
    }
    if (!bytes) {
        buffer_[0] = 0;
        count_ = 1;
        return 1;
    }
    if (mode == kRaw) {
        for (unsigned i = 0; i < count; ++i) {
            buffer_[i] = static_cast<unsigned char>(bytes[i]);
        }
        buffer_[count] = 0;
        RefreshCount();
        return 1;
    }
    int limit = static_cast<int>(capacity_ - 1);
    int converted =
        count ? MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(count), buffer_, limit)
              : 0;
    if (!converted && count && codePage != CP_ACP && GetLastError() == ERROR_INVALID_PARAMETER) {
        // The code page is not installed here: fall back to the ANSI page.
        converted = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), buffer_, limit);
    }
    if (!converted && count) {
        ResetAfterFailure();
        return 0;
    }
    buffer_[converted] = 0;
    RefreshCount();
    return 1;
}

int WideString::AssignNarrow(const char* text)
{
    return AssignNarrow(text, text ? static_cast<unsigned>(strlen(text)) : 0);
}

int WideString::Append(wchar_t unit)
{
    if (!Grow(Count() + 1, kAppendSlack)) {
        return 0;
    }
    buffer_[count_ - 1] = unit;
    buffer_[count_] = 0;
    RefreshCount();
    return 1;
}

int WideString::Append(const wchar_t* text)
{
    if (!text) {
        return 1;
    }
    unsigned length = static_cast<unsigned>(wcslen(text));
    ptrdiff_t offset = PointsInto(text, buffer_, capacity_) ? text - buffer_ : -1;
    if (!Grow((buffer_ ? count_ : 1) + length, kAppendSlack)) {
        return 0;
    }
    if (offset >= 0) {
        text = buffer_ + offset;
    }
    memmove(buffer_ + count_ - 1, text, length * sizeof(wchar_t));
    buffer_[count_ - 1 + length] = 0;
    RefreshCount();
    return 1;
}

int WideString::Append(const WideString& other)
{
    return Append(other.Data());
}

int WideString::Insert(unsigned position, const wchar_t* text)
{
    if (!text) {
        return 1;
    }
    if (PointsInto(text, buffer_, capacity_)) {
        WideString copy;
        return copy.Assign(text) ? Insert(position, copy.Data()) : 0;
    }
    unsigned length = static_cast<unsigned>(wcslen(text));
    if (!Grow((buffer_ ? count_ : 1) + length, 0)) {
        return 0;
    }
    if (position > Length()) {
        position = Length();
    }
    memmove(buffer_ + position + length, buffer_ + position, (count_ - position) * sizeof(wchar_t));
    memcpy(buffer_ + position, text, length * sizeof(wchar_t));
    RefreshCount();
    return 1;
}

void WideString::Erase(unsigned position, unsigned count)
{
    unsigned length = Length();
    if (position >= length) {
        return;
    }
    if (count > length - position) {
        count = length - position;
    }
    memmove(buffer_ + position, buffer_ + position + count,
            (count_ - position - count) * sizeof(wchar_t));
    count_ -= count;
}

void WideString::Mid(int position, int count)
{
    if (!buffer_) {
        return;
    }
    int length = static_cast<int>(Length());
    position = position < 0 ? 0 : (position > length ? length : position);
    count = count < 0 ? 0 : (count > length - position ? length - position : count);
    memmove(buffer_, buffer_ + position, count * sizeof(wchar_t));
    buffer_[count] = 0;
    count_ = count + 1;
}

void WideString::Mid(int position)
{
    Mid(position, static_cast<int>(Length()));
}

void WideString::TruncateAt(int position)
{
    if (!buffer_) {
        return;
    }
    int length = static_cast<int>(Length());
    position = position < 0 ? 0 : (position > length ? length : position);
    buffer_[position] = 0;
    count_ = position + 1;
}

int WideString::EnsureTrailing(wchar_t unit)
{
    if (!buffer_) {
        return 0;
    }
    if (!IsEmpty() && buffer_[Length() - 1] == unit) {
        return 1;
    }
    return Append(unit);
}

// ---- Comparison and search -------------------------------------------------

int WideString::Compare(const wchar_t* text) const
{
    return CompareNullable(Data(), text, text ? wcscmp(Data(), text) : 0);
}

int WideString::CompareNoCase(const wchar_t* text) const
{
    return CompareNullable(Data(), text, text ? CompareFolded(Data(), text, UINT_MAX) : 0);
}

int WideString::CompareNoCaseN(const wchar_t* text, unsigned count) const
{
    return CompareNullable(Data(), text, text ? CompareFolded(Data(), text, count) : 0);
}

int WideString::FindChar(wchar_t unit, int start) const
{
    if (start < 0) {
        start = 0;
    }
    if (!unit || static_cast<unsigned>(start) >= Count()) {
        return -1;
    }
    const wchar_t* found = wcschr(Data() + start, unit);
    return found ? static_cast<int>(found - Data()) : -1;
}

int WideString::FindLastChar(wchar_t unit) const
{
    const wchar_t* found = unit ? wcsrchr(Data(), unit) : nullptr;
    return found ? static_cast<int>(found - Data()) : -1;
}

const wchar_t* WideString::Find(const wchar_t* text) const
{
    return text ? wcsstr(Data(), text) : nullptr;
}

const wchar_t* WideString::FindNoCase(const wchar_t* text) const
{
    return FindFolded(Data(), text);
}

int WideString::FindNoCaseIndex(const wchar_t* text) const
{
    const wchar_t* found = FindNoCase(text);
    return found ? static_cast<int>(found - Data()) : -1;
}

// ---- Editing ---------------------------------------------------------------

void WideString::ReplaceChar(wchar_t from, wchar_t to)
{
    if (!buffer_ || !from) {
        return;
    }
    for (wchar_t* at = buffer_; *at; ++at) {
        if (*at == from) {
            *at = to;
        }
    }
    RefreshCount();
}

namespace {

using FindFunction = const wchar_t* (*)(const wchar_t*, const wchar_t*);

const wchar_t* FindExact(const wchar_t* text, const wchar_t* pattern)
{
    return wcsstr(text, pattern);
}

// Every occurrence is replaced in one pass over the original text; the
// search resumes after each occurrence, so a replacement that contains the
// pattern is never searched again.
wchar_t* ReplaceAll(wchar_t*& buffer, unsigned& capacity, unsigned& count, const wchar_t* pattern,
                    const wchar_t* replacement, FindFunction find)
{
    if (!buffer || !pattern || !*pattern) {
        return buffer;
    }
    if (!replacement) {
        replacement = L"";
    }
    size_t patternLength = wcslen(pattern);
    size_t replacementLength = wcslen(replacement);
    size_t occurrences = 0;
    for (const wchar_t* at = find(buffer, pattern); at; at = find(at + patternLength, pattern)) {
        ++occurrences;
    }
    if (!occurrences) {
        return buffer;
    }
    long long newCapacity =
        static_cast<long long>(capacity) +
        static_cast<long long>(occurrences) *
            (static_cast<long long>(replacementLength) - static_cast<long long>(patternLength));
    wchar_t* result = newCapacity > 0 && newCapacity <= kMaxUnits
                          ? static_cast<wchar_t*>(malloc(newCapacity * sizeof(wchar_t)))
                          : nullptr;
    if (!result) {
        free(buffer);
        buffer = nullptr;
        capacity = count = 0;
        return nullptr;
    }
    wchar_t* out = result;
    const wchar_t* from = buffer;
    for (const wchar_t* at = find(from, pattern); at; at = find(from, pattern)) {
        memcpy(out, from, (at - from) * sizeof(wchar_t));
        out += at - from;
        memcpy(out, replacement, replacementLength * sizeof(wchar_t));
        out += replacementLength;
        from = at + patternLength;
    }
    wcscpy(out, from);
    free(buffer);
    buffer = result;
    capacity = static_cast<unsigned>(newCapacity);
    count = static_cast<unsigned>(wcslen(buffer)) + 1;
    return buffer;
}

} // namespace

const wchar_t* WideString::Replace(const wchar_t* pattern, const wchar_t* replacement)
{
    return ReplaceAll(buffer_, capacity_, count_, pattern, replacement, FindExact);
}

const wchar_t* WideString::ReplaceNoCase(const wchar_t* pattern, const wchar_t* replacement)
{
    return ReplaceAll(buffer_, capacity_, count_, pattern, replacement, FindFolded);
}

void WideString::TrimLeft()
{
    if (!buffer_) {
        return;
    }
    const wchar_t* start = buffer_;
    while (*start && IsSpaceCharacter(start)) {
        start = CharNextW(start);
    }
    memmove(buffer_, start, (count_ - (start - buffer_)) * sizeof(wchar_t));
    RefreshCount();
}

wchar_t* WideString::Token(int first, const wchar_t* delimiters)
{
    TokenState& state = tokenState;
    if (first) {
        state = {this, buffer_, buffer_};
    } else if (state.owner != this || state.buffer != buffer_) {
        // Another string (or a reallocated buffer) was tokenised last.
        return nullptr;
    }
    wchar_t* at = state.next;
    if (!at || !delimiters) {
        return nullptr;
    }
    auto isDelimiter = [delimiters](wchar_t unit) { return unit && wcschr(delimiters, unit); };
    while (isDelimiter(*at)) {
        ++at;
    }
    if (!*at) {
        state.next = at;
        RefreshCount();
        return nullptr;
    }
    wchar_t* token = at;
    while (*at && !isDelimiter(*at)) {
        ++at;
    }
    if (*at) {
        *at++ = 0;
    }
    state.next = at;
    RefreshCount();
    return token;
}

// ---- Formatting and conversion ---------------------------------------------

int WideString::FormatV(const wchar_t* pattern, va_list args)
{
    if (!pattern || (!buffer_ && !Reallocate(kDefaultCapacity))) {
        return 0;
    }
    // The text is built in a separate block so that the arguments may refer
    // to this string's own text.
    unsigned capacity = capacity_;
    for (;;) {
        wchar_t* scratch = static_cast<wchar_t*>(calloc(capacity, sizeof(wchar_t)));
        if (!scratch) {
            ResetAfterFailure();
            return 0;
        }
        va_list copy;
        va_copy(copy, args);
        int written = _vsnwprintf(scratch, capacity - 1, pattern, copy);
        va_end(copy);
        if (written >= 0 && static_cast<unsigned>(written) < capacity) {
            scratch[written] = 0;
            free(buffer_);
            buffer_ = scratch;
            capacity_ = capacity;
            RefreshCount();
            return 1;
        }
        free(scratch);
        if (capacity >= kFormatLimit) {
            Reset(kDefaultCapacity);
            return 0;
        }
        capacity += capacity <= kLargeFormatStep ? kSmallFormatStep : kLargeFormatStep;
        if (capacity > kFormatLimit) {
            capacity = kFormatLimit;
        }
    }
}

int Format(WideString& target, const wchar_t* pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    int result = target.FormatV(pattern, args);
    va_end(args);
    return result;
}

const char* WideString::ToNarrow(int mode)
{
    free(narrow_);
    narrow_ = nullptr;
    if (!buffer_) {
        return nullptr;
    }
    if (mode == kRaw) {
        narrow_ = static_cast<char*>(malloc(count_));
        if (narrow_) {
            for (unsigned i = 0; i < count_; ++i) {
                narrow_[i] = static_cast<char>(buffer_[i] & 0xFF);
            }
        }
        return narrow_;
    }
    int size = WideCharToMultiByte(CP_ACP, 0, buffer_, -1, nullptr, 0, nullptr, nullptr);
    narrow_ = size > 0 ? static_cast<char*>(malloc(size)) : nullptr;
    if (narrow_ &&
        WideCharToMultiByte(CP_ACP, 0, buffer_, -1, narrow_, size, nullptr, nullptr) != size) {
        free(narrow_);
        narrow_ = nullptr;
    }
    return narrow_;
}

int WideString::DecodeUtf8Into(WideString& target) const
{
    // Take the bytes first: the target may be this string.
    unsigned count = Count() ? Count() : 1;
    char* bytes = static_cast<char*>(malloc(count));
    if (!bytes) {
        return 0;
    }
    for (unsigned i = 0; i + 1 < count; ++i) {
        bytes[i] = static_cast<char>(buffer_[i] & 0xFF);
    }
    bytes[count - 1] = 0;
    int result = 0;
    if (target.Reset(count + 1 > kDefaultCapacity ? count + 1 : kDefaultCapacity)) {
        int limit = static_cast<int>(target.capacity_ - 1);
        int decoded = MultiByteToWideChar(CP_UTF8, 0, bytes, -1, target.buffer_, limit);
        if (decoded <= 0) {
            target.buffer_[0] = 0;
        }
        target.RefreshCount();
        result = decoded > 0 && decoded <= limit;
    }
    free(bytes);
    return result;
}

AutomationString WideString::ToAutomationString() const
{
    return AutomationString(Data());
}

// ---- Raw text functions ----------------------------------------------------

void TrimTrailingSpaces(wchar_t* text)
{
    if (!text) {
        return;
    }
    for (size_t length = wcslen(text); length && text[length - 1] == L' '; --length) {
        text[length - 1] = 0;
    }
}

wchar_t* FlattenLines(wchar_t* text)
{
    if (!text) {
        return nullptr;
    }
    for (; *text; ++text) {
        if (*text == L'\r' || *text == L'\n') {
            *text = L' ';
        }
    }
    return text;
}

void CutExtension(wchar_t* text, unsigned maxExtension)
{
    wchar_t* dot = text ? wcsrchr(text, L'.') : nullptr;
    if (dot && wcslen(dot) <= static_cast<size_t>(maxExtension) + 1) {
        *dot = 0;
    }
}

const wchar_t* FileNamePart(const wchar_t* path)
{
    if (!path) {
        return nullptr;
    }
    const wchar_t* name = path;
    for (const wchar_t* at = path; *at; ++at) {
        if (IsSeparator(*at) && at[1]) {
            name = at + 1;
        }
    }
    return name;
}

void ExtensionOf(const wchar_t* path, WideString& target)
{
    target.Assign(L"");
    if (!path) {
        return;
    }
    const wchar_t* dot = nullptr;
    const wchar_t* at = path;
    for (; *at && *at != L'?'; ++at) {
        if (*at == L'.') {
            dot = at;
        } else if (*at == L' ' || IsSeparator(*at)) {
            dot = nullptr;
        }
    }
    if (dot) {
        target.Assign(dot, static_cast<unsigned>(at - dot));
    }
}

int CutLastComponent(wchar_t* path)
{
    if (!path) {
        return 0;
    }
    wchar_t* at = path;
    while (IsSeparator(*at)) {
        ++at;
    }
    wchar_t* cut = at;
    for (; *at; ++at) {
        if (IsSeparator(*at)) {
            cut = at;
        } else if (*at == L':') {
            if (IsSeparator(at[1])) {
                // A drive root keeps its separator.
                cut = at + 2;
                ++at;
            } else {
                cut = nullptr;
            }
        }
    }
    if (!cut || !*cut) {
        return 0;
    }
    *cut = 0;
    return 1;
}

wchar_t* SystemErrorText(DWORD code, wchar_t* buffer)
{
    if (!buffer) {
        return nullptr;
    }
    const DWORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    const DWORD flags = FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD length = FormatMessageW(flags | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, language,
                                  buffer, 260, nullptr);
    if (!length) {
        // Internet errors live in WinINet's own message table.
        HMODULE wininet = GetModuleHandleW(L"wininet.dll");
        if (wininet) {
            length = FormatMessageW(flags | FORMAT_MESSAGE_FROM_HMODULE, wininet, code, language,
                                    buffer, 260, nullptr);
        }
    }
    if (!length) {
        return nullptr;
    }
    FlattenLines(buffer);
    TrimTrailingSpaces(buffer);
    return buffer;
}
