#include <doctest.h>

#include "base/Com.h"
#include "base/ComValue.h"

namespace {

// Notes when its last reference goes.
class Tracked : public ComObject<IUnknown>
{
public:
    explicit Tracked(bool& gone) : gone_(gone) {}
    ~Tracked() override { gone_ = true; }

private:
    bool& gone_;
};

} // namespace

TEST_CASE("a variant owner releases what it holds, and nothing it gave up")
{
    bool gone = false;
    {
        ScopedVariant value;
        value.SetObject(new Tracked(gone));
        value.SetInteger(7); // replacing the object releases it
        CHECK(gone);
        CHECK(value.Get().lVal == 7);
    }

    gone = false;
    VARIANT kept;
    {
        ScopedVariant value;
        value.SetObject(new Tracked(gone));
        kept = value.Detach();
        CHECK(value.Get().vt == VT_EMPTY);
    }
    CHECK_FALSE(gone);
    VariantClear(&kept);
    CHECK(gone);

    // Text: null is the empty text, and the copy reads back whole.
    ScopedVariant text;
    REQUIRE(text.SetText(nullptr));
    CHECK(text.Get().vt == VT_BSTR);
    WideString copy(L"stale");
    REQUIRE(CopyBstr(text.Get().bstrVal, copy));
    CHECK(copy.IsEmpty());
    REQUIRE(text.SetText(L"Tessel"));
    REQUIRE(CopyBstr(text.Get().bstrVal, copy));
    CHECK(copy.Compare(L"Tessel") == 0);
    REQUIRE(CopyBstr(nullptr, copy));
    CHECK(copy.IsEmpty());
}

TEST_CASE("a property variant owner clears the value before it is filled again")
{
    ScopedPropVariant value;
    PROPVARIANT* target = value.Receive();
    target->vt = VT_LPWSTR;
    target->pwszVal = static_cast<wchar_t*>(CoTaskMemAlloc(4 * sizeof(wchar_t)));
    REQUIRE(target->pwszVal);
    lstrcpyW(target->pwszVal, L"abc");
    CHECK(value.Receive()->vt == VT_EMPTY);
}
