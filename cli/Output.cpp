#include "cli/Output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <string>

namespace corvina::cli {
namespace {

std::mutex gMutex;
int gFirstError = 0;  // errno of the first failed write; guarded by gMutex

void Remember(int error) {
    // A short write without errno (it should not happen) still is a failure.
    if (gFirstError == 0) gFirstError = error != 0 ? error : EIO;
}

void Write(std::FILE* stream, std::string_view bytes) {
    if (bytes.empty()) return;
    std::lock_guard lock(gMutex);
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) Remember(errno);
}

}  // namespace

void WriteOut(std::string_view bytes) { Write(stdout, bytes); }

void WriteErr(std::string_view bytes) { Write(stderr, bytes); }

void PrintMessage(std::string_view text) { WriteErr("corvina: " + EscapeForDisplay(text) + "\n"); }

std::string EscapeEachLine(std::string_view text, std::string_view lineBreak) {
    std::string out;
    for (std::size_t start = 0;;) {
        std::size_t end = text.find('\n', start);
        out += EscapeForDisplay(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return out;
        out += lineBreak;
        start = end + 1;
    }
}

void FlushOut() {
    std::lock_guard lock(gMutex);
    errno = 0;
    if (std::fflush(stdout) != 0) Remember(errno);
}

bool FinishOutput() {
    std::lock_guard lock(gMutex);
    errno = 0;
    if (std::fflush(stdout) != 0) Remember(errno);
    errno = 0;
    if (std::fflush(stderr) != 0) Remember(errno);
    if (gFirstError == 0) return true;
    // When stderr is what failed this fails too; the exit code still tells.
    std::fprintf(stderr, "corvina: cannot write output: %s\n", std::strerror(gFirstError));
    std::fflush(stderr);
    return false;
}

namespace {

std::string TrimRight(const std::string& text) {
    std::size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

}  // namespace

void PrintAlignedTable(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right,
                       bool headingsRight, std::ostream& out) {
    std::vector<std::size_t> widths(right.size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::string line;
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            const std::string& text = rows[r][c];
            std::string pad(widths[c] - DisplayWidth(text), ' ');
            if (c > 0) line += "  ";
            line += right[c] && (r > 0 || headingsRight) ? pad + text : text + pad;
        }
        out << TrimRight(line) << '\n';
        if (r == 0) {
            std::string rule;
            for (std::size_t c = 0; c < widths.size(); ++c) rule += (c > 0 ? "  " : "") + std::string(widths[c], '-');
            out << rule << '\n';
        }
    }
}

}  // namespace corvina::cli
