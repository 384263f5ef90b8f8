#pragma once

#include <windows.h>

class WideString;

// Purpose bytes of the identifier, chosen by the caller.
constexpr BYTE MACHINE_ID_UPDATE = 4;
constexpr BYTE MACHINE_ID_REPORT = 2;

constexpr unsigned MACHINE_ID_SIZE = 8;
constexpr unsigned MACHINE_ADDRESS_SIZE = 6;

// Computes the identifier of this computer for a purpose and formats it as
// "XXXX-XXXX-XXXX-XXXX". Never fails: a source that cannot be read
// contributes 0. Answers 1, or 0 when the text cannot be stored.
int MachineId(BYTE purpose, WideString& text);

// The arithmetic of the identifier as functions of plain values.

// Sum modulo 256 of the low bytes of the text's characters.
BYTE TextByteSum(const wchar_t* text);
// Exclusive-or of the low bytes of the text's characters.
BYTE TextByteXor(const wchar_t* text);
// Minor version in the high nibble, major version in the low one.
BYTE OsVersionByte(DWORD major, DWORD minor);
// Exclusive-or of the serial number's four bytes.
BYTE VolumeSerialDigest(DWORD serial);
// A non-empty text wins (its byte xor); otherwise the exclusive-or of the
// six address bytes.
BYTE NetworkAddressDigest(const wchar_t* text, const BYTE* address);

// The digests of the five machine properties.
struct MachineDigests
{
    BYTE productId = 0;
    BYTE osVersion = 0;
    BYTE systemVolume = 0;
    BYTE networkAddress = 0;
    BYTE disks = 0;
};

// Lays out the eight identifier bytes: the constant 0x10, the digests, the
// purpose and the check byte.
void ComposeMachineId(const MachineDigests& digests, BYTE purpose, BYTE* bytes);
// Exclusive-or of the complements of the first seven bytes.
BYTE MachineIdCheckByte(const BYTE* bytes);
// The four little-endian words of the bytes as "%04X-%04X-%04X-%04X".
int FormatMachineId(const BYTE* bytes, WideString& text);
