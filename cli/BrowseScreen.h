#pragma once
// Draws a BrowseModel into lines of styled text, as many as the screen has,
// each exactly as wide as the screen: the terminal layer only puts them on
// it, and the tests read them without one.
//
// Lines: the database; the snapshot, the compare snapshot and the basis; the
// shown directory with its totals; column headings; one line per row (size,
// share of the directory with a bar, growth, files, name); last, the message
// or the keys. A panel takes the place of the headings and rows.
//
// On a terminal that is not UTF-8 (the C locale) every character beyond
// ASCII is written as \u{HHHH}, the escape names already use for
// characters that must not reach a terminal as they are, and the bar is
// drawn with "#".
//
// Error policy: nothing here fails.

#include <string>
#include <vector>

#include "cli/BrowseModel.h"

namespace corvina::cli {

enum class CellStyle { Normal, Title, Heading, Bar, Grew, Shrank, Message, Keys };

struct ScreenRun {
    std::string Text;
    CellStyle Style = CellStyle::Normal;
};

struct ScreenLine {
    std::vector<ScreenRun> Runs;
    bool Selected = false;
};

// Lines of a screen of height lines that list rows.
int BrowseListRows(int height);

std::vector<ScreenLine> RenderBrowser(const BrowseModel& model, int width, int height, bool utf8);

// The lines' text, one per line, trailing blanks dropped.
std::string ScreenText(const std::vector<ScreenLine>& lines);

// text in at most columns columns of the terminal; what is cut ends in "…"
// ("~" outside UTF-8). Text beyond ASCII becomes \u{HHHH} outside UTF-8.
std::string FitText(const std::string& text, int columns, bool utf8);

}  // namespace corvina::cli
