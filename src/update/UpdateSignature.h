#pragma once

#include <windows.h>

#include <string>

// The update answer's signature: the maker signs the answer's exact bytes
// with an ECDSA P-256 key (SHA-256), and the program holds the public keys
// it trusts. The signature travels as the answer's last line,
//
//   <!--tessel-signature:BASE64-->
//
// (the base64 of the DER signature openssl writes), optionally followed by
// one line end. The signed bytes are everything before that line; being an
// XML comment, it leaves the document readable to builds that hold no key.

// Public keys: a null-terminated list of the base64 texts of PEM public
// keys (DER SubjectPublicKeyInfo). A null or empty list means the build
// trusts no key and answers are read unsigned.
using UpdateKeyList = const char* const*;
int HasUpdateKeys(UpdateKeyList keys);

constexpr unsigned P256_POINT_SIZE = 64;     // X then Y, big-endian
constexpr unsigned P256_SIGNATURE_SIZE = 64; // r then s, big-endian

// RFC 4648 base64 with padding; 0 for any other character or a bad length.
int DecodeBase64(const char* text, size_t length, std::string& bytes);

// The point of a P-256 public key in SubjectPublicKeyInfo DER (uncompressed
// form only); 0 for any other key.
int P256PointOfPublicKey(const std::string& der, BYTE (&point)[P256_POINT_SIZE]);

// An ECDSA signature in strict DER (SEQUENCE of two positive INTEGERs of
// at most 32 significant bytes, nothing after it) as the fixed r then s.
int RawSignatureOfDer(const std::string& der, BYTE (&raw)[P256_SIGNATURE_SIZE]);

// Splits an answer into its signed bytes and the DER signature of its last
// line; 0 when the answer carries no well-formed signature line.
int SplitSignedAnswer(const std::string& answer, std::string& signedPart, std::string& signature);

// Checks one signature over a SHA-256 digest with one key; 1 when good.
using P256Verifier = int (*)(const BYTE (&point)[P256_POINT_SIZE], const BYTE (&digest)[32],
                             const BYTE (&signature)[P256_SIGNATURE_SIZE], void* context);

// 1 when any usable key of the list verifies the signature over the bytes.
int IsSignedByAnyKey(UpdateKeyList keys, const std::string& signedPart,
                     const std::string& signature, P256Verifier verify, void* context);

// The verifier over CNG (bcrypt.dll, loaded at run time); 0 where it is
// missing.
int VerifyP256WithCng(const BYTE (&point)[P256_POINT_SIZE], const BYTE (&digest)[32],
                      const BYTE (&signature)[P256_SIGNATURE_SIZE], void* context);

// The document of an answer: with keys, only the signed bytes of an answer
// that one of them signed (0 otherwise); without keys, the whole answer.
int OpenUpdateAnswer(UpdateKeyList keys, const std::string& answer, std::string& document);
