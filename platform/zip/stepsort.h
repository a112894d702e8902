#pragma once
// Sorting a long list in steps, asking between them whether to stop: runs of 65,536
// items are sorted, then merged in pairs, so no step takes long however many items
// there are, and the whole costs what one sort does.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

namespace pnvzip {

// Sorts `items` by `less`; false, with the items in no particular order, when `stop`
// answered true between two steps.
template<typename T, typename Less>
bool sortInSteps(std::vector<T> &items, Less less, const std::function<bool()> &stop)
{
    constexpr size_t Run = size_t(1) << 16;
    const auto at = [&](size_t i) { return items.begin() + std::ptrdiff_t(std::min(i, items.size())); };
    for (size_t start = 0; start < items.size(); start += Run) {
        std::sort(at(start), at(start + Run), less);
        if (stop && stop())
            return false;
    }
    for (size_t width = Run; width < items.size(); width *= 2) {
        for (size_t start = 0; start + width < items.size(); start += 2 * width) {
            std::inplace_merge(at(start), at(start + width), at(start + 2 * width), less);
            if (stop && stop())
                return false;
        }
    }
    return true;
}

} // namespace pnvzip
