// Where the main window's bar puts its buttons: one place for the window and for the
// tests that click them.
#pragma once

#include <array>

// Where the bar's buttons stand, in the window's client area: the left edges of the row
// from the open-folder button to the record button (the stop-recording button stands on
// the record button), the help button's, and their common top edge, 5 pixels into the
// bar whose top edge is BarTop. Small: the bar of a picture narrower than 640 pixels.
struct TButtonBarPositions {
    // gbOpenFolder, gbPreview, gbForward, gbLens, gbBackward, gbSnap, gbRecord.
    std::array<int, 7> RowLefts;
    int HelpLeft;
    int Top;
};
TButtonBarPositions ButtonBarLayout(bool Small, int BarTop);

// A bar button's size (the lens and help buttons are narrower).
constexpr int BarButtonWidth = 29;
constexpr int BarButtonHeight = 32;
