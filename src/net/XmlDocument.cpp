#include "net/XmlDocument.h"

#include <wchar.h>

namespace {

bool NamesMatch(const WideString& name, const wchar_t* wanted)
{
    return wanted && name.CompareNoCase(wanted) == 0;
}

} // namespace

// ---------------------------------------------------------------------------
// Path rules shared by both engines.

const wchar_t* NextPathComponent(const wchar_t* path, WideString& component)
{
    const wchar_t* end = wcschr(path, L'\\');
    unsigned length = end ? static_cast<unsigned>(end - path) : static_cast<unsigned>(wcslen(path));
    component.Assign(path, length);
    return end ? end + 1 : path + length;
}

int RemoveDeclaredEncoding(const wchar_t* text, WideString& shortened)
{
    if (!text) {
        return 0;
    }
    const wchar_t* close = wcschr(text, L'>');
    const wchar_t* start = wcsstr(text, L"encoding");
    if (!start || (close && start > close)) {
        return 0;
    }
    const wchar_t* open = wcschr(start, L'"');
    const wchar_t* end = open ? wcschr(open + 1, L'"') : nullptr;
    if (!end || (close && open > close)) {
        return 0;
    }
    WideString result;
    if (!result.Assign(text, static_cast<unsigned>(start - text)) || !result.Append(end + 1)) {
        return 0;
    }
    return shortened.Assign(result);
}

int XmlEngine::FindAmong(XmlNodeList& candidates, int kind, const wchar_t* name,
                         XmlCallback callback, void* context, WideString& text, XmlNode& node)
{
    WideString candidateName;
    WideString candidateText;
    for (XmlNode& candidate : candidates) {
        NodeName(candidate.Get(), candidateName);
        if (NamesMatch(candidateName, name)) {
            NodeText(candidate.Get(), text);
            node = std::move(candidate);
            return 1;
        }
        if (!callback) {
            continue;
        }
        NodeText(candidate.Get(), candidateText);
        if (callback(kind, candidate.Get(), candidateName.Data(), candidateText.Data(), context,
                     owner_)) {
            return 1;
        }
    }
    return 0;
}

int XmlEngine::FindChild(const wchar_t* name, XmlCallback callback, void* context, WideString& text,
                         XmlNode& node)
{
    text.Assign(L"");
    if (IsEmpty()) {
        return 0;
    }
    if (!node) {
        XmlNode root;
        WideString rootName;
        if (!DocumentElement(root) || !NodeName(root.Get(), rootName)) {
            return 0;
        }
        WideString rootText;
        NodeText(root.Get(), rootText);
        int found = callback ? callback(XML_KIND_ELEMENT, root.Get(), rootName.Data(),
                                        rootText.Data(), context, owner_)
                             : NamesMatch(rootName, name);
        if (found) {
            text.Assign(rootText);
            node = std::move(root);
        }
        return found ? 1 : 0;
    }
    if (name && wcscmp(name, L"#text") == 0) {
        return NodeText(node.Get(), text);
    }
    XmlNodeList attributes;
    Attributes(node.Get(), attributes);
    if (FindAmong(attributes, XML_KIND_ATTRIBUTE, name, callback, context, text, node)) {
        return 1;
    }
    XmlNodeList children;
    ChildElements(node.Get(), children);
    if (FindAmong(children, XML_KIND_ELEMENT, name, callback, context, text, node)) {
        return 1;
    }
    text.Assign(L"");
    return 0;
}

int XmlEngine::Walk(const wchar_t* path, IUnknown* start, WideString& text, XmlNode& node)
{
    node = XmlNode::Share(start);
    WideString component;
    const wchar_t* rest = path ? path : L"";
    while (*rest) {
        rest = NextPathComponent(rest, component);
        if (component.IsEmpty()) {
            continue;
        }
        if (!FindChild(component.Data(), nullptr, nullptr, text, node)) {
            return 0;
        }
    }
    return 1;
}

int XmlEngine::GetValue(const wchar_t* path, WideString& text, IUnknown* start)
{
    XmlNode node;
    WideString found;
    if (!path || !*path || !Walk(path, start, found, node)) {
        text.Assign(L"");
        return 0;
    }
    return text.Assign(found);
}

int XmlEngine::Enumerate(const wchar_t* path, XmlCallback callback, void* context, IUnknown* start)
{
    XmlNode node;
    WideString text;
    if (!callback || !Walk(path, start, text, node)) {
        return 0;
    }
    return FindChild(nullptr, callback, context, text, node);
}

// ---------------------------------------------------------------------------
// The document.

int XmlDocument::CreateEngine(int kind, DWORD flags)
{
    std::unique_ptr<XmlEngine> engine = MakeXmlEngine(kind, this);
    if (!engine || !engine->Create(flags)) {
        return 0;
    }
    active_ = std::move(engine);
    activeKind_ = kind;
    return 1;
}

int XmlDocument::Create(DWORD flags)
{
    Close();
    apartment_.Init(0);
    return CreateEngine(XML_ENGINE_DOM, flags) || CreateEngine(XML_ENGINE_LEGACY, flags);
}

int XmlDocument::Close()
{
    int had = active_ ? 1 : 0;
    active_.reset();
    apartment_.Uninit();
    return had;
}

int XmlDocument::LoadFromText(const wchar_t* text)
{
    return active_ ? active_->LoadFromText(text) : 0;
}

int XmlDocument::LoadFromFile(const wchar_t* path)
{
    return active_ ? active_->LoadFromFile(path) : 0;
}

int XmlDocument::GetNodeXml(IUnknown* node, WideString& text)
{
    text.Assign(L"");
    return active_ ? active_->GetNodeXml(node, text) : 0;
}

int XmlDocument::GetXml(WideString& text)
{
    text.Assign(L"");
    return active_ ? active_->GetXml(text) : 0;
}

int XmlDocument::SaveToFile(const wchar_t* path)
{
    return active_ ? active_->SaveToFile(path) : 0;
}

int XmlDocument::GetValue(const wchar_t* path, WideString& text, IUnknown* start)
{
    text.Assign(L"");
    return active_ ? active_->GetValue(path, text, start) : 0;
}

int XmlDocument::FindChild(const wchar_t* name, XmlCallback callback, void* context,
                           WideString& text, XmlNode& node)
{
    text.Assign(L"");
    return active_ ? active_->FindChild(name, callback, context, text, node) : 0;
}

int XmlDocument::Enumerate(const wchar_t* path, XmlCallback callback, void* context,
                           IUnknown* start)
{
    return active_ ? active_->Enumerate(path, callback, context, start) : 0;
}

XmlNode XmlDocument::SelectOrCreate(const wchar_t* path, IUnknown* start)
{
    XmlNode node = XmlNode::Share(start);
    if (!active_ || !path) {
        return XmlNode();
    }
    WideString component;
    WideString text;
    const wchar_t* rest = path;
    while (*rest) {
        rest = NextPathComponent(rest, component);
        if (component.IsEmpty() ||
            active_->FindChild(component.Data(), nullptr, nullptr, text, node)) {
            continue;
        }
        XmlNode added;
        if (!active_->AddElement(node.Get(), component.Data(), nullptr, added)) {
            return XmlNode();
        }
        node = std::move(added);
    }
    return node;
}

int XmlDocument::AddElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                            XmlNode& added)
{
    return active_ ? active_->AddElement(parent, name, text, added) : 0;
}

int XmlDocument::SetText(IUnknown* node, const wchar_t* text)
{
    return active_ ? active_->SetText(node, text) : 0;
}

int XmlDocument::SetAttribute(IUnknown* node, const wchar_t* name, const wchar_t* value)
{
    return active_ ? active_->SetAttribute(node, name, value) : 0;
}

int XmlDocument::AddProcessingInstruction(const wchar_t* target, const wchar_t* data)
{
    return active_ ? active_->AddProcessingInstruction(target, data) : 0;
}

int XmlDocument::RemoveChild(IUnknown* parent, IUnknown* child)
{
    return active_ ? active_->RemoveChild(parent, child) : 0;
}

int XmlDocument::OwnText(IUnknown* node, WideString& text)
{
    text.Assign(L"");
    return active_ ? active_->OwnText(node, text) : 0;
}
