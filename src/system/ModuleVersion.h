#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"
#include "base/WideString.h"

// ---------------------------------------------------------------------------
// The application's own module: file name, folder and version resource.

// Paths are at most MAX_PATH (260) characters with the terminator; the
// buffers hold that many. A null module is the application's executable.
int ModuleFileName(HMODULE module, wchar_t* buffer);
// The module's folder with its trailing backslash.
int ModuleDirectory(HMODULE module, wchar_t* buffer);

// Reads "major.minor" from the file's "FileVersion" string, German table
// first, then US English. A number that is missing leaves its output as it
// was; text, when given, receives the whole value.
int ReadFileVersion(const wchar_t* path, unsigned& major, unsigned& minor,
                    WideString* text = nullptr);
// The module's version packed as (major << 8 | minor), low bytes of each;
// 0x0101 when the module has no readable version.
void PackedVersion(HMODULE module, WORD* packed, WideString* text = nullptr);
// Any string of the version resource (null path = the application's file);
// out is left untouched on failure.
int ReadVersionString(WideString& out, const wchar_t* name, const wchar_t* path = nullptr);

// Parses "%u.%u" from a version text; a number that is absent keeps its
// output. Answers how many numbers were read.
int ParseVersionText(const wchar_t* text, unsigned& major, unsigned& minor);

// ---------------------------------------------------------------------------
// Resources in the best available language.

constexpr int kResourceLanguageCount = 7;

// The fallback languages of resource lookups.
constexpr LANGID kLanguageEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kLanguageEnglishUk = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK);
constexpr LANGID kLanguageEnglishNeutral = MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL);
constexpr LANGID kLanguageGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);

// The languages tried for a resource, in order: the given one, its primary
// language with the default and the neutral sublanguage, English (US),
// English (UK), English (neutral), German.
void ResourceLanguageOrder(LANGID language, LANGID (&order)[kResourceLanguageCount]);

// The locked resource data, or null. size receives the resource's size.
const void* FindResourceAnyLanguage(HMODULE module, const wchar_t* type, const wchar_t* name,
                                    LANGID language, DWORD* size = nullptr);
