#pragma once

#include <windows.h>
#include <utility>

#include "base/ScopedHandle.h"

// A dialog template of the program's own making (zero-filled LocalAlloc
// block), released with its owner.
class DialogTemplate
{
public:
    DialogTemplate() = default;
    DialogTemplate(const DialogTemplate&) = delete;
    DialogTemplate& operator=(const DialogTemplate&) = delete;
    DialogTemplate(DialogTemplate&& other) noexcept
        : block_(std::move(other.block_)), size_(other.size_)
    {
        other.size_ = 0;
    }
    DialogTemplate& operator=(DialogTemplate&& other) noexcept
    {
        block_ = std::move(other.block_);
        size_ = other.size_;
        other.size_ = 0;
        return *this;
    }

    int Allocate(DWORD size);
    const DLGTEMPLATE* Get() const { return static_cast<const DLGTEMPLATE*>(block_.Get()); }
    BYTE* Bytes() { return static_cast<BYTE*>(block_.Get()); }
    const BYTE* Bytes() const { return static_cast<const BYTE*>(block_.Get()); }
    DWORD Size() const { return size_; }
    bool IsEmpty() const { return !block_.IsValid(); }
    void Reset();

private:
    ScopedLocalMemory block_;
    DWORD size_ = 0;
};

// Where a template's font block lies; offsets in bytes from its start.
struct DialogFontBlock
{
    bool extended = false; // DLGTEMPLATEEX
    DWORD pointSizeAt = 0; // the 16-bit point size
    DWORD faceAt = 0;      // the zero-terminated face name
    DWORD faceLength = 0;  // in characters, without the terminator
    DWORD itemsAt = 0;     // first 4-byte boundary after the face name
};

// Finds the font block of a DLGTEMPLATE or DLGTEMPLATEEX; 0 when the
// template has none (no DS_SETFONT) or is cut short.
int LocateDialogFont(const BYTE* data, DWORD size, DialogFontBlock& block);

// The face name and point size that a template with a legacy font gets.
struct DialogFontChoice
{
    wchar_t face[LF_FACESIZE] = {};
    WORD pointSize = 0;
};

// Answers whether a font family is installed.
using FontInstalledTest = int (*)(const wchar_t* face, void* context);

// Picks the replacement font from the system's message font (face and
// lfHeight) and the screen's dots per inch; 0 when the message font is not
// one the dialogs are meant to follow.
int ChooseDialogFont(const wchar_t* messageFace, LONG messageHeight, int dotsPerInch,
                     int preferShellFont, FontInstalledTest isInstalled, void* context,
                     DialogFontChoice& choice);

// Writes a copy of the template with another face name and point size.
// The copy is the source size + 2 x (new - old face length) + 4 bytes; the
// control entries keep their 4-byte alignment.
int RewriteDialogFont(const BYTE* data, DWORD size, const DialogFontBlock& block,
                      const DialogFontChoice& choice, DialogTemplate& result);

// Only templates in "MS Sans Serif", "MS Shell Dlg" or "System" change.
bool IsLegacyDialogFace(const wchar_t* face, DWORD length);

// A copy of the template in the system's dialog font; 0 (result left
// empty) when the template should be used as it is.
int ReplaceDialogFont(const void* data, DWORD size, int preferShellFont, DialogTemplate& result);
// The dialog resource in the best language, in the system's dialog font;
// 0 when the resource is missing or keeps its own font.
int LoadDialogTemplate(HMODULE module, const wchar_t* dialogId, LANGID language,
                       int preferShellFont, DialogTemplate& result);
