// The panel's screen. The legend here and the operator's guide say the same things.
#include "screen.h"

#include <ncurses.h>

namespace panel {
namespace {

constexpr int kWantedColumns = 100, kWantedLines = 36;

constexpr const char* kLegend[] = {
    "Buttons  d distribute   c collect   e clear (held ~1 s until LED3 lights, let go, press "
    "again)",
    "         s shift: dismisses a result, cancels a running job   S shift held with the next "
    "button",
    "           (d/c/e become whole-stick jobs)   X shift held long: shutdown",
    "Sticks   <- -> Tab: slot   m master   u master+update   n empty   w with work   l labelled",
    "         a the student writes answers on the stick in the slot",
    "         t too small   f full   p pull   b put back   h hang   r resume   v folders/log   q "
    "quit",
};

void lamp(int y, int x, const char* name, const Lamp& l) {
    mvprintw(y, x, "[");
    if (l.lit) attron(A_BOLD | A_REVERSE);
    printw("%s", l.lit ? "*" : " ");
    if (l.lit) attroff(A_BOLD | A_REVERSE);
    printw("] %s", name);
}

void drawLeds(const View& view, double now) {
    const char* names[kFunctionLeds] = {"LED1 distribute", "LED2 collect", "LED3 clear",
                                        "LED4 shift"};
    mvprintw(2, 0, "Function LEDs");
    for (int i = 0; i < kFunctionLeds; ++i) lamp(2, 15 + 20 * i, names[i], view.function[i]);
    mvprintw(3, 2, "means: %s", patternInWords(view).c_str());
    // The board: the master's LED, then the students in two rows, 1-8 over 9-16.
    mvprintw(5, 0, "Stick LEDs");
    lamp(5, 12, "master", view.stick[0]);
    for (int slot = 1; slot < kSlots; ++slot) {
        const int row = slot <= 8 ? 5 : 6, column = (slot - 1) % 8;
        const std::string name =
            std::to_string(slot) + (view.stick[slot].blinking(now) ? "~" : " ");
        lamp(row, 25 + 8 * column, name.c_str(), view.stick[slot]);
    }
    mvprintw(7, 12, "(~ blinks: slow = working, fast = failed)");
}

void drawWords(const View& view, const Sticks& sticks, const Screen& screen) {
    mvprintw(9, 0, "slot code meaning          stick");
    mvprintw(9, 50, "slot code meaning          stick");
    for (int slot = 0; slot < kSlots; ++slot) {
        const int y = 10 + (slot <= 8 ? slot : slot - 9), x = slot <= 8 ? 0 : 50;
        const int code = view.word[slot];
        if (slot == screen.selected) attron(A_REVERSE);
        mvprintw(y, x, "%c%3d %4s %-16s %-.20s", slot == screen.selected ? '>' : ' ', slot,
                 view.wordsKnown ? std::to_string(code).c_str() : "?",
                 view.wordsKnown ? codeInWords(code) : "", sticks.note[slot].c_str());
        if (slot == screen.selected) attroff(A_REVERSE);
    }
}

void drawLower(const Screen& screen, int top) {
    const int rows = LINES - top - 1;
    if (rows < 2) return;
    const bool tree = screen.showTree;
    mvprintw(top, 0,
             tree ? "Folders of stick %d (v: back to the console log)" : "Console log /tmp/log.txt",
             screen.treeSlot);
    const auto lines = tailOf(tree ? Sticks::kTreeFile : "/tmp/log.txt", tree ? 400 : rows - 1);
    // Folders read top down in columns; the log shows its newest lines.
    const int columnWidth = 44;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int row = static_cast<int>(i) % (rows - 1), column = static_cast<int>(i) / (rows - 1);
        if (!tree && column > 0) break;
        if ((column + 1) * columnWidth > COLS && tree) break;
        mvprintw(top + 1 + row, tree ? column * columnWidth : 0, "%-.*s",
                 tree ? columnWidth - 1 : COLS - 1, lines[i].c_str());
    }
}

}   // namespace

void draw(const View& view, const Sticks& sticks, const Screen& screen, double now) {
    erase();
    mvprintw(0, 0, "stickdup front panel (simulated appliance)   daemon %s", screen.daemon.c_str());
    if (view.shutdownRan) printw("   shutdown script ran");
    if (view.rebootAsked) printw("   reboot asked");
    if (!view.updateLog.empty()) printw("   update applied");
    if (COLS < kWantedColumns || LINES < kWantedLines)
        mvprintw(1, 0, "(a terminal of %dx%d shows everything)", kWantedColumns, kWantedLines);
    drawLeds(view, now);
    drawWords(view, sticks, screen);
    int y = 20;
    for (const char* line : kLegend) mvprintw(y++, 0, "%s", line);
    mvprintw(y++, 0, "%s %s", screen.shiftArmed ? "[shift goes down with the next button]" : ">",
             screen.message.c_str());
    drawLower(screen, y + 1);
    refresh();
}

}   // namespace panel
