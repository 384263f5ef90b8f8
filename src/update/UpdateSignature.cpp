#include "update/UpdateSignature.h"

#include <bcrypt.h>
#include <string.h>

#include "base/DynamicLibrary.h"
#include "update/UpdateRules.h"

namespace {

const char kSignatureStart[] = "<!--tessel-signature:";
const char kSignatureEnd[] = "-->";

// SubjectPublicKeyInfo of a P-256 key up to its point: SEQUENCE, the
// algorithm (id-ecPublicKey, prime256v1), and the BIT STRING's header.
const BYTE kP256KeyPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                               0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                               0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};
constexpr BYTE kUncompressedPoint = 0x04;

int Base64Value(char unit)
{
    if (unit >= 'A' && unit <= 'Z') {
        return unit - 'A';
    }
    if (unit >= 'a' && unit <= 'z') {
        return unit - 'a' + 26;
    }
    if (unit >= '0' && unit <= '9') {
        return unit - '0' + 52;
    }
    if (unit == '+') {
        return 62;
    }
    return unit == '/' ? 63 : -1;
}

// Reads one DER INTEGER at offset into a 32-byte big-endian field. Only
// the minimal positive encoding is accepted, so one signature has exactly
// one form.
int ReadDerInteger(const std::string& der, size_t& offset, BYTE* field)
{
    if (offset + 2 > der.size() || static_cast<BYTE>(der[offset]) != 0x02) {
        return 0;
    }
    size_t length = static_cast<BYTE>(der[offset + 1]);
    const BYTE* value = reinterpret_cast<const BYTE*>(der.data()) + offset + 2;
    if (length == 0 || length > 33 || offset + 2 + length > der.size() || (value[0] & 0x80)) {
        return 0;
    }
    if (value[0] == 0) {
        // A leading zero only where the next byte would read as negative.
        if (length == 1 || !(value[1] & 0x80)) {
            return 0;
        }
        ++value;
        --length;
    }
    if (length > 32) {
        return 0;
    }
    memset(field, 0, 32);
    memcpy(field + 32 - length, value, length);
    offset += 2 + static_cast<size_t>(static_cast<BYTE>(der[offset + 1]));
    return 1;
}

int IsBase64Unit(char unit)
{
    return Base64Value(unit) >= 0 || unit == '=';
}

} // namespace

int HasUpdateKeys(UpdateKeyList keys)
{
    return keys && keys[0];
}

int DecodeBase64(const char* text, size_t length, std::string& bytes)
{
    if (!text || length % 4) {
        return 0;
    }
    std::string decoded;
    decoded.reserve(length / 4 * 3);
    for (size_t i = 0; i < length; i += 4) {
        const bool last = i + 4 == length;
        const int padding = (text[i + 3] == '=') + (text[i + 2] == '=');
        if (padding && !last) {
            return 0;
        }
        int values[4] = {};
        for (int j = 0; j < 4 - padding; ++j) {
            values[j] = Base64Value(text[i + j]);
            if (values[j] < 0) {
                return 0;
            }
        }
        if (padding == 1 && text[i + 2] == '=') {
            return 0;
        }
        const unsigned long group = (static_cast<unsigned long>(values[0]) << 18) |
                                    (values[1] << 12) | (values[2] << 6) | values[3];
        decoded += static_cast<char>(group >> 16);
        if (padding < 2) {
            decoded += static_cast<char>(group >> 8);
        }
        if (padding < 1) {
            decoded += static_cast<char>(group);
        }
    }
    bytes.swap(decoded);
    return 1;
}

int P256PointOfPublicKey(const std::string& der, BYTE (&point)[P256_POINT_SIZE])
{
    const size_t prefix = sizeof(kP256KeyPrefix);
    if (der.size() != prefix + 1 + P256_POINT_SIZE ||
        memcmp(der.data(), kP256KeyPrefix, prefix) != 0 ||
        static_cast<BYTE>(der[prefix]) != kUncompressedPoint) {
        return 0;
    }
    memcpy(point, der.data() + prefix + 1, P256_POINT_SIZE);
    return 1;
}

int RawSignatureOfDer(const std::string& der, BYTE (&raw)[P256_SIGNATURE_SIZE])
{
    if (der.size() < 2 || static_cast<BYTE>(der[0]) != 0x30 ||
        static_cast<size_t>(static_cast<BYTE>(der[1])) + 2 != der.size()) {
        return 0;
    }
    BYTE parsed[P256_SIGNATURE_SIZE];
    size_t offset = 2;
    if (!ReadDerInteger(der, offset, parsed) || !ReadDerInteger(der, offset, parsed + 32) ||
        offset != der.size()) {
        return 0;
    }
    memcpy(raw, parsed, sizeof(parsed));
    return 1;
}

int SplitSignedAnswer(const std::string& answer, std::string& signedPart, std::string& signature)
{
    const size_t start = answer.rfind(kSignatureStart);
    if (start == std::string::npos) {
        return 0;
    }
    const size_t textStart = start + strlen(kSignatureStart);
    size_t textEnd = textStart;
    while (textEnd < answer.size() && IsBase64Unit(answer[textEnd])) {
        ++textEnd;
    }
    if (answer.compare(textEnd, strlen(kSignatureEnd), kSignatureEnd) != 0) {
        return 0;
    }
    const std::string rest = answer.substr(textEnd + strlen(kSignatureEnd));
    std::string decoded;
    if ((!rest.empty() && rest != "\n" && rest != "\r\n") ||
        !DecodeBase64(answer.data() + textStart, textEnd - textStart, decoded)) {
        return 0;
    }
    signedPart.assign(answer, 0, start);
    signature.swap(decoded);
    return 1;
}

int IsSignedByAnyKey(UpdateKeyList keys, const std::string& signedPart,
                     const std::string& signature, P256Verifier verify, void* context)
{
    BYTE raw[P256_SIGNATURE_SIZE];
    if (!keys || !verify || !RawSignatureOfDer(signature, raw)) {
        return 0;
    }
    BYTE digest[SHA256_SIZE];
    Sha256Of(signedPart.data(), signedPart.size(), digest);
    for (UpdateKeyList key = keys; *key; ++key) {
        std::string der;
        BYTE point[P256_POINT_SIZE];
        if (DecodeBase64(*key, strlen(*key), der) && P256PointOfPublicKey(der, point) &&
            verify(point, digest, raw, context)) {
            return 1;
        }
    }
    return 0;
}

int VerifyP256WithCng(const BYTE (&point)[P256_POINT_SIZE], const BYTE (&digest)[32],
                      const BYTE (&signature)[P256_SIGNATURE_SIZE], void*)
{
    DynamicLibrary bcrypt;
    if (!bcrypt.Load(L"bcrypt.dll")) {
        return 0;
    }
    auto open =
        bcrypt.Symbol<decltype(&::BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider");
    auto close =
        bcrypt.Symbol<decltype(&::BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider");
    auto import = bcrypt.Symbol<decltype(&::BCryptImportKeyPair)>("BCryptImportKeyPair");
    auto destroy = bcrypt.Symbol<decltype(&::BCryptDestroyKey)>("BCryptDestroyKey");
    auto verify = bcrypt.Symbol<decltype(&::BCryptVerifySignature)>("BCryptVerifySignature");
    if (!open || !close || !import || !destroy || !verify) {
        return 0;
    }
    auto closeAlgorithm = [close](BCRYPT_ALG_HANDLE handle) { close(handle, 0); };
    LibraryHandle<BCRYPT_ALG_HANDLE, decltype(closeAlgorithm)> algorithm(closeAlgorithm);
    if (open(algorithm.Out(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) {
        return 0;
    }
    BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + P256_POINT_SIZE];
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, P256_POINT_SIZE / 2};
    memcpy(blob, &header, sizeof(header));
    memcpy(blob + sizeof(header), point, P256_POINT_SIZE);
    LibraryHandle<BCRYPT_KEY_HANDLE, decltype(destroy)> key(destroy);
    if (import(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Out(), blob, sizeof(blob), 0) !=
        0) {
        return 0;
    }
    return verify(key.Get(), nullptr, const_cast<BYTE*>(digest), 32, const_cast<BYTE*>(signature),
                  P256_SIGNATURE_SIZE, 0) == 0;
}

int OpenUpdateAnswer(UpdateKeyList keys, const std::string& answer, std::string& document)
{
    if (!HasUpdateKeys(keys)) {
        document = answer;
        return 1;
    }
    std::string signedPart;
    std::string signature;
    if (!SplitSignedAnswer(answer, signedPart, signature) ||
        !IsSignedByAnyKey(keys, signedPart, signature, VerifyP256WithCng, nullptr)) {
        return 0;
    }
    document.swap(signedPart);
    return 1;
}
