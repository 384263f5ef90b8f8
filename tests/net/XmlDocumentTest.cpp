#include <doctest.h>

#include <string>

#include "TestText.h"
#include "net/XmlDocument.h"

namespace {

// Lists each offer as "@attribute=text" or "element=text", in their order
// and in a form that a failed check prints.
int Record(int kind, IUnknown*, const wchar_t* name, const wchar_t* text, void* context,
           XmlDocument*)
{
    std::string& listing = *static_cast<std::string*>(context);
    listing += (listing.empty() ? "" : " ") + std::string(kind == XML_KIND_ATTRIBUTE ? "@" : "") +
               Narrow(name) + "=" + Narrow(text);
    return 0;
}

int StopAtSecond(int, IUnknown*, const wchar_t*, const wchar_t*, void* context, XmlDocument*)
{
    return ++*static_cast<int*>(context) == 2;
}

std::wstring Value(XmlDocument& document, const wchar_t* path)
{
    WideString text;
    document.GetValue(path, text);
    return text.Data();
}

// A document loaded into a fresh wrapper; the test fails when it does not load.
void Load(XmlDocument& document, const wchar_t* text)
{
    REQUIRE(document.Create(XML_UPDATE_ANSWER_FLAGS));
    REQUIRE(document.LoadFromText(text));
}

const wchar_t kAnswer[] = L"<update>"
                          L"<application>Tessel</application>"
                          L"<Version>1.05</Version>"
                          L"<files count=\"2\" kind=\"plain\">"
                          L"<url name=\"Tessel.exe\">http://h/a.exe</url>"
                          L"<!-- comment -->"
                          L"<url>http://h/b?f=setup.exe</url>"
                          L"</files>"
                          L"</update>";

} // namespace

TEST_CASE("Paths are found without regard to case, attributes before child elements")
{
    XmlDocument document;
    Load(document, L"<UPDATE><Version>1.05</Version><info><en>Hi</en></info></UPDATE>");
    CHECK(document.UsesDomEngine());
    CHECK(Value(document, L"update\\version") == L"1.05");
    CHECK(Value(document, L"Update\\INFO\\en") == L"Hi");
    CHECK(Value(document, L"update\\version\\#text") == L"1.05");
    CHECK(Value(document, L"update\\missing").empty());

    Load(document, L"<update version=\"2.0\"><version>1.0</version></update>");
    CHECK(Value(document, L"update\\version") == L"2.0");

    // Another root answers no path under update.
    Load(document, L"<answer><update><version>1.05</version></update></answer>");
    WideString text(L"stale");
    CHECK_FALSE(document.GetValue(L"update\\version", text));
    CHECK(text.IsEmpty());
    CHECK(Value(document, L"answer\\update\\version") == L"1.05");

    // Texts arrive as they are, also beyond the ANSI code page.
    Load(document, L"<update><a>\u0101\u00C3\u00BC</a></update>");
    CHECK(Value(document, L"update\\a") == L"\u0101\u00C3\u00BC");
}

TEST_CASE("Enumerate offers the attributes of the node before its child elements")
{
    XmlDocument document;
    Load(document, kAnswer);
    std::string offers;
    CHECK_FALSE(document.Enumerate(L"update\\files", Record, &offers));
    CHECK(offers == "@count=2 @kind=plain url=http://h/a.exe url=http://h/b?f=setup.exe");

    int seen = 0;
    CHECK(document.Enumerate(L"update\\files", StopAtSecond, &seen));
    CHECK(seen == 2);
    CHECK_FALSE(document.Enumerate(L"update\\nothing", Record, &offers));
}

TEST_CASE("A declared encoding that defeats both loads is removed for a third try")
{
    WideString shortened;
    REQUIRE(RemoveDeclaredEncoding(L"<?xml version=\"1.0\" encoding=\"x-bogus\"?><a/>", shortened));
    CHECK(std::wstring(shortened.Data()) == L"<?xml version=\"1.0\" ?><a/>");
    CHECK_FALSE(RemoveDeclaredEncoding(L"<a encoding='x'/>", shortened));
    CHECK_FALSE(RemoveDeclaredEncoding(L"<a>encoding=\"x\"</a>", shortened));
    CHECK_FALSE(RemoveDeclaredEncoding(L"<?xml encoding=\"unterminated?><a/>", shortened));

    XmlDocument document;
    Load(document, L"<?xml version=\"1.0\" encoding=\"x-no-such-charset\"?>"
                   L"<update><version>3.1</version></update>");
    CHECK(Value(document, L"update\\version") == L"3.1");
}

TEST_CASE("SelectOrCreate finds existing elements and adds the missing ones")
{
    XmlDocument document;
    Load(document, L"<Elmstead><Updates/></Elmstead>");
    XmlNode base = document.SelectOrCreate(L"Elmstead\\Updates\\xml");
    REQUIRE(base);
    CHECK(document.SetAttribute(base.Get(), L"mark", L"first"));
    XmlNode again = document.SelectOrCreate(L"elmstead\\updates\\XML");
    REQUIRE(again);
    CHECK(Value(document, L"Elmstead\\Updates\\xml\\mark") == L"first");
    std::string offers;
    document.Enumerate(L"Elmstead\\Updates", Record, &offers);
    CHECK(offers == "xml=");
    // A document has one root element.
    CHECK_FALSE(document.SelectOrCreate(L"other\\x"));
}

TEST_CASE("Hostile answers fail to load and leave nothing to look up")
{
    XmlDocument document;
    REQUIRE(document.Create(XML_UPDATE_ANSWER_FLAGS));
    std::wstring huge = L"<update><version>1.05</version><junk>";
    huge.append(10 * 1024 * 1024, L'x');
    huge += L"<";
    std::wstring deep, closing;
    for (int i = 0; i < 100000; ++i) {
        deep += L"<a>";
        closing += L"</a>";
    }
    const std::wstring cases[] = {
        huge, deep, L"<?xml version=\"1.0\"?><!-- no root -->", L"", L"<update><info><en>caf\u00C3",
    };
    for (const std::wstring& text : cases) {
        CHECK_FALSE(document.LoadFromText(text.c_str()));
        CHECK(Value(document, L"update\\version").empty());
    }

    // Deep but well-formed: whether or not the engine accepts it, the
    // lookups answer and nothing more happens.
    const std::wstring nested = L"<update>" + deep + closing + L"<version>1.05</version></update>";
    if (document.LoadFromText(nested.c_str()))
        CHECK(Value(document, L"update\\version") == L"1.05");
    std::string offers;
    document.Enumerate(L"update", Record, &offers);
}

TEST_CASE("Mutated answers never crash the lookups")
{
    unsigned seed = 12345;
    XmlDocument document;
    REQUIRE(document.Create(XML_UPDATE_ANSWER_FLAGS));
    for (int round = 0; round < 300; ++round) {
        std::wstring mutated = kAnswer;
        for (int flips = 0; flips < 3; ++flips) {
            seed = seed * 1103515245u + 12345u;
            size_t at = (seed >> 8) % mutated.size();
            const wchar_t pool[] = L"<>/\"=&\\ ;?!x";
            mutated[at] = pool[(seed >> 20) % (sizeof(pool) / sizeof(pool[0]) - 1)];
        }
        if (round % 7 == 0)
            mutated.resize((seed >> 4) % mutated.size());
        std::string offers;
        if (document.LoadFromText(mutated.c_str())) {
            Value(document, L"update\\version");
            document.Enumerate(L"update\\files", Record, &offers);
        }
    }
    CHECK(document.LoadFromText(kAnswer));
}

TEST_CASE("The legacy engine follows the same element rules")
{
    XmlDocument owner;
    REQUIRE(owner.Create(0));
    std::unique_ptr<XmlEngine> engine = MakeXmlEngine(XML_ENGINE_LEGACY, &owner);
    REQUIRE(engine);
    REQUIRE(engine->Create(XML_UPDATE_ANSWER_FLAGS));
    REQUIRE(engine->LoadFromText(L"<UPDATE><Version>1.0</Version>"
                                 L"<files><url>u1</url><url>u2</url></files></UPDATE>"));
    WideString text;
    CHECK(engine->GetValue(L"update\\version", text, nullptr));
    CHECK(std::wstring(text.Data()) == L"1.0");
    CHECK_FALSE(engine->GetValue(L"answer\\version", text, nullptr));
    std::string offers;
    engine->Enumerate(L"update\\files", Record, &offers, nullptr);
    // This engine's elements give their names in capitals.
    CHECK(offers == "URL=u1 URL=u2");
    CHECK_FALSE(engine->LoadFromText(L"<update><version>"));
}
