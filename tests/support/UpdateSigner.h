#pragma once

// A throwaway ECDSA P-256 key pair made through CNG for one test run, that
// signs update answers the way the release script does with openssl: the
// DER signature, base64, as the answer's last line.

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <string>

#include "update/UpdateRules.h"

class UpdateSigner
{
public:
    UpdateSigner()
    {
        if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) ||
            BCryptGenerateKeyPair(algorithm_, &key_, 256, 0) || BCryptFinalizeKeyPair(key_, 0)) {
            return;
        }
        BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
        ULONG size = 0;
        if (BCryptExportKey(key_, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof(blob), &size, 0) ||
            size != sizeof(blob)) {
            return;
        }
        // SubjectPublicKeyInfo: id-ecPublicKey, prime256v1, the point.
        static const BYTE prefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                      0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                      0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
        std::string der(reinterpret_cast<const char*>(prefix), sizeof(prefix));
        der.append(reinterpret_cast<const char*>(blob) + sizeof(BCRYPT_ECCKEY_BLOB), 64);
        publicKey_ = Base64(der);
    }
    ~UpdateSigner()
    {
        if (key_)
            BCryptDestroyKey(key_);
        if (algorithm_)
            BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
    UpdateSigner(const UpdateSigner&) = delete;
    UpdateSigner& operator=(const UpdateSigner&) = delete;

    bool IsReady() const { return !publicKey_.empty(); }
    // The base64 text of the PEM public key, as the build embeds it.
    const char* PublicKey() const { return publicKey_.c_str(); }

    // The answer with its signature line appended.
    std::string Signed(const std::string& answer) const
    {
        return answer + "<!--tessel-signature:" + Base64(SignatureDer(answer)) + "-->\n";
    }

private:
    // The DER signature of the bytes.
    std::string SignatureDer(const std::string& bytes) const
    {
        BYTE digest[SHA256_SIZE];
        Sha256Of(bytes.data(), bytes.size(), digest);
        ULONG size = 0;
        BYTE raw[64];
        if (BCryptSignHash(key_, nullptr, digest, 32, raw, sizeof(raw), &size, 0) || size != 64)
            return std::string();
        std::string sequence = DerInteger(raw) + DerInteger(raw + 32);
        return std::string("\x30", 1) + static_cast<char>(sequence.size()) + sequence;
    }
    // Through crypt32, on one line.
    static std::string Base64(const std::string& bytes)
    {
        const BYTE* data = reinterpret_cast<const BYTE*>(bytes.data());
        const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
        DWORD size = 0;
        CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &size);
        std::string text(size, '\0');
        CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, &text[0], &size);
        text.resize(size);
        return text;
    }

    // The minimal DER INTEGER of a 32-byte unsigned number.
    static std::string DerInteger(const BYTE* value)
    {
        int skip = 0;
        while (skip < 31 && value[skip] == 0)
            ++skip;
        std::string content(reinterpret_cast<const char*>(value) + skip, 32 - skip);
        if (static_cast<BYTE>(content[0]) & 0x80)
            content.insert(content.begin(), '\0');
        return std::string("\x02", 1) + static_cast<char>(content.size()) + content;
    }

    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_KEY_HANDLE key_ = nullptr;
    std::string publicKey_;
};

// The maker's current and next key, the list a build holds for them, and a
// stranger's key.
struct UpdateKeyRing
{
    UpdateSigner current;
    UpdateSigner next;
    UpdateSigner stranger;
    const char* keys[3] = {current.PublicKey(), next.PublicKey(), nullptr};

    bool IsReady() const { return current.IsReady() && next.IsReady() && stranger.IsReady(); }
};

// A SHA-256 digest as lower-case hex digits.
inline std::string HexDigest(const BYTE (&digest)[SHA256_SIZE])
{
    std::string text;
    for (BYTE b : digest) {
        text += "0123456789abcdef"[b >> 4];
        text += "0123456789abcdef"[b & 15];
    }
    return text;
}

inline std::string HexSha256(const std::string& bytes)
{
    BYTE digest[SHA256_SIZE];
    Sha256Of(bytes.data(), bytes.size(), digest);
    return HexDigest(digest);
}
