#include <doctest.h>

#include <string>

#include "UpdateSigner.h"
#include "update/UpdateSignature.h"

namespace {

// Made once with openssl: "openssl ecparam -name prime256v1 -genkey", the
// public key's PEM text, and "openssl dgst -sha256 -sign" of kOpensslMessage.
const char kOpensslKey[] = "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEXtxmJerb0nSydQzQNRFmAldwNYkCPmtP"
                           "dm6K2WO56+7/RbAnAdDxHrkIk0dGdsRgaCaRUMCikH4cuoAFP6s2GQ==";
const char kOpensslSignature[] = "MEYCIQCxWNuTuaRUMa4Gs9j88jwEJtAyzQ78J6aQdJTwBCCsFgIhAOV6aY+sdEN"
                                 "9gmNlI+aPB09OSxz0olt8EOgAVGLi7439";
const char kOpensslMessage[] = "<update/>\n";

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

std::string Decoded(const char* text)
{
    std::string bytes;
    REQUIRE(DecodeBase64(text, strlen(text), bytes));
    return bytes;
}

} // namespace

TEST_CASE("Base64 decodes the padded forms and refuses everything else")
{
    std::string bytes = "untouched";
    CHECK(DecodeBase64("", 0, bytes));
    CHECK(bytes.empty());
    CHECK(Decoded("TWFu") == "Man");
    CHECK(Decoded("TWE=") == "Ma");
    CHECK(Decoded("TQ==") == "M");
    CHECK(Decoded("+/8A") == Bytes({0xFB, 0xFF, 0x00}));
    bytes = "untouched";
    for (const char* bad : {"TWF", "TW=u", "T===", "TQ==TWFu", "TW\nu", "TW-u", "TWE=="}) {
        CAPTURE(bad);
        CHECK_FALSE(DecodeBase64(bad, strlen(bad), bytes));
        CHECK(bytes == "untouched");
    }
}

TEST_CASE("A DER signature becomes r then s, each to 32 bytes; other forms are refused")
{
    BYTE raw[P256_SIGNATURE_SIZE];
    // Short integers are padded on the left; a leading zero before a high bit is dropped.
    REQUIRE(RawSignatureOfDer(Bytes({0x30, 0x07, 0x02, 0x01, 0x05, 0x02, 0x02, 0x00, 0x80}), raw));
    CHECK(raw[31] == 5);
    CHECK(raw[0] == 0);
    CHECK(raw[63] == 0x80);
    CHECK(raw[62] == 0);

    std::string full = Decoded(kOpensslSignature);
    REQUIRE(RawSignatureOfDer(full, raw));
    CHECK(raw[0] == 0xB1);
    CHECK(raw[32] == 0xE5);

    const std::string refused[] = {
        "",
        full + '\0',                                             // something after the sequence
        full.substr(0, full.size() - 1),                         // cut short
        Bytes({0x31, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x06}), // not a SEQUENCE
        Bytes({0x30, 0x06, 0x02, 0x01, 0x85, 0x02, 0x01, 0x06}), // negative
        Bytes({0x30, 0x07, 0x02, 0x02, 0x00, 0x05, 0x02, 0x01, 0x06}), // needless zero
        Bytes({0x30, 0x05, 0x02, 0x00, 0x02, 0x01, 0x06}),             // empty integer
        Bytes({0x30, 0x03, 0x02, 0x01, 0x05}),                         // one integer
    };
    for (const std::string& der : refused) {
        CAPTURE(der.size());
        CHECK_FALSE(RawSignatureOfDer(der, raw));
    }
    std::string tooLong =
        Bytes({0x30, 0x26, 0x02, 0x21, 0x01}) + std::string(32, 'x') + Bytes({0x02, 0x01, 0x06});
    CHECK_FALSE(RawSignatureOfDer(tooLong, raw));
}

TEST_CASE("Only an uncompressed P-256 public key gives a point")
{
    BYTE point[P256_POINT_SIZE] = {};
    std::string key = Decoded(kOpensslKey);
    REQUIRE(P256PointOfPublicKey(key, point));
    CHECK(point[0] == 0x5E);
    CHECK(point[63] == 0x19);

    std::string compressed = key;
    compressed[26] = 0x02;
    std::string otherCurve = key;
    otherCurve[22] = 0x22; // secp384r1's last OID byte
    for (const std::string& bad :
         {compressed, otherCurve, key.substr(0, key.size() - 1), key + 'x'}) {
        CHECK_FALSE(P256PointOfPublicKey(bad, point));
    }
}

TEST_CASE("The signature line is the answer's last line and covers every byte before it")
{
    const std::string line = std::string("<!--tessel-signature:") + kOpensslSignature + "-->";
    std::string signedPart;
    std::string signature;
    for (const char* end : {"", "\n", "\r\n"}) {
        REQUIRE(SplitSignedAnswer(kOpensslMessage + line + end, signedPart, signature));
        CHECK(signedPart == kOpensslMessage);
        CHECK(signature == Decoded(kOpensslSignature));
    }
    // An earlier marker inside the document is part of the signed bytes.
    REQUIRE(SplitSignedAnswer("<!--tessel-signature:-->" + line, signedPart, signature));
    CHECK(signedPart == "<!--tessel-signature:-->");

    signedPart = "untouched";
    for (const std::string& bad :
         {std::string(kOpensslMessage), kOpensslMessage + line + "\n\n",
          kOpensslMessage + line + "<x/>", kOpensslMessage + line.substr(0, line.size() - 1),
          std::string(kOpensslMessage) + "<!--tessel-signature:TWE-->"}) {
        CHECK_FALSE(SplitSignedAnswer(bad, signedPart, signature));
        CHECK(signedPart == "untouched");
    }
}

TEST_CASE("Any key of the list may have signed the answer; the verifier sees each usable key")
{
    struct Seen
    {
        int calls = 0;
        BYTE goodFirstByte = 0;
    } seen;
    auto verify = [](const BYTE(&point)[P256_POINT_SIZE], const BYTE(&)[32],
                     const BYTE(&)[P256_SIGNATURE_SIZE], void* context) {
        auto* state = static_cast<Seen*>(context);
        ++state->calls;
        return point[0] == state->goodFirstByte ? 1 : 0;
    };
    const std::string signature = Decoded(kOpensslSignature);
    const char* keys[] = {"not base64!", kOpensslKey, nullptr};
    seen.goodFirstByte = 0x5E;
    CHECK(IsSignedByAnyKey(keys, kOpensslMessage, signature, verify, &seen));
    CHECK(seen.calls == 1);
    seen.goodFirstByte = 0;
    CHECK_FALSE(IsSignedByAnyKey(keys, kOpensslMessage, signature, verify, &seen));
    const char* none[] = {nullptr};
    CHECK_FALSE(IsSignedByAnyKey(none, kOpensslMessage, signature, verify, &seen));
    CHECK_FALSE(IsSignedByAnyKey(keys, kOpensslMessage, "\x30", verify, &seen));
    CHECK(seen.calls == 2);
}

// Other keys, changed and unsigned answers: the keyed AutoUpdater checks.
TEST_CASE("CNG verifies openssl's signature and a throwaway key's")
{
    const char* opensslKeys[] = {kOpensslKey, nullptr};
    std::string document;
    CHECK(OpenUpdateAnswer(opensslKeys,
                           std::string(kOpensslMessage) +
                               "<!--tessel-signature:" + kOpensslSignature + "-->\n",
                           document));
    CHECK(document == kOpensslMessage);

    UpdateSigner signer;
    REQUIRE(signer.IsReady());
    const char* keys[] = {signer.PublicKey(), nullptr};
    const std::string answer = "<update><version>1.05</version></update>\n";
    document = "untouched";
    CHECK(OpenUpdateAnswer(keys, signer.Signed(answer), document));
    CHECK(document == answer);
    document = "untouched";
    CHECK_FALSE(OpenUpdateAnswer(keys, answer, document));
    CHECK(document == "untouched");

    // Without keys the answer is read as it came, signature line and all.
    CHECK(OpenUpdateAnswer(nullptr, answer, document));
    CHECK(document == answer);
}
