#include "net/XmlDocument.h"

#include <msxml2.h>
#include <objidl.h>
#include <ocidl.h>
#include <new>
#include <string.h>
#include <type_traits>
#include <wchar.h>

#include "base/ComValue.h"
#include "base/ScopedHandle.h"
#include "system/Files.h"

namespace {

// Interface and class identifiers of the system XML components, spelled
// out so that no import library has to provide them.
const IID kDomDocumentId = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kDomDocument2Id = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kDomNodeId = {
    0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const CLSID kLegacyDocumentClassId = {
    0xCFC399AF, 0xD876, 0x11D0, {0x9C, 0x10, 0x00, 0xC0, 0x4F, 0xC9, 0x9C, 0x8E}};
const IID kLegacyDocumentId = {
    0xF52E2B61, 0x18A1, 0x11D1, {0xB1, 0x05, 0x00, 0x80, 0x5F, 0x49, 0x91, 0x6B}};
const IID kLegacyElementId = {
    0x3F7F31AC, 0xE15F, 0x11D0, {0x9C, 0x25, 0x00, 0xC0, 0x4F, 0xC9, 0x9C, 0x8E}};
const IID kLegacyElement2Id = {
    0x2B8DE2FF, 0x8D2D, 0x11D1, {0xB2, 0xFC, 0x00, 0xC0, 0x4F, 0xD9, 0x15, 0xA9}};
const IID kLegacyAttributeId = {
    0xD4D4A0FC, 0x3B73, 0x11D1, {0xB2, 0xB4, 0x00, 0xC0, 0x4F, 0xB9, 0x25, 0x96}};
const IID kPersistStreamId = {
    0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kPersistStreamInitId = {
    0x7FD52380, 0x4E07, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};
const IID kSequentialStreamId = {
    0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
const IID kStreamId = {
    0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

const wchar_t* const kDomProgIds[] = {L"Msxml2.DOMDocument.6.0", L"Msxml2.DOMDocument.4.0",
                                      L"Msxml.DOMDocument"};

constexpr long kLegacyElementType = 0; // XMLELEMTYPE_ELEMENT
constexpr wchar_t kByteOrderMark = 0xFEFF;

template <typename Interface> ComPtr<Interface> Query(IUnknown* object, REFIID id)
{
    ComPtr<Interface> result;
    if (object) {
        object->QueryInterface(id, result.PutVoid());
    }
    return result;
}

XmlNode AsNode(IUnknown* object)
{
    return XmlNode(object);
}

bool IsXmlWhitespace(wchar_t unit)
{
    return unit == L' ' || unit == L'\t' || unit == L'\r' || unit == L'\n';
}

// Drops the line breaks and indentation around a text.
void TrimWhitespace(WideString& text)
{
    unsigned end = text.Length();
    unsigned start = 0;
    while (end > 0 && IsXmlWhitespace(text.CharAt(static_cast<int>(end - 1)))) {
        --end;
    }
    while (start < end && IsXmlWhitespace(text.CharAt(static_cast<int>(start)))) {
        ++start;
    }
    text.TruncateAt(static_cast<int>(end));
    text.Erase(0, start);
}

// The read/write stream the legacy engine loads from and saves into.
class TextStream : public ComObject<IStream>
{
public:
    static TextStream* Make() { return new (std::nothrow) TextStream(); }

    int SetText(const wchar_t* text)
    {
        size_t length = wcslen(text);
        const BYTE* first = reinterpret_cast<const BYTE*>(&kByteOrderMark);
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
        bytes_.assign(first, first + sizeof(kByteOrderMark));
        bytes_.insert(bytes_.end(), bytes, bytes + length * sizeof(wchar_t));
        position_ = 0;
        return 1;
    }
    // What was written, read as UTF-16 after a byte-order mark, else UTF-8.
    int CollectText(WideString& text) const
    {
        if (bytes_.size() >= 2 && bytes_[0] == 0xFF && bytes_[1] == 0xFE) {
            const wchar_t* units = reinterpret_cast<const wchar_t*>(bytes_.data() + 2);
            return text.Assign(units, static_cast<unsigned>((bytes_.size() - 2) / 2));
        }
        WideString raw;
        if (!raw.AssignNarrow(reinterpret_cast<const char*>(bytes_.data()),
                              static_cast<unsigned>(bytes_.size()), WideString::kRaw)) {
            return 0;
        }
        return raw.DecodeUtf8Into(text) || bytes_.empty();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override
    {
        if (!object) {
            return E_POINTER;
        }
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, kSequentialStreamId) ||
            IsEqualIID(id, kStreamId)) {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE Read(void* data, ULONG wanted, ULONG* given) override
    {
        size_t left = bytes_.size() - position_;
        ULONG count = wanted < left ? wanted : static_cast<ULONG>(left);
        if (count) {
            memcpy(data, bytes_.data() + position_, count);
        }
        position_ += count;
        if (given) {
            *given = count;
        }
        return count < wanted ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG count, ULONG* taken) override
    {
        const BYTE* bytes = static_cast<const BYTE*>(data);
        bytes_.insert(bytes_.end(), bytes, bytes + count);
        if (taken) {
            *taken = count;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    TextStream() = default;

    std::vector<BYTE> bytes_;
    size_t position_ = 0;
};

// The legacy document's stream persistence: IPersistStream, or the
// layout-compatible IPersistStreamInit where only that one is offered.
ComPtr<IPersistStream> StreamPersistence(IUnknown* document)
{
    ComPtr<IPersistStream> persist = Query<IPersistStream>(document, kPersistStreamId);
    if (!persist) {
        persist = Query<IPersistStream>(document, kPersistStreamInitId);
    }
    return persist;
}

int WriteAnsiFile(const wchar_t* path, const WideString& text)
{
    int size = WideCharToMultiByte(CP_ACP, 0, text.Data(), static_cast<int>(text.Length()), nullptr,
                                   0, nullptr, nullptr);
    std::vector<char> bytes(size > 0 ? size : 0);
    if (size > 0) {
        WideCharToMultiByte(CP_ACP, 0, text.Data(), static_cast<int>(text.Length()), bytes.data(),
                            size, nullptr, nullptr);
    }
    FileObject file;
    if (!file.Open(path, FILE_MODE_CREATE)) {
        return 0;
    }
    return bytes.empty() ? 1 : file.Write(static_cast<DWORD>(bytes.size()), bytes.data());
}

// ---------------------------------------------------------------------------
// The engines: one class over each object model. The models differ only in
// their document interface and in the operations specialised below; an
// operation that another one calls is specialised above its caller, since a
// specialisation must come before its first use.

struct DomModel
{
    using Document = IXMLDOMDocument;
    using Node = IXMLDOMNode;
    static const IID& NodeId() { return kDomNodeId; }
};

struct LegacyModel
{
    using Document = IXMLDocument;
    using Node = IXMLElement;
    static const IID& NodeId() { return kLegacyElementId; }
};

template <typename Model> class ModelEngine : public XmlEngine
{
public:
    using XmlEngine::XmlEngine;

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
    ComPtr<typename Model::Document> document_;
    // Processing instructions the legacy model keeps until the first
    // element is added (it has no nodes of their kind).
    WideString prefix_;
};

using DomXmlEngine = ModelEngine<DomModel>;
using LegacyXmlEngine = ModelEngine<LegacyModel>;

// Both models' nodes take their text the same way.
template <typename Model> int ModelEngine<Model>::SetText(IUnknown* node, const wchar_t* text)
{
    using Node = typename Model::Node;
    ComPtr<Node> modelNode = Query<Node>(node, Model::NodeId());
    ScopedBstr value = MakeBstr(text);
    return modelNode && value && SUCCEEDED(modelNode->put_text(value.Get()));
}

// ---------------------------------------------------------------------------
// DOM engine.

template <> int DomXmlEngine::Close()
{
    int had = document_ ? 1 : 0;
    document_.Reset();
    return had;
}

template <> int DomXmlEngine::Create(DWORD flags)
{
    Close();
    ComPtr<IXMLDOMDocument> document;
    for (const wchar_t* progId : kDomProgIds) {
        document = CreateByProgId<IXMLDOMDocument>(progId, kDomDocumentId);
        if (document) {
            break;
        }
    }
    if (!document) {
        return 0;
    }
    document->put_async(VARIANT_FALSE);
    if (flags & XML_NO_EXTERNALS) {
        document->put_resolveExternals(VARIANT_FALSE);
    }
    if (flags & XML_NO_VALIDATION) {
        document->put_validateOnParse(VARIANT_FALSE);
    }
    if (flags & XML_ALLOW_DTD) {
        ComPtr<IXMLDOMDocument2> second = Query<IXMLDOMDocument2>(document.Get(), kDomDocument2Id);
        ScopedBstr property = MakeBstr(L"ProhibitDTD");
        ScopedVariant value;
        value.SetBool(false);
        if (second && property) {
            second->setProperty(property.Get(), value.Get());
        }
    }
    document_ = std::move(document);
    return 1;
}

int LoadVariant(IXMLDOMDocument* document, const VARIANT& source)
{
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT result = document->load(source, &loaded);
    return SUCCEEDED(result) && loaded == VARIANT_TRUE;
}

int LoadFromStream(IXMLDOMDocument* document, const wchar_t* text)
{
    // The byte-order mark lets every engine see UTF-16: without one or an
    // XML declaration, Wine's reads the bytes as UTF-8 and fails.
    SIZE_T size = (wcslen(text) + 1) * sizeof(wchar_t);
    ScopedGlobalMemory block(GlobalAlloc(GMEM_FIXED, size));
    if (!block) {
        return 0;
    }
    auto* units = static_cast<wchar_t*>(block.Get());
    units[0] = kByteOrderMark;
    memcpy(units + 1, text, size - sizeof(wchar_t));
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(block.Get(), TRUE, stream.Put()))) {
        return 0;
    }
    block.Detach(); // the stream frees it from now on
    ULARGE_INTEGER length;
    length.QuadPart = size;
    stream->SetSize(length);
    ScopedVariant source;
    source.SetObject(stream.Detach());
    return LoadVariant(document, source.Get());
}

int LoadFromAnsiBytes(IXMLDOMDocument* document, const wchar_t* text)
{
    int length = static_cast<int>(wcslen(text));
    int size =
        length ? WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr) : 0;
    if (size <= 0) {
        return 0;
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
    if (!array) {
        return 0;
    }
    ScopedVariant source;
    source.SetByteArray(array);
    void* bytes = nullptr;
    if (FAILED(SafeArrayAccessData(array, &bytes))) {
        return 0;
    }
    WideCharToMultiByte(CP_ACP, 0, text, length, static_cast<char*>(bytes), size, nullptr, nullptr);
    SafeArrayUnaccessData(array);
    return LoadVariant(document, source.Get());
}

template <> int DomXmlEngine::LoadFromText(const wchar_t* text)
{
    if (!document_ || !text) {
        return 0;
    }
    if (LoadFromStream(document_.Get(), text) || LoadFromAnsiBytes(document_.Get(), text)) {
        return 1;
    }
    WideString shortened;
    if (!RemoveDeclaredEncoding(text, shortened)) {
        return 0;
    }
    return LoadFromStream(document_.Get(), shortened.Data()) ||
           LoadFromAnsiBytes(document_.Get(), shortened.Data());
}

template <> int DomXmlEngine::LoadFromFile(const wchar_t* path)
{
    ScopedVariant source;
    if (!document_ || !source.SetText(path)) {
        return 0;
    }
    return LoadVariant(document_.Get(), source.Get());
}

template <> int DomXmlEngine::GetNodeXml(IUnknown* node, WideString& text)
{
    text.Assign(L"");
    ComPtr<IXMLDOMNode> domNode = Query<IXMLDOMNode>(node, kDomNodeId);
    ScopedBstr xml;
    if (!domNode || FAILED(domNode->get_xml(xml.Receive()))) {
        return 0;
    }
    return CopyBstr(xml.Get(), text);
}

template <> int DomXmlEngine::GetXml(WideString& text)
{
    return GetNodeXml(document_.Get(), text);
}

template <> int DomXmlEngine::SaveToFile(const wchar_t* path)
{
    ScopedVariant target;
    if (!document_ || !target.SetText(path)) {
        return 0;
    }
    return SUCCEEDED(document_->save(target.Get()));
}

template <> int DomXmlEngine::DocumentElement(XmlNode& element)
{
    IXMLDOMDocument* document = document_.Get();
    ComPtr<IXMLDOMElement> root;
    if (!document || FAILED(document->get_documentElement(root.Put())) || !root) {
        return 0;
    }
    element = AsNode(root.Detach());
    return 1;
}

template <>
int DomXmlEngine::AddElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                             XmlNode& added)
{
    IXMLDOMDocument* document = document_.Get();
    ScopedBstr tag = MakeBstr(name);
    ComPtr<IXMLDOMElement> element;
    if (!document || !tag || FAILED(document->createElement(tag.Get(), element.Put()))) {
        return 0;
    }
    XmlNode root;
    if ((text && !SetText(element.Get(), text)) || (!parent && DocumentElement(root))) {
        // A document has one root element.
        return 0;
    }
    ComPtr<IXMLDOMNode> container = Query<IXMLDOMNode>(parent ? parent : document, kDomNodeId);
    ComPtr<IXMLDOMNode> appended;
    if (!container || FAILED(container->appendChild(element.Get(), appended.Put())) || !appended) {
        return 0;
    }
    added = AsNode(appended.Detach());
    return 1;
}

template <>
int DomXmlEngine::SetAttribute(IUnknown* node, const wchar_t* name, const wchar_t* value)
{
    IXMLDOMDocument* document = document_.Get();
    ComPtr<IXMLDOMNode> domNode = Query<IXMLDOMNode>(node, kDomNodeId);
    ScopedBstr attributeName = MakeBstr(name);
    ComPtr<IXMLDOMAttribute> attribute;
    if (!document || !domNode || !attributeName ||
        FAILED(document->createAttribute(attributeName.Get(), attribute.Put())) ||
        !SetText(attribute.Get(), value)) {
        return 0;
    }
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    ComPtr<IXMLDOMNode> replaced;
    return SUCCEEDED(domNode->get_attributes(attributes.Put())) && attributes &&
           SUCCEEDED(attributes->setNamedItem(attribute.Get(), replaced.Put()));
}

template <> int DomXmlEngine::AddProcessingInstruction(const wchar_t* target, const wchar_t* data)
{
    IXMLDOMDocument* document = document_.Get();
    ScopedBstr targetText = MakeBstr(target);
    ScopedBstr dataText = MakeBstr(data);
    ComPtr<IXMLDOMProcessingInstruction> instruction;
    ComPtr<IXMLDOMNode> appended;
    return document && targetText && dataText &&
           SUCCEEDED(document->createProcessingInstruction(targetText.Get(), dataText.Get(),
                                                           instruction.Put())) &&
           SUCCEEDED(document->appendChild(instruction.Get(), appended.Put()));
}

template <> int DomXmlEngine::RemoveChild(IUnknown* parent, IUnknown* child)
{
    ComPtr<IXMLDOMNode> container =
        Query<IXMLDOMNode>(parent ? parent : document_.Get(), kDomNodeId);
    ComPtr<IXMLDOMNode> removable = Query<IXMLDOMNode>(child, kDomNodeId);
    ComPtr<IXMLDOMNode> removed;
    return container && removable &&
           SUCCEEDED(container->removeChild(removable.Get(), removed.Put())) && removed;
}

template <> int DomXmlEngine::NodeName(IUnknown* node, WideString& name)
{
    ComPtr<IXMLDOMNode> domNode = Query<IXMLDOMNode>(node, kDomNodeId);
    ScopedBstr text;
    if (!domNode || FAILED(domNode->get_nodeName(text.Receive()))) {
        name.Assign(L"");
        return 0;
    }
    return CopyBstr(text.Get(), name);
}

template <> int DomXmlEngine::NodeText(IUnknown* node, WideString& text)
{
    ComPtr<IXMLDOMNode> domNode = Query<IXMLDOMNode>(node, kDomNodeId);
    ScopedBstr value;
    if (!domNode || FAILED(domNode->get_text(value.Receive()))) {
        text.Assign(L"");
        return 0;
    }
    return CopyBstr(value.Get(), text);
}

template <> int DomXmlEngine::Attributes(IUnknown* node, XmlNodeList& attributes)
{
    ComPtr<IXMLDOMNode> domNode = Query<IXMLDOMNode>(node, kDomNodeId);
    ComPtr<IXMLDOMNamedNodeMap> map;
    long count = 0;
    if (!domNode || domNode->get_attributes(map.Put()) != S_OK || !map ||
        FAILED(map->get_length(&count))) {
        return 0;
    }
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> attribute;
        if (SUCCEEDED(map->get_item(i, attribute.Put())) && attribute) {
            attributes.push_back(AsNode(attribute.Detach()));
        }
    }
    return 1;
}

template <> int DomXmlEngine::ChildElements(IUnknown* node, XmlNodeList& children)
{
    ComPtr<IXMLDOMNode> domNode = Query<IXMLDOMNode>(node, kDomNodeId);
    ComPtr<IXMLDOMNodeList> list;
    long count = 0;
    if (!domNode || FAILED(domNode->get_childNodes(list.Put())) || !list ||
        FAILED(list->get_length(&count))) {
        return 0;
    }
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        DOMNodeType type = NODE_INVALID;
        if (SUCCEEDED(list->get_item(i, child.Put())) && child &&
            SUCCEEDED(child->get_nodeType(&type)) && type == NODE_ELEMENT) {
            children.push_back(AsNode(child.Detach()));
        }
    }
    return 1;
}

template <> int DomXmlEngine::OwnText(IUnknown* node, WideString& text)
{
    text.Assign(L"");
    ComPtr<IXMLDOMNode> domNode = Query<IXMLDOMNode>(node, kDomNodeId);
    ComPtr<IXMLDOMNodeList> list;
    long count = 0;
    if (!domNode || FAILED(domNode->get_childNodes(list.Put())) || !list ||
        FAILED(list->get_length(&count))) {
        return 0;
    }
    WideString part;
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        DOMNodeType type = NODE_INVALID;
        if (SUCCEEDED(list->get_item(i, child.Put())) && child &&
            SUCCEEDED(child->get_nodeType(&type)) &&
            (type == NODE_TEXT || type == NODE_CDATA_SECTION) && NodeText(child.Get(), part)) {
            text.Append(part);
        }
    }
    TrimWhitespace(text);
    return 1;
}

// ---------------------------------------------------------------------------
// Legacy engine.

template <> int LegacyXmlEngine::Close()
{
    int had = document_ ? 1 : 0;
    document_.Reset();
    prefix_.Assign(L"");
    return had;
}

template <> int LegacyXmlEngine::Create(DWORD)
{
    Close();
    document_ = CreateByClassId<IXMLDocument>(kLegacyDocumentClassId, kLegacyDocumentId);
    return document_ ? 1 : 0;
}

template <> int LegacyXmlEngine::LoadFromText(const wchar_t* text)
{
    ComPtr<IPersistStream> persist = StreamPersistence(document_.Get());
    ComPtr<TextStream> stream(TextStream::Make());
    if (!text || !persist || !stream || !stream->SetText(text)) {
        return 0;
    }
    return SUCCEEDED(persist->Load(stream.Get()));
}

template <> int LegacyXmlEngine::LoadFromFile(const wchar_t* path)
{
    ScopedBstr url = MakeBstr(path);
    IXMLDocument* document = document_.Get();
    return document && url && SUCCEEDED(document->put_URL(url.Get()));
}

template <> int LegacyXmlEngine::GetNodeXml(IUnknown*, WideString& text)
{
    text.Assign(L"");
    return 0;
}

template <> int LegacyXmlEngine::GetXml(WideString& text)
{
    text.Assign(L"");
    ComPtr<IPersistStream> persist = StreamPersistence(document_.Get());
    ComPtr<TextStream> stream(TextStream::Make());
    if (!persist || !stream || FAILED(persist->Save(stream.Get(), TRUE))) {
        return 0;
    }
    return stream->CollectText(text);
}

template <> int LegacyXmlEngine::SaveToFile(const wchar_t* path)
{
    WideString text;
    return GetXml(text) && WriteAnsiFile(path, text);
}

template <> int LegacyXmlEngine::DocumentElement(XmlNode& element)
{
    IXMLDocument* document = document_.Get();
    ComPtr<IXMLElement> root;
    if (!document || FAILED(document->get_root(root.Put())) || !root) {
        return 0;
    }
    element = AsNode(root.Detach());
    return 1;
}

template <>
int LegacyXmlEngine::AddElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                                XmlNode& added)
{
    IXMLDocument* document = document_.Get();
    XmlNode root;
    if (!document || !name) {
        return 0;
    }
    if (!DocumentElement(root)) {
        // A document without elements is built from text.
        WideString source;
        if (!Format(source, L"%s<%s></%s>", prefix_.Data(), name, name) ||
            !LoadFromText(source.Data()) || !DocumentElement(added)) {
            return 0;
        }
        return text ? SetText(added.Get(), text) : 1;
    }
    ComPtr<IXMLElement> container = Query<IXMLElement>(parent, kLegacyElementId);
    ScopedVariant type;
    ScopedVariant tag;
    type.SetInteger(kLegacyElementType);
    ComPtr<IXMLElement> element;
    if (!container || !tag.SetText(name) ||
        FAILED(document->createElement(type.Get(), tag.Get(), element.Put())) || !element) {
        return 0;
    }
    if ((text && !SetText(element.Get(), text)) ||
        FAILED(container->addChild(element.Get(), -1, -1))) {
        return 0;
    }
    added = AsNode(element.Detach());
    return 1;
}

template <>
int LegacyXmlEngine::SetAttribute(IUnknown* node, const wchar_t* name, const wchar_t* value)
{
    ComPtr<IXMLElement> element = Query<IXMLElement>(node, kLegacyElementId);
    ScopedBstr attributeName = MakeBstr(name);
    ScopedVariant attributeValue;
    return element && attributeName && attributeValue.SetText(value) &&
           SUCCEEDED(element->setAttribute(attributeName.Get(), attributeValue.Get()));
}

template <>
int LegacyXmlEngine::AddProcessingInstruction(const wchar_t* target, const wchar_t* data)
{
    if (!document_ || !target) {
        return 0;
    }
    return data ? Format(prefix_, L"<?%s %s?>", target, data) : Format(prefix_, L"<?%s?>", target);
}

template <> int LegacyXmlEngine::RemoveChild(IUnknown* parent, IUnknown* child)
{
    ComPtr<IXMLElement> container = Query<IXMLElement>(parent, kLegacyElementId);
    ComPtr<IXMLElement> removable = Query<IXMLElement>(child, kLegacyElementId);
    return container && removable && SUCCEEDED(container->removeChild(removable.Get()));
}

template <> int LegacyXmlEngine::NodeName(IUnknown* node, WideString& name)
{
    ScopedBstr text;
    ComPtr<IXMLElement> element = Query<IXMLElement>(node, kLegacyElementId);
    if (element && SUCCEEDED(element->get_tagName(text.Receive()))) {
        return CopyBstr(text.Get(), name);
    }
    ComPtr<IXMLAttribute> attribute = Query<IXMLAttribute>(node, kLegacyAttributeId);
    if (attribute && SUCCEEDED(attribute->get_name(text.Receive()))) {
        return CopyBstr(text.Get(), name);
    }
    name.Assign(L"");
    return 0;
}

template <> int LegacyXmlEngine::NodeText(IUnknown* node, WideString& text)
{
    ScopedBstr value;
    ComPtr<IXMLElement> element = Query<IXMLElement>(node, kLegacyElementId);
    if (element && SUCCEEDED(element->get_text(value.Receive()))) {
        return CopyBstr(value.Get(), text);
    }
    ComPtr<IXMLAttribute> attribute = Query<IXMLAttribute>(node, kLegacyAttributeId);
    if (attribute && SUCCEEDED(attribute->get_value(value.Receive()))) {
        return CopyBstr(value.Get(), text);
    }
    text.Assign(L"");
    return 0;
}

// The items of a legacy collection that answer the wanted interface.
template <typename Interface>
void CollectItems(IXMLElementCollection* collection, REFIID id, XmlNodeList& items)
{
    long count = 0;
    if (!collection || FAILED(collection->get_length(&count))) {
        return;
    }
    for (long i = 0; i < count; ++i) {
        ScopedVariant index;
        ScopedVariant unused;
        index.SetInteger(i);
        ComPtr<IDispatch> item;
        if (FAILED(collection->item(index.Get(), unused.Get(), item.Put())) || !item) {
            continue;
        }
        ComPtr<Interface> typed = Query<Interface>(item.Get(), id);
        if (!typed) {
            continue;
        }
        if constexpr (std::is_same_v<Interface, IXMLElement>) {
            long type = -1;
            if (FAILED(typed->get_type(&type)) || type != kLegacyElementType) {
                continue;
            }
        }
        items.push_back(XmlNode(typed.Detach()));
    }
}

template <> int LegacyXmlEngine::OwnText(IUnknown* node, WideString& text)
{
    // The legacy model keeps an element's text apart from its children.
    return NodeText(node, text);
}

template <> int LegacyXmlEngine::Attributes(IUnknown* node, XmlNodeList& attributes)
{
    ComPtr<IXMLElement2> element = Query<IXMLElement2>(node, kLegacyElement2Id);
    ComPtr<IXMLElementCollection> collection;
    if (!element || FAILED(element->get_attributes(collection.Put()))) {
        return 0;
    }
    CollectItems<IXMLAttribute>(collection.Get(), kLegacyAttributeId, attributes);
    return 1;
}

template <> int LegacyXmlEngine::ChildElements(IUnknown* node, XmlNodeList& children)
{
    ComPtr<IXMLElement> element = Query<IXMLElement>(node, kLegacyElementId);
    ComPtr<IXMLElementCollection> collection;
    if (!element || FAILED(element->get_children(collection.Put()))) {
        return 0;
    }
    CollectItems<IXMLElement>(collection.Get(), kLegacyElementId, children);
    return 1;
}

} // namespace

std::unique_ptr<XmlEngine> MakeXmlEngine(int kind, XmlDocument* owner)
{
    switch (kind) {
    case XML_ENGINE_DOM:
        return std::unique_ptr<XmlEngine>(new (std::nothrow) DomXmlEngine(owner));
    case XML_ENGINE_LEGACY:
        return std::unique_ptr<XmlEngine>(new (std::nothrow) LegacyXmlEngine(owner));
    default:
        return nullptr;
    }
}
