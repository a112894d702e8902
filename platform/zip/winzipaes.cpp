#include "winzipaes.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <cstring>

namespace pnvzip {

namespace {
constexpr int Rounds = 1000;
constexpr size_t Block = 16;
constexpr size_t StreamBlocks = 4096; // key stream made 64 KiB at a time
} // namespace

struct WinZipAes::State
{
    EVP_CIPHER_CTX *cipher = nullptr;
    EVP_MAC *mac = nullptr;
    EVP_MAC_CTX *macCtx = nullptr;
    uint64_t counter = 0;
    unsigned char stream[StreamBlocks * Block];
    unsigned char counters[StreamBlocks * Block];
    size_t streamUsed = sizeof stream; // all used: make more first

    ~State()
    {
        EVP_CIPHER_CTX_free(cipher);
        EVP_MAC_CTX_free(macCtx);
        EVP_MAC_free(mac);
        OPENSSL_cleanse(stream, sizeof stream);
    }
    bool refill()
    {
        std::memset(counters, 0, sizeof counters);
        for (size_t i = 0; i < StreamBlocks; ++i) {
            uint64_t c = ++counter;
            for (size_t b = 0; b < 8; ++b, c >>= 8)
                counters[i * Block + b] = static_cast<unsigned char>(c & 0xff);
        }
        int produced = 0;
        if (EVP_EncryptUpdate(cipher, stream, &produced, counters, int(sizeof counters)) != 1
            || size_t(produced) != sizeof stream)
            return false;
        streamUsed = 0;
        return true;
    }
};

size_t WinZipAes::saltLength(int strength)
{
    switch (strength) {
    case 1: return 8;
    case 2: return 12;
    case 3: return 16;
    default: return 0;
    }
}

WinZipAes::WinZipAes() : d(std::make_unique<State>()) {}

WinZipAes::~WinZipAes() = default;

bool WinZipAes::start(int strength, const char *password, size_t passwordLength, const unsigned char *salt,
                      const unsigned char *verifier, bool *failed)
{
    *failed = false;
    const size_t saltSize = saltLength(strength);
    const size_t keySize = saltSize * 2; // 16, 24 or 32 bytes
    const EVP_CIPHER *cipher = strength == 1 ? EVP_aes_128_ecb() : strength == 2 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
    if (saltSize == 0) {
        *failed = true;
        return false;
    }
    unsigned char keys[2 * 32 + VerifierLength];
    const size_t derived = 2 * keySize + VerifierLength;
    struct Wipe {
        unsigned char *p;
        size_t n;
        ~Wipe() { OPENSSL_cleanse(p, n); }
    } wipe{keys, sizeof keys};
    if (PKCS5_PBKDF2_HMAC_SHA1(password, int(passwordLength), salt, int(saltSize), Rounds, int(derived), keys) != 1) {
        *failed = true;
        return false;
    }
    if (std::memcmp(keys + 2 * keySize, verifier, VerifierLength) != 0)
        return false;

    d->cipher = EVP_CIPHER_CTX_new();
    d->mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    d->macCtx = d->mac ? EVP_MAC_CTX_new(d->mac) : nullptr;
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_construct_end()};
    if (!d->cipher || !d->macCtx || EVP_EncryptInit_ex(d->cipher, cipher, nullptr, keys, nullptr) != 1
        || EVP_CIPHER_CTX_set_padding(d->cipher, 0) != 1
        || EVP_MAC_init(d->macCtx, keys + keySize, keySize, params) != 1) {
        *failed = true;
        return false;
    }
    return true;
}

bool WinZipAes::decrypt(unsigned char *data, size_t size)
{
    if (EVP_MAC_update(d->macCtx, data, size) != 1)
        return false;
    while (size > 0) {
        if (d->streamUsed == sizeof d->stream && !d->refill())
            return false;
        const size_t n = std::min(size, sizeof d->stream - d->streamUsed);
        const unsigned char *key = d->stream + d->streamUsed;
        for (size_t i = 0; i < n; ++i)
            data[i] ^= key[i];
        d->streamUsed += n;
        data += n;
        size -= n;
    }
    return true;
}

bool WinZipAes::authentic(const unsigned char *code)
{
    unsigned char full[EVP_MAX_MD_SIZE];
    size_t length = 0;
    if (EVP_MAC_final(d->macCtx, full, &length, sizeof full) != 1 || length < CodeLength)
        return false;
    return CRYPTO_memcmp(full, code, CodeLength) == 0;
}

} // namespace pnvzip
