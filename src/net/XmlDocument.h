#pragma once

#include <windows.h>
#include <objbase.h>
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

// The DOM engine: the newest of the system's DOM documents.
class DomXmlEngine : public XmlEngine
{
public:
    using XmlEngine::XmlEngine;
    ~DomXmlEngine() override { Close(); }

    int Create(DWORD flags) override;
    int Close() override;
    // Three tries: a UTF-16 stream, ANSI bytes, and both again without the
    // declared encoding.
    int LoadFromText(const wchar_t* text) override;
    int LoadFromFile(const wchar_t* path) override;
    int GetNodeXml(IUnknown* node, WideString& text) override;
    int GetXml(WideString& text) override;
    int SaveToFile(const wchar_t* path) override;
    int AddElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                   XmlNode& added) override;
    int SetText(IUnknown* node, const wchar_t* text) override;
    int SetAttribute(IUnknown* node, const wchar_t* name, const wchar_t* value) override;
    int AddProcessingInstruction(const wchar_t* target, const wchar_t* data) override;
    int RemoveChild(IUnknown* parent, IUnknown* child) override;
    bool IsEmpty() const override { return !document_; }
    int OwnText(IUnknown* node, WideString& text) override;

protected:
    int DocumentElement(XmlNode& element) override;
    int NodeName(IUnknown* node, WideString& name) override;
    int NodeText(IUnknown* node, WideString& text) override;
    int Attributes(IUnknown* node, XmlNodeList& attributes) override;
    int ChildElements(IUnknown* node, XmlNodeList& children) override;

private:
    int LoadFromStream(const wchar_t* text);
    int LoadFromAnsiBytes(const wchar_t* text);
    int LoadVariant(const VARIANT& source);

    ComPtr<IUnknown> document_;
};

// The legacy XML object model, loaded and saved through a stream of the
// program's own.
class LegacyXmlEngine : public XmlEngine
{
public:
    using XmlEngine::XmlEngine;
    ~LegacyXmlEngine() override { Close(); }

    int Create(DWORD flags) override;
    int Close() override;
    int LoadFromText(const wchar_t* text) override;
    int LoadFromFile(const wchar_t* path) override;
    int GetNodeXml(IUnknown* node, WideString& text) override;
    int GetXml(WideString& text) override;
    int SaveToFile(const wchar_t* path) override;
    int AddElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                   XmlNode& added) override;
    int SetText(IUnknown* node, const wchar_t* text) override;
    int SetAttribute(IUnknown* node, const wchar_t* name, const wchar_t* value) override;
    int AddProcessingInstruction(const wchar_t* target, const wchar_t* data) override;
    int RemoveChild(IUnknown* parent, IUnknown* child) override;
    bool IsEmpty() const override { return !document_; }
    int OwnText(IUnknown* node, WideString& text) override;

protected:
    int DocumentElement(XmlNode& element) override;
    int NodeName(IUnknown* node, WideString& name) override;
    int NodeText(IUnknown* node, WideString& text) override;
    int Attributes(IUnknown* node, XmlNodeList& attributes) override;
    int ChildElements(IUnknown* node, XmlNodeList& children) override;

private:
    ComPtr<IUnknown> document_;
    // Processing instructions kept until the first element is added.
    WideString prefix_;
};

// The document the update check reads its answer with: the first engine
// that can be created, and COM for the calling thread while it is open.
class XmlDocument
{
public:
    XmlDocument() : dom_(this), legacy_(this) {}
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
    XmlEngine* ActiveEngine() const { return active_; }
    bool UsesDomEngine() const { return active_ == &dom_; }

private:
    ComApartment apartment_;
    DomXmlEngine dom_;
    LegacyXmlEngine legacy_;
    XmlEngine* active_ = nullptr;
};

// The text without its declared encoding: the span from "encoding" through
// the closing quote of its double-quoted value, searched only before the
// first ">". 0 when the text declares none.
int RemoveDeclaredEncoding(const wchar_t* text, WideString& shortened);

// Splits off the first backslash-separated component of a path: component
// receives it, and the answer points after its separator (or at the end).
const wchar_t* NextPathComponent(const wchar_t* path, WideString& component);
