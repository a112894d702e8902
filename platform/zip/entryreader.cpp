#include "entryreader.h"

#include "entrydecoder.h"
#include "fsutil.h"
#include "winzipaes.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include <algorithm>
#include <cstring>

namespace pnvzip::unzip {

EntryReader::EntryReader(ZipQuery *query, QString folderShown, std::function<void(const Entry &, size_t)> advance)
    : m_query(query), m_folderShown(std::move(folderShown)), m_advance(std::move(advance))
{
}

EntryReader::~EntryReader()
{
    // They may hold decrypted data.
    wipeVector(m_buffer);
    wipeVector(m_input);
    if (m_inflate)
        wipeBytes(m_inflate.get(), sizeof(inflate_state));
}

// One pass over the entry's data. Stored and deflated entries are read raw and inflated
// here (ISA-L, large buffers; CRC-32 by libdeflate), the methods of EntryDecoder with
// their decoders, after decryption: traditional by libzip, AES here; any other method
// (bzip2) goes through libzip's own decoder.
Outcome EntryReader::read(zip_t *za, const Entry &e, const Secret &password, int out, std::string *memory,
                          bool *endsInHole, zip_uint64_t *total, Failure *f)
{
    constexpr size_t OutputSize = 1024 * 1024;
    constexpr size_t InputSize = 256 * 1024;
    const bool deflated = e.method == ZIP_CM_DEFLATE;
    const bool decoded = EntryDecoder::reads(e.method);
    const bool raw = deflated || e.method == ZIP_CM_STORE || decoded;
    const bool traditional = e.cipher == Cipher::Traditional;
    zip_file_t *zf = e.cipher == Cipher::Aes ? zip_fopen_index(za, e.index, ZIP_FL_ENCRYPTED)
                   : traditional ? zip_fopen_index_encrypted(za, e.index, raw ? ZIP_FL_COMPRESSED : 0, password.c_str())
                                 : zip_fopen_index(za, e.index, raw ? ZIP_FL_COMPRESSED : 0);
    if (!zf) {
        if (zip_error_code_zip(zip_get_error(za)) == ZIP_ER_WRONGPASSWD)
            return Outcome::Rejected;
        *f = readFailure(zip_get_error(za), e);
        return Outcome::Failed;
    }
    struct Closer {
        zip_file_t *zf;
        ~Closer() { zip_fclose(zf); }
    } closer{zf};
    // A failure of the data itself; under encryption it may be a wrong password that passed the
    // password check (asked about once).
    auto bad = [&](Failure failure) {
        *f = std::move(failure);
        return e.cipher != Cipher::None ? Outcome::Unconfirmed : Outcome::Failed;
    };
    auto damaged = [&](const QString &what) {
        return Failure{NotAnArchive, QStringLiteral("“%1” in the archive is damaged: %2.").arg(e.name, what)};
    };
    auto readFailed = [&]() {
        const Failure failure = readFailure(zip_file_get_error(zf), e);
        const int code = zip_error_code_zip(zip_file_get_error(zf));
        if (code == ZIP_ER_READ || code == ZIP_ER_SEEK || code == ZIP_ER_MEMORY) {
            *f = failure;
            return Outcome::Failed;
        }
        return bad(failure);
    };

    // AES: the salt and verifier first, the authentication code after the data.
    std::unique_ptr<WinZipAes> aes;
    zip_uint64_t aesLeft = 0;
    if (e.cipher == Cipher::Aes) {
        const size_t saltLength = WinZipAes::saltLength(e.aesStrength);
        unsigned char head[16 + WinZipAes::VerifierLength];
        const size_t headLength = saltLength + WinZipAes::VerifierLength;
        if (e.compressedSize < headLength + WinZipAes::CodeLength
            || zip_fread(zf, head, headLength) != zip_int64_t(headLength)) {
            *f = damaged(QStringLiteral("its encrypted data is cut short"));
            return Outcome::Failed;
        }
        aes = std::make_unique<WinZipAes>();
        bool failed = false;
        if (!aes->start(e.aesStrength, password.c_str(), password.size(), head, head + saltLength, &failed)) {
            if (!failed)
                return Outcome::Rejected;
            *f = {InternalError, QStringLiteral("The decryption library failed on “%1”.").arg(e.name)};
            return Outcome::Failed;
        }
        aesLeft = e.compressedSize - headLength - WinZipAes::CodeLength;
    }
    bool decryptFailed = false;
    // A small AES entry is decrypted whole and its authentication code checked before it is
    // decoded: a wrong password that passed the 2-byte check never reaches the decoders.
    const bool verifyFirst = aes && aesLeft <= MaxInMemory;
    std::string verified;
    struct VerifiedGuard {
        std::string &bytes;
        ~VerifiedGuard() { wipeString(bytes); }
    } verifiedGuard{verified};
    size_t verifiedAt = 0;
    bool fromVerified = false;
    // The entry's stored bytes, decrypted.
    auto fetch = [&](void *buffer, size_t size) -> zip_int64_t {
        if (fromVerified) {
            size = std::min(size, verified.size() - verifiedAt);
            std::memcpy(buffer, verified.data() + verifiedAt, size);
            verifiedAt += size;
            return zip_int64_t(size);
        }
        if (!aes)
            return zip_fread(zf, buffer, size);
        size = size_t(std::min<zip_uint64_t>(size, aesLeft));
        if (size == 0)
            return 0;
        const zip_int64_t n = zip_fread(zf, buffer, size);
        if (n > 0) {
            aesLeft -= zip_uint64_t(n);
            decryptFailed = !aes->decrypt(static_cast<unsigned char *>(buffer), size_t(n));
            if (decryptFailed)
                return -1;
        }
        return n;
    };
    // Reads the authentication code after the encrypted data and checks it.
    auto authenticate = [&] {
        unsigned char code[WinZipAes::CodeLength];
        if (aesLeft > 0 || zip_fread(zf, code, sizeof code) != zip_int64_t(sizeof code))
            return bad(damaged(QStringLiteral("its encrypted data is cut short")));
        // A wrong password passes the 2-byte check once in 65,536 tries: a code that does not
        // match may be that, and is asked about as a wrong password once.
        if (!aes->authentic(code))
            return bad({ChecksumMismatch, QStringLiteral("“%1” in the archive is damaged: its authentication code "
                                                         "does not match.")
                                              .arg(e.name)});
        return Outcome::Done;
    };
    if (verifyFirst) {
        verified.resize(size_t(aesLeft));
        size_t got = 0;
        while (got < verified.size()) {
            const zip_int64_t n = fetch(verified.data() + got, verified.size() - got);
            if (n < 0) {
                if (!decryptFailed)
                    return readFailed();
                *f = {InternalError, QStringLiteral("The decryption library failed on “%1”.").arg(e.name)};
                return Outcome::Failed;
            }
            if (n == 0)
                break;
            got += size_t(n);
        }
        if (const Outcome outcome = authenticate(); outcome != Outcome::Done)
            return outcome;
        fromVerified = true;
    }

    if (m_buffer.size() < OutputSize)
        m_buffer.resize(OutputSize);
    quint32 crc = 0;
    bool tooLong = false;
    // Takes `n` bytes of the entry's uncompressed data; false with `f` set on an error.
    auto take = [&](const char *data, size_t n) {
        *total += n;
        if (*total > e.size) {
            tooLong = true; // more data than recorded: reported below, unwritten
            return false;
        }
        crc = quint32(libdeflate_crc32(crc, data, n));
        if (memory) {
            memory->append(data, n);
        } else if (const int err = writeWithHoles(out, data, n, endsInHole)) {
            *f = writeFailure(err, QStringLiteral("“%1”").arg(e.name), m_folderShown);
            return false;
        }
        m_advance(e, n);
        return !stopRequested(m_query, f);
    };
    auto internal = [&] {
        *f = {InternalError, QStringLiteral("The decryption library failed on “%1”.").arg(e.name)};
        return Outcome::Failed;
    };

    bool stopped = false; // by the caller, a write failure or too much data
    if (decoded) {
        if (!m_decoder)
            m_decoder = std::make_unique<EntryDecoder>();
        switch (m_decoder->decode(
            e.method, e.flags, e.size,
            [&](unsigned char *to, size_t capacity) { return std::ptrdiff_t(fetch(to, capacity)); },
            [&](const unsigned char *data, size_t n) { return take(reinterpret_cast<const char *>(data), n); })) {
        case stream::Result::Finished:
        case stream::Result::Truncated: // cut short: the size check reports it
            break;
        case stream::Result::Stopped:
            stopped = true;
            break;
        case stream::Result::ReadFailed:
            return decryptFailed ? internal() : readFailed();
        case stream::Result::Damaged:
            return bad(damaged(QStringLiteral("its compressed data is invalid")));
        case stream::Result::Unsupported:
            // Under traditional encryption, possibly a wrong password's garbage.
            return bad({UnsupportedMethod, QStringLiteral("“%1” in the archive is compressed with %2 (method %3) "
                                                          "with settings this program cannot read, such as a "
                                                          "dictionary larger than it allows.")
                                               .arg(e.name, methodName(e.method))
                                               .arg(e.method)});
        }
    } else if (!deflated) {
        for (;;) {
            const zip_int64_t n = fetch(m_buffer.data(), m_buffer.size());
            if (n < 0)
                return decryptFailed ? internal() : readFailed();
            if (n == 0)
                break;
            if (!take(m_buffer.data(), size_t(n))) {
                stopped = true;
                break;
            }
        }
    } else {
        if (m_input.size() < InputSize)
            m_input.resize(InputSize);
        if (!m_inflate)
            m_inflate = std::make_unique<inflate_state>();
        inflate_state &state = *m_inflate;
        isal_inflate_init(&state);
        state.crc_flag = ISAL_DEFLATE;
        bool inputEnded = false;
        for (;;) {
            if (state.avail_in == 0 && !inputEnded) {
                const zip_int64_t n = fetch(m_input.data(), m_input.size());
                if (n < 0)
                    return decryptFailed ? internal() : readFailed();
                inputEnded = n == 0;
                state.next_in = m_input.data();
                state.avail_in = uint32_t(n);
            }
            state.next_out = reinterpret_cast<uint8_t *>(m_buffer.data());
            state.avail_out = uint32_t(m_buffer.size());
            const int r = isal_inflate(&state);
            if (r < 0)
                return bad(damaged(QStringLiteral("its compressed data is invalid")));
            const size_t produced = m_buffer.size() - state.avail_out;
            if (produced && !take(m_buffer.data(), produced)) {
                stopped = true;
                break;
            }
            if (state.block_state == ISAL_BLOCK_FINISH)
                break;
            if (produced == 0 && state.avail_in == 0 && inputEnded)
                break; // cut short: the size check reports it
        }
    }
    if (stopped && !tooLong)
        return Outcome::Failed;
    if (aes && !verifyFirst && !tooLong) {
        // Whatever follows the end of the compressed data is authenticated as well.
        while (aesLeft > 0) {
            const zip_int64_t n = fetch(m_input.empty() ? m_buffer.data() : reinterpret_cast<char *>(m_input.data()),
                                        m_input.empty() ? m_buffer.size() : m_input.size());
            if (n < 0)
                return decryptFailed ? internal() : readFailed();
            if (n == 0)
                break;
        }
        if (const Outcome outcome = authenticate(); outcome != Outcome::Done)
            return outcome;
    }
    if (tooLong)
        return bad({ChecksumMismatch, QStringLiteral("“%1” in the archive is damaged: it holds more than the %2 bytes "
                                                     "recorded.")
                                          .arg(e.name, groupedNumber(e.size))});
    if (*total != e.size)
        return bad({ChecksumMismatch, QStringLiteral("“%1” in the archive is damaged: it holds %2 bytes instead of %3.")
                                          .arg(e.name, groupedNumber(*total), groupedNumber(e.size))});
    if ((e.cipher != Cipher::Aes || e.aesCrc) && crc != e.crc)
        return bad({ChecksumMismatch, QStringLiteral("“%1” in the archive is damaged: its CRC-32 does not match.").arg(e.name)});
    return Outcome::Done;
}

} // namespace pnvzip::unzip
