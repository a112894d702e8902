// libFuzzer target of the LZMA, XZ and Zstandard entry decoders over liblzma and libzstd
// (see fuzzstreams.h for the input's layout; bits 3 and 4 of the first byte choose LZMA,
// XZ or Zstandard). What is fuzzed is the engine's side: the LZMA header, the dictionary
// kept within the recorded size, the feeding and draining of the libraries, and the
// results they are mapped to. A finished LZMA stream never goes past the recorded size.

#include "fuzzstreams.h"
#include "lzmaentry.h"
#include "zstdentry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static pnvzip::LzmaEntryDecoder lzma;
    static pnvzip::ZstdEntryDecoder zstd;
    fuzzstreams::Input in;
    if (!fuzzstreams::parse(data, size, &in))
        return 0;
    const unsigned which = in.choice % 3;
    const fuzzstreams::Run run = fuzzstreams::check(
        [&](const auto &read, const auto &write) {
            if (which == 2)
                return zstd.decode(read, write);
            return lzma.decode(which == 0 ? pnvzip::LzmaEntryDecoder::Format::Lzma : pnvzip::LzmaEntryDecoder::Format::Xz,
                               in.size, read, write);
        },
        in, false);
    if (which == 0 && run.out.size() > in.size)
        std::abort();
    return 0;
}
