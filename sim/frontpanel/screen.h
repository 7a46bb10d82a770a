// Drawing the front panel with ncurses: LEDs in the board's order, the status
// words in words, the key legend, and the console log or one stick's folders.
#pragma once
#include <string>

#include "hands.h"
#include "view.h"

namespace panel {

struct Screen {
    int selected = 0;          // the slot the stick keys act on
    bool shiftArmed = false;   // shift goes down with the next button
    bool showTree = false;     // the lower part shows the selected stick's folders
    int treeSlot = 0;
    std::string message;
    std::string daemon;   // "running" or how it ended
};

void draw(const View& view, const Sticks& sticks, const Screen& screen, double now);

}   // namespace panel
