#include "system/Clipboard.h"

#include "base/ScopedHandle.h"

#include <string.h>
#include <wchar.h>

namespace {

// Keeps the clipboard open for one scope.
class OpenedClipboard
{
public:
    explicit OpenedClipboard(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
    ~OpenedClipboard()
    {
        if (open_) {
            CloseClipboard();
        }
    }
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;

    bool IsOpen() const { return open_; }

private:
    bool open_;
};

int FillBlock(HGLOBAL block, const wchar_t* text, size_t bytes)
{
    void* target = GlobalLock(block);
    if (!target) {
        return 0;
    }
    memcpy(target, text, bytes);
    GlobalUnlock(block);
    return 1;
}

} // namespace

int CopyTextToClipboard(HWND owner, const wchar_t* text)
{
    const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    // Movable, as the clipboard wants it.
    ScopedGlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!block.Get() || !FillBlock(block.Get(), text, bytes)) {
        return 0;
    }
    OpenedClipboard clipboard(owner);
    if (!clipboard.IsOpen() || !EmptyClipboard() ||
        !SetClipboardData(CF_UNICODETEXT, block.Get())) {
        return 0;
    }
    // The system owns the block from here on.
    block.Detach();
    return 1;
}
