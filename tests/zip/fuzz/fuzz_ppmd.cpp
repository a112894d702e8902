// libFuzzer target of the PPMd decoder (see fuzzstreams.h for the input's layout; the
// stream starts with its header word). Streams asking for more than 8 MiB of model memory
// are refused, which keeps runs quick; arenas that small fill up soon, so restarts and
// pruning of the model are reached too. A finished stream holds exactly the recorded
// size, and no stream more.

#include "fuzzstreams.h"
#include "ppmd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static pnvzip::PpmdDecoder ppmd;
    ppmd.setMemoryLimit(uint32_t(8) << 20);
    fuzzstreams::Input in;
    if (!fuzzstreams::parse(data, size, &in))
        return 0;
    const fuzzstreams::Run run = fuzzstreams::check(
        [&](const auto &read, const auto &write) { return ppmd.decode(in.size, read, write); }, in);
    if (run.out.size() > in.size || (run.result == fuzzstreams::Result::Finished && run.out.size() != in.size))
        std::abort();
    return 0;
}
