#pragma once
// Decryption of WinZip AES entries (AE-1 and AE-2) with OpenSSL's libcrypto.
//
// An entry's stored data is: salt (8, 12 or 16 bytes), a 2-byte password verifier, the
// encrypted data, and a 10-byte authentication code (HMAC-SHA1 of the encrypted data).
// Keys come from PBKDF2-HMAC-SHA1 (1000 rounds); the data is AES in counter mode with a
// little-endian counter starting at 1.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pnvzip {

class WinZipAes
{
public:
    static constexpr size_t VerifierLength = 2;
    static constexpr size_t CodeLength = 10;
    // The salt length for a key strength (1: AES-128, 2: AES-192, 3: AES-256); 0 if unknown.
    static size_t saltLength(int strength);

    WinZipAes();
    ~WinZipAes(); // wipes the keys
    WinZipAes(const WinZipAes &) = delete;
    WinZipAes &operator=(const WinZipAes &) = delete;

    // Derives the keys for `password` and the entry's salt. False when the password
    // verifier does not match (a wrong password) or the library failed (`*failed` set).
    bool start(int strength, const char *password, size_t passwordLength, const unsigned char *salt,
               const unsigned char *verifier, bool *failed);
    // Authenticates, then decrypts `size` bytes in place. False if the library failed.
    bool decrypt(unsigned char *data, size_t size);
    // True when `code` is the authentication code of all the data decrypted.
    bool authentic(const unsigned char *code);

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace pnvzip
