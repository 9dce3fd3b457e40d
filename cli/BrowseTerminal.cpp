#include "cli/BrowseTerminal.h"

#include <curses.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

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

// Terminals that cannot move the cursor (TERM=dumb) get whole screens one
// after another, the selected line marked by ">" in a gutter of its own: each
// key prints the screen again, and the newest is the one in view.
class RawInput {
public:
    RawInput() {
        saved_ = ::tcgetattr(STDIN_FILENO, &mode_) == 0;
        termios raw = mode_;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (saved_) ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    ~RawInput() {
        if (saved_) ::tcsetattr(STDIN_FILENO, TCSANOW, &mode_);
    }
    RawInput(const RawInput&) = delete;
    RawInput& operator=(const RawInput&) = delete;

    // A key as getch() would return it; ERR at the end of input.
    int Key() {
        const int first = Byte(-1);
        if (first != 27) return first;
        // A lone Esc is a key; Esc [ or Esc O begins one of the keys below.
        const int second = Byte(50);
        if (second != '[' && second != 'O') return 27;
        switch (const int third = Byte(50)) {
            case 'A': return KEY_UP;
            case 'B': return KEY_DOWN;
            case 'C': return KEY_RIGHT;
            case 'D': return KEY_LEFT;
            case 'H': return KEY_HOME;
            case 'F': return KEY_END;
            default:
                if (third >= '0' && third <= '9' && Byte(50) == '~') {
                    return third == '5' ? KEY_PPAGE : third == '6' ? KEY_NPAGE : third == '1' ? KEY_HOME
                                                                   : third == '4' ? KEY_END : 0;
                }
                return 0;
        }
    }

private:
    // The next byte, waiting at most waitMs (-1: for ever); ERR for none.
    static int Byte(int waitMs) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        unsigned char c = 0;
        if (::poll(&in, 1, waitMs) <= 0 || ::read(STDIN_FILENO, &c, 1) != 1) return ERR;
        return c;
    }
    termios mode_{};
    bool saved_ = false;
};

// The terminal's size where it tells it, else 80 by 24.
std::pair<int, int> PlainSize() {
    winsize size{};
    const bool known = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 2 && size.ws_row > 0;
    return known ? std::pair<int, int>(size.ws_col, size.ws_row) : std::pair<int, int>(80, 24);
}

void DrawPlain(const BrowseModel& model, int width, int height, bool utf8) {
    const std::vector<ScreenLine> lines = RenderBrowser(model, width - 2, height, utf8);
    std::string text;
    for (const ScreenLine& line : lines) {
        std::string joined = line.Selected ? "> " : "  ";
        for (const ScreenRun& run : line.Runs) joined += run.Text;
        joined.erase(joined.find_last_not_of(' ') + 1);
        text += "\n" + joined;
    }
    WriteOut(text);
    FlushOut();
}

int BrowsePlain(BrowseModel& model, bool utf8) {
    RawInput input;
    for (;;) {
        const auto [width, height] = PlainSize();
        model.SetPageRows(BrowseListRows(height));
        DrawPlain(model, width, height, utf8);
        const int key = input.Key();
        if (key == ERR) return kExitFailed;
        const std::optional<BrowseCommand> command = CommandOfKey(key);
        if (command && !model.Handle(*command)) {
            WriteOut("\n");
            return kExitOk;
        }
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
        // would get every line written over the last one: it gets screens in
        // turn.
        Session session(screen);
        const char* cursorAddress = tigetstr(const_cast<char*>("cup"));
        if (cursorAddress != nullptr && cursorAddress != reinterpret_cast<char*>(-1)) return Browse(model, utf8);
    }
    return BrowsePlain(model, utf8);
}

}  // namespace corvina::cli
