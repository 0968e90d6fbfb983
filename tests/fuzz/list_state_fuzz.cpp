// SPDX-License-Identifier: MIT
#include "fuzz/fuzz_target.h"
#include "ui/list_state.h"

#include <cstdlib>

using namespace zpmoni;

// A saved list-state block for a list of 0 to 15 columns (the first byte), and the tint of a
// background colour. What a block restores is written back the same.
FUZZ_TARGET(FuzzListState)
{
    if (size < 5)
        return 0;
    (void)SortTint({data[1], data[2], data[3]}, data[4] % 33);
    const size_t columns = data[0] % 16;
    const auto restored = DecodeListState({data + 1, size - 1}, columns);
    if (!restored || restored->columns.size() != columns || !restored->applyOrder)
        return 0;
    ListState state{restored->sortColumn, restored->columns};
    const auto again = DecodeListState(EncodeListState(state), columns);
    if (!again || again->columns != restored->columns || again->sortColumn != restored->sortColumn)
        std::abort();
    return 0;
}
