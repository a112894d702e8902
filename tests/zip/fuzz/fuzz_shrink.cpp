// libFuzzer target of the Shrink decoder (see fuzzstreams.h for the input's layout). A
// finished stream never holds more than a code's string past the recorded size.

#include "fuzzstreams.h"
#include "shrink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static pnvzip::ShrinkDecoder shrink;
    fuzzstreams::Input in;
    if (!fuzzstreams::parse(data, size, &in))
        return 0;
    const fuzzstreams::Run run = fuzzstreams::check(
        [&](const auto &read, const auto &write) { return shrink.decode(in.size, read, write); }, in);
    if (run.result == fuzzstreams::Result::Finished && run.out.size() > in.size + 8193)
        std::abort();
    return 0;
}
