#include "app/ButtonBarLayout.h"

#include <cstddef>

TButtonBarPositions ButtonBarLayout(bool Small, int BarTop) {
    // From the open-folder button onwards each button's distance to the one before.
    const int step = Small ? 43 : 46;
    const int offsets[] = {0, step, step, 36, 33, step, step};
    TButtonBarPositions p{};
    int left = Small ? 20 : 179;
    for (size_t i = 0; i < p.RowLefts.size(); ++i) {
        left += offsets[i];
        p.RowLefts[i] = left;
    }
    p.HelpLeft = Small ? 311 : 604;
    p.Top = BarTop + 5;
    return p;
}
