// libFuzzer target: any bytes as a property bag block and as the start of a settings file.
// The reader must never crash, hang or allocate beyond the input, and whatever it read must
// survive a round trip unchanged.

#include "propertybag.h"
#include "settingsfile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));

    PropertyBag bag;
    const bool clean = bag.setContents(input);
    PropertyBag again;
    if (!again.setContents(bag.contents()) || again.names() != bag.names())
        std::abort();
    for (const QString &name : bag.names()) {
        if (!(*again.value(name) == *bag.value(name)))
            std::abort();
    }
    if (clean && bag.contents() != input)
        std::abort(); // a block read without complaint is exactly what writing gives back

    const SettingsFile::Unwrapped file = SettingsFile::unwrap(input, qint64(size));
    if (file.block) {
        if (size > 0 && qint64(file.block->size()) + SettingsFile::HeaderSize > qint64(size))
            std::abort();
        PropertyBag fromFile;
        fromFile.setContents(*file.block);
    }
    return 0;
}
