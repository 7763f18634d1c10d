// Key material of the ciphers: the digest text that keys the current formats
// and the RC4-128 key of the legacy formats.
#pragma once

#include <string>

#include "crypto/md5.h"
#include "crypto/rc4.h"

namespace crypto {

// Lower-case hexadecimal MD5 of the text's ANSI bytes (32 characters); the
// empty text gives the empty digest text.
std::string DigestText(const std::wstring& text);

// RC4 keyed with the 32 ASCII characters of DigestText(keyText): the cipher
// of the sealed password record and of current-format files.
void InitCurrentRc4(Rc4& rc4, const std::wstring& keyText);

// The bytes the legacy key is hashed from: the ANSI bytes of the password,
// or, with the legacy-hash flag, the first N bytes of its UTF-16LE encoding
// where N is its length in characters (older stores depend on that half).
std::string LegacyHashInput(const std::wstring& password, bool legacyHash);

// The legacy formats' key: MD5 of LegacyHashInput, used as a 128-bit RC4
// key (what the Windows crypto service derives for RC4-128 from an MD5 hash).
Md5Digest LegacyKey(const std::wstring& password, bool legacyHash);
void InitLegacyRc4(Rc4& rc4, const std::wstring& password, bool legacyHash);

}  // namespace crypto
