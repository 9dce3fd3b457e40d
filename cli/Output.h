#pragma once
// Everything corvina-cli prints goes through here, so that output nobody
// received is never reported as success.
//
// Error policy: a failed write (a full disk, a closed terminal) does not stop
// the command, whose work (a delete, a snapshot) is done either way; the
// first failure is remembered, and FinishOutput at the end of the run says so
// and turns the exit code into 1.
//
// Text from the database or the file system is passed through
// EscapeForDisplay before it reaches the terminal; only CSV and JSON output
// carry the exact bytes, as data.

#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "base/DisplayText.h"

namespace corvina::cli {

// Callable from any thread: the snapshot walk reports from a worker.
void WriteOut(std::string_view bytes);
void WriteErr(std::string_view bytes);

template <typename... Args>
void PrintOut(fmt::format_string<Args...> format, Args&&... args) {
    WriteOut(fmt::format(format, std::forward<Args>(args)...));
}

// "corvina: <text>" as one line on stderr, the text escaped.
void PrintMessage(std::string_view text);

// Text whose own line breaks are kept: each line is escaped, and the lines
// are joined with lineBreak.
std::string EscapeEachLine(std::string_view text, std::string_view lineBreak);

// Hands what stdout holds to its reader now, before slower work that follows.
void FlushOut();

// Rows as a text table: the first row holds the headings and is underlined;
// columns stand two blanks apart, as wide as their widest cell in columns of
// the screen. Cells of the columns marked in right are right-aligned, the
// headings too when headingsRight. Cells are shown as given (escape first).
void PrintAlignedTable(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right,
                       bool headingsRight, std::ostream& out);

// Flushes stdout and stderr. False when a write or the flush failed; then the
// reason is on stderr as "corvina: cannot write output: <reason>", unless
// stderr is what failed.
bool FinishOutput();

}  // namespace corvina::cli
