#include "cli/BrowseTerminal.h"

#include <curses.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/BrowseScreen.h"
#include "cli/CliSupport.h"
#include "cli/Output.h"

namespace corvina::cli {

std::optional<BrowseCommand> CommandOfKey(int key) {
    switch (key) {
        case KEY_UP: case 'k': return BrowseCommand::Up;
        case KEY_DOWN: case 'j': return BrowseCommand::Down;
        case KEY_PPAGE: return BrowseCommand::PageUp;
        case KEY_NPAGE: return BrowseCommand::PageDown;
        case KEY_HOME: return BrowseCommand::Home;
        case KEY_END: return BrowseCommand::End;
        case KEY_ENTER: case '\n': case '\r': case KEY_RIGHT: case 'l': return BrowseCommand::Open;
        // Terminals send DEL or BS for Backspace, as their settings say.
        case KEY_LEFT: case 'h': case KEY_BACKSPACE: case 127: case 8: return BrowseCommand::Back;
        case 's': return BrowseCommand::SortSize;
        case 'n': return BrowseCommand::SortName;
        case 'C': return BrowseCommand::SortFiles;
        case 'g': return BrowseCommand::SortGrowth;
        case 'a': return BrowseCommand::ToggleBasis;
        case 'f': return BrowseCommand::Follow;
        case 't': return BrowseCommand::Trend;
        case 'i': return BrowseCommand::Info;
        case '?': return BrowseCommand::Help;
        case 27: return BrowseCommand::Close;  // Esc
        case 'q': return BrowseCommand::Quit;
        default: return std::nullopt;
    }
}

namespace {

enum Pair : short { kTitlePair = 1, kBarPair, kGrewPair, kShrankPair, kMessagePair };

// The screen is given back to the shell whichever way the loop ends.
class Session {
public:
    explicit Session(SCREEN* screen) : screen_(screen) {}
    ~Session() {
        endwin();
        delscreen(screen_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

private:
    SCREEN* screen_;
};

// Colour only where the terminal has it and the user did not turn it off
// (NO_COLOR set and not empty); every style reads without it too: growth
// carries its sign, the selection is reversed.
bool StartColour() {
    const char* noColour = std::getenv("NO_COLOR");
    if ((noColour != nullptr && *noColour != '\0') || !has_colors() || start_color() == ERR) return false;
    use_default_colors();
    init_pair(kTitlePair, COLOR_CYAN, -1);
    init_pair(kBarPair, COLOR_BLUE, -1);
    init_pair(kGrewPair, COLOR_RED, -1);
    init_pair(kShrankPair, COLOR_GREEN, -1);
    init_pair(kMessagePair, COLOR_YELLOW, -1);
    return true;
}

attr_t AttributesOf(CellStyle style, bool colour) {
    const auto pair = [colour](short number) { return colour ? COLOR_PAIR(number) : A_NORMAL; };
    switch (style) {
        case CellStyle::Title: return A_BOLD | pair(kTitlePair);
        case CellStyle::Heading: return A_BOLD | A_UNDERLINE;
        case CellStyle::Bar: return pair(kBarPair);
        case CellStyle::Grew: return pair(kGrewPair);
        case CellStyle::Shrank: return pair(kShrankPair);
        case CellStyle::Message: return A_BOLD | pair(kMessagePair);
        case CellStyle::Keys: return A_REVERSE;
        case CellStyle::Normal: break;
    }
    return A_NORMAL;
}

void Draw(const BrowseModel& model, bool utf8, bool colour) {
    int height = 0, width = 0;
    getmaxyx(stdscr, height, width);
    const std::vector<ScreenLine> lines = RenderBrowser(model, width, height, utf8);
    erase();
    for (int y = 0; y < static_cast<int>(lines.size()); ++y) {
        move(y, 0);
        for (const ScreenRun& run : lines[static_cast<std::size_t>(y)].Runs) {
            attrset(AttributesOf(run.Style, colour) | (lines[static_cast<std::size_t>(y)].Selected ? A_REVERSE : 0));
            // The bottom right cell cannot be written without a scroll: ncurses
            // refuses it and the blank it would hold is no loss.
            addnstr(run.Text.c_str(), static_cast<int>(run.Text.size()));
        }
    }
    attrset(A_NORMAL);
    refresh();
}

int Browse(BrowseModel& model, bool utf8) {
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    curs_set(0);
    set_escdelay(25);
    const bool colour = StartColour();
    for (;;) {
        model.SetPageRows(BrowseListRows(LINES));
        Draw(model, utf8, colour);
        errno = 0;
        const int key = getch();
        if (key == KEY_RESIZE || (key == ERR && errno == EINTR)) continue;
        // Input that has ended (a closed terminal) ends the browser too.
        if (key == ERR) return kExitFailed;
        const std::optional<BrowseCommand> command = CommandOfKey(key);
        if (command && !model.Handle(*command)) return kExitOk;
    }
}

}  // namespace

int RunBrowserTerminal(BrowseModel& model) {
    const bool utf8 = std::string_view(nl_langinfo(CODESET)) == "UTF-8";
    SCREEN* screen = newterm(nullptr, stdout, stdin);
    if (screen == nullptr) {
        const char* term = std::getenv("TERM");
        PrintMessage("browse cannot drive this terminal (TERM=" + std::string(term != nullptr ? term : "") + ")");
        return kExitUsage;
    }
    {
        // A terminal that cannot put the cursor where a line goes (TERM=dumb)
        // would get every line written over the last one.
        Session session(screen);
        const char* cursorAddress = tigetstr(const_cast<char*>("cup"));
        if (cursorAddress != nullptr && cursorAddress != reinterpret_cast<char*>(-1)) return Browse(model, utf8);
    }
    const char* term = std::getenv("TERM");
    PrintMessage("browse needs a terminal that can move its cursor; TERM=" + std::string(term != nullptr ? term : "") +
                 " cannot");
    return kExitUsage;
}

}  // namespace corvina::cli
