#pragma once

#include <windows.h>
#include <objbase.h>
#include <memory>
#include <vector>

#include "base/Com.h"
#include "base/WideString.h"

class XmlDocument;

// A node handed between the engines and their callers: an element or an
// attribute of whichever engine is active, held as its IUnknown.
using XmlNode = ComPtr<IUnknown>;
using XmlNodeList = std::vector<XmlNode>;

// Node kinds offered to an enumeration callback.
constexpr int XML_KIND_ELEMENT = 0;
constexpr int XML_KIND_ATTRIBUTE = 1;

// Document flags of Create.
constexpr DWORD XML_NO_VALIDATION = 0x1;       // validateOnParse off
constexpr DWORD XML_NO_EXTERNALS = 0x2;        // resolveExternals off
constexpr DWORD XML_ALLOW_DTD = 0x4;           // ProhibitDTD off
constexpr DWORD XML_UPDATE_ANSWER_FLAGS = 0x3; // what the update check uses

// Answers 1 to stop a walk; the walk's own answer is then 1.
using XmlCallback = int (*)(int kind, IUnknown* node, const wchar_t* name, const wchar_t* text,
                            void* context, XmlDocument* document);

// One system XML engine behind the document. The path rules live here, on
// top of a few node primitives each engine answers.
class XmlEngine
{
public:
    explicit XmlEngine(XmlDocument* owner) : owner_(owner) {}
    virtual ~XmlEngine() = default;
    XmlEngine(const XmlEngine&) = delete;
    XmlEngine& operator=(const XmlEngine&) = delete;

    virtual int Create(DWORD flags) = 0;
    virtual int Close() = 0;
    virtual int LoadFromText(const wchar_t* text) = 0;
    virtual int LoadFromFile(const wchar_t* path) = 0;
    virtual int GetNodeXml(IUnknown* node, WideString& text) = 0;
    virtual int GetXml(WideString& text) = 0;
    virtual int SaveToFile(const wchar_t* path) = 0;
    // Follows a backslash-separated path from start (the document element
    // when null); text is the last step's text, empty on failure.
    virtual int GetValue(const wchar_t* path, WideString& text, IUnknown* start);
    // One step from node (the document element when node is empty); on a
    // match node becomes the node found. Without a name every attribute and
    // then every child element is offered to the callback.
    virtual int FindChild(const wchar_t* name, XmlCallback callback, void* context,
                          WideString& text, XmlNode& node);
    virtual int Enumerate(const wchar_t* path, XmlCallback callback, void* context,
                          IUnknown* start);
    virtual int AddElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                           XmlNode& added) = 0;
    virtual int SetText(IUnknown* node, const wchar_t* text) = 0;
    virtual int SetAttribute(IUnknown* node, const wchar_t* name, const wchar_t* value) = 0;
    virtual int AddProcessingInstruction(const wchar_t* target, const wchar_t* data) = 0;
    virtual int RemoveChild(IUnknown* parent, IUnknown* child) = 0;

    virtual bool IsEmpty() const = 0;
    // The element's own text, without the texts of its child elements.
    virtual int OwnText(IUnknown* node, WideString& text) = 0;

protected:
    // Node primitives of the engine's own object model.
    virtual int DocumentElement(XmlNode& element) = 0;
    virtual int NodeName(IUnknown* node, WideString& name) = 0;
    virtual int NodeText(IUnknown* node, WideString& text) = 0;
    virtual int Attributes(IUnknown* node, XmlNodeList& attributes) = 0;
    virtual int ChildElements(IUnknown* node, XmlNodeList& children) = 0;

    XmlDocument* owner_;

private:
    int FindAmong(XmlNodeList& candidates, int kind, const wchar_t* name, XmlCallback callback,
                  void* context, WideString& text, XmlNode& node);
    int Walk(const wchar_t* path, IUnknown* start, WideString& text, XmlNode& node);
};

// The engines behind the document, in the order Create tries them: the
// newest of the system's DOM documents, and the legacy XML object model
// (loaded and saved through a stream of the program's own).
constexpr int XML_ENGINE_DOM = 0;
constexpr int XML_ENGINE_LEGACY = 1;

// A new, empty engine of that kind; null for an unknown kind or when out of
// memory.
std::unique_ptr<XmlEngine> MakeXmlEngine(int kind, XmlDocument* owner);

// The document the update check reads its answer with: the first engine
// that can be created, and COM for the calling thread while it is open.
class XmlDocument
{
public:
    XmlDocument() = default;
    ~XmlDocument() { Close(); }
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    int Create(DWORD flags);
    int Close();
    int LoadFromText(const wchar_t* text);
    int LoadFromFile(const wchar_t* path);
    int GetNodeXml(IUnknown* node, WideString& text);
    int GetXml(WideString& text);
    int SaveToFile(const wchar_t* path);
    int GetValue(const wchar_t* path, WideString& text, IUnknown* start = nullptr);
    int FindChild(const wchar_t* name, XmlCallback callback, void* context, WideString& text,
                  XmlNode& node);
    int Enumerate(const wchar_t* path, XmlCallback callback, void* context,
                  IUnknown* start = nullptr);
    // Walks the path, creating each missing element; the last node, or an
    // empty node when a step cannot be created.
    XmlNode SelectOrCreate(const wchar_t* path, IUnknown* start = nullptr);
    int AddElement(IUnknown* parent, const wchar_t* name, const wchar_t* text, XmlNode& added);
    int SetText(IUnknown* node, const wchar_t* text);
    int SetAttribute(IUnknown* node, const wchar_t* name, const wchar_t* value);
    int AddProcessingInstruction(const wchar_t* target, const wchar_t* data);
    int RemoveChild(IUnknown* parent, IUnknown* child);
    int OwnText(IUnknown* node, WideString& text);

    // The engine in use, null before Create or after Close.
    XmlEngine* ActiveEngine() const { return active_.get(); }
    bool UsesDomEngine() const { return active_ && activeKind_ == XML_ENGINE_DOM; }

private:
    // Makes an engine of that kind and creates its document.
    int CreateEngine(int kind, DWORD flags);

    ComApartment apartment_;
    std::unique_ptr<XmlEngine> active_;
    int activeKind_ = XML_ENGINE_DOM;
};

// The text without its declared encoding: the span from "encoding" through
// the closing quote of its double-quoted value, searched only before the
// first ">". 0 when the text declares none.
int RemoveDeclaredEncoding(const wchar_t* text, WideString& shortened);

// Splits off the first backslash-separated component of a path: component
// receives it, and the answer points after its separator (or at the end).
const wchar_t* NextPathComponent(const wchar_t* path, WideString& component);
