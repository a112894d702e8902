#pragma once
// One entry's data, read from the archive and checked: decrypted (traditional encryption by
// the library, WinZip AES here), decoded (deflate by ISA-L with large buffers, the methods
// of EntryDecoder by their own decoders, anything else the library reads, as bzip2, by its
// decoder) and written to a file or kept in memory.
//
// Guarantees: an attempt is Done only when the data holds exactly the recorded size and
// matches its CRC-32 (and, under AES, its authentication code; a small AES entry is checked
// whole before any of it is decoded, so a wrong password never reaches the decoders). Data
// that fails its checks is reported as the entry's damage, or, under encryption, as a
// password that passed its check but may still be wrong (Unconfirmed). Every buffer that
// held decrypted data is wiped before it is given back. A cancel is honoured between two
// pieces of output.

#include "unzipentry.h"
#include "unzipsecrets.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct inflate_state;

namespace pnvzip {
class EntryDecoder;
}

namespace pnvzip::unzip {

class EntryReader
{
public:
    // `advance` hears of every piece of the entry's data taken; write failures name
    // `folderShown`.
    EntryReader(ZipQuery *query, QString folderShown, std::function<void(const Entry &, size_t)> advance);
    ~EntryReader();
    EntryReader(const EntryReader &) = delete;
    EntryReader &operator=(const EntryReader &) = delete;

    // One pass over the data of the entry `e` of `za`, decrypted with `password` where it is
    // encrypted, into the file `out` (runs of zeros become holes; `*endsInHole` tells
    // whether the data ended in one) or appended to `memory`; `*total` counts the bytes.
    Outcome read(zip_t *za, const Entry &e, const Secret &password, int out, std::string *memory, bool *endsInHole,
                 zip_uint64_t *total, Failure *f);

private:
    ZipQuery *m_query;
    QString m_folderShown;
    std::function<void(const Entry &, size_t)> m_advance;
    std::vector<char> m_buffer;
    std::vector<unsigned char> m_input;
    std::unique_ptr<inflate_state> m_inflate;
    std::unique_ptr<EntryDecoder> m_decoder; // methods other than store, deflate and bzip2
};

} // namespace pnvzip::unzip
