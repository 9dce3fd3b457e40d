#pragma once
// The terminal under corvina-cli browse, and nothing else: ncurses set up
// and taken down, keys read and turned into commands, the lines BrowseScreen
// draws put on the screen, in colour where the terminal has it and NO_COLOR
// is not set. A resize (SIGWINCH, read as KEY_RESIZE) draws again at the new
// size. A terminal that cannot move its cursor (TERM=dumb) is given whole
// screens in turn, without ncurses.
//
// Error policy: a terminal ncurses cannot drive is said on stderr and
// returns kExitUsage; otherwise the loop ends only when the model quits.

#include <optional>

#include "cli/BrowseModel.h"

namespace corvina::cli {

// The command of a key as getch() returns it; nullopt for a key that has none.
std::optional<BrowseCommand> CommandOfKey(int key);

// Runs the browser on stdin and stdout until Quit; returns the exit code.
// The locale must be set already (setlocale), so that names in UTF-8 show as
// characters.
int RunBrowserTerminal(BrowseModel& model);

}  // namespace corvina::cli
