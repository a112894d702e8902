// libFuzzer target of the Implode decoder (see fuzzstreams.h for the input's layout; bits
// 3 and 4 of the first byte choose the 8 KiB window and the literal code). A finished
// stream holds exactly the recorded size, and no stream more.

#include "fuzzstreams.h"
#include "implode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static pnvzip::ImplodeDecoder implode;
    fuzzstreams::Input in;
    if (!fuzzstreams::parse(data, size, &in))
        return 0;
    pnvzip::ImplodeDecoder::Options options;
    options.largeWindow = in.choice & 1;
    options.literalTree = in.choice & 2;
    const fuzzstreams::Run run = fuzzstreams::check(
        [&](const auto &read, const auto &write) { return implode.decode(options, in.size, read, write); }, in);
    if (run.out.size() > in.size || (run.result == fuzzstreams::Result::Finished && run.out.size() != in.size))
        std::abort();
    return 0;
}
