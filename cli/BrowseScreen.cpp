#include "cli/BrowseScreen.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <fmt/format.h>

#include "analysis/AnalysisState.h"
#include "base/DisplayText.h"

namespace corvina::cli {

namespace {

constexpr int kSizeWidth = 9;     // "1023.9 MB"
constexpr int kShareWidth = 6;    // "100.0%"
constexpr int kGrowthWidth = 10;  // "+1023.9 MB"
constexpr int kFilesWidth = 9;
constexpr int kHeaderLines = 4;  // database, snapshots, directory, headings
constexpr int kNameWanted = 30;  // the bar gives way to names up to this width

// Bytes of the UTF-8 character that begins with lead.
std::size_t CharLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    return 2;
}

std::uint32_t CodePoint(std::string_view c) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(c[i])); };
    switch (c.size()) {
        case 1: return byte(0);
        case 2: return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
        case 3: return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
        default: return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
    }
}

// Valid UTF-8 (every text here is, names having been escaped) as the terminal
// can show it.
std::string ForTerminal(const std::string& text, bool utf8) {
    if (utf8) return text;
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = std::min(CharLength(static_cast<unsigned char>(text[i])), text.size() - i);
        if (length == 1) {
            out += text[i];
        } else {
            out += fmt::format("\\u{{{:04X}}}", CodePoint(std::string_view(text).substr(i, length)));
        }
        i += length;
    }
    return out;
}

std::string Pad(const std::string& text, int columns, bool right) {
    const int width = static_cast<int>(DisplayWidth(text));
    if (width >= columns) return text;
    const std::string blanks(static_cast<std::size_t>(columns - width), ' ');
    return right ? blanks + text : text + blanks;
}

// The path's end, which tells where one is, when the whole does not fit.
std::string FitTail(const std::string& text, int columns, bool utf8) {
    const std::string shown = ForTerminal(text, utf8);
    if (static_cast<int>(DisplayWidth(shown)) <= columns) return shown;
    const std::string mark = utf8 ? "\u2026" : "~";
    std::size_t start = 0;
    while (start < shown.size() && static_cast<int>(DisplayWidth(shown.substr(start))) > columns - 1) {
        start += CharLength(static_cast<unsigned char>(shown[start]));
    }
    return columns > 0 ? mark + shown.substr(start) : "";
}

// A share of width cells in eighths of a cell, or in whole "#" cells.
std::string Bar(double share, int width, bool utf8) {
    share = std::clamp(share, 0.0, 1.0);
    if (!utf8) {
        const int full = static_cast<int>(std::lround(share * width));
        return "[" + std::string(static_cast<std::size_t>(full), '#') +
               std::string(static_cast<std::size_t>(width - full), ' ') + "]";
    }
    static const char* const kEighths[] = {"", "\u258F", "\u258E", "\u258D", "\u258C", "\u258B", "\u258A", "\u2589"};
    const long eighths = std::lround(share * width * 8);
    std::string bar = "[";
    int used = 0;
    for (long i = 0; i < eighths / 8; ++i, ++used) bar += "\u2588";
    if (eighths % 8 != 0) {
        bar += kEighths[eighths % 8];
        ++used;
    }
    return bar + std::string(static_cast<std::size_t>(width - used), ' ') + "]";
}

struct Columns {
    int Bar = 0;  // cells inside the brackets; 0: no bar
    bool Growth = false;
    int Name = 0;
};

Columns ColumnsFor(const BrowseModel& model, int width) {
    Columns columns;
    columns.Growth = model.HasCompare();
    const int fixed = kSizeWidth + 1 + kShareWidth + 1 + (columns.Growth ? kGrowthWidth + 1 : 0) + kFilesWidth + 2;
    const int spare = width - fixed - kNameWanted - 3;
    columns.Bar = spare >= 4 ? std::min(spare, 30) : 0;
    columns.Name = std::max(0, width - fixed - (columns.Bar > 0 ? columns.Bar + 3 : 0));
    return columns;
}

std::string SortMark(const BrowseModel& model, BrowseSort sort, bool utf8) {
    if (model.Sort() != sort) return "";
    // Names go up the alphabet; figures come largest first.
    const bool descending = (sort != BrowseSort::Name) != model.Reversed();
    if (utf8) return descending ? "\u25BC" : "\u25B2";
    return descending ? "v" : "^";
}

std::string GrowthCell(const BrowseModel& model, const BrowseEntry& entry, bool utf8) {
    if (!model.GrowthKnown()) return utf8 ? std::string(kNoFigure) : "--";
    return entry.Growth() == 0 ? "" : GrowthText(entry.Growth());
}

CellStyle GrowthStyle(double growth) {
    return growth > 0 ? CellStyle::Grew : growth < 0 ? CellStyle::Shrank : CellStyle::Normal;
}

ScreenLine Headings(const BrowseModel& model, const Columns& columns, bool utf8) {
    std::string text = Pad(SortMark(model, BrowseSort::Size, utf8) + "Size", kSizeWidth, true) + " " +
                       Pad("Share", kShareWidth, true) + " ";
    if (columns.Bar > 0) text += std::string(static_cast<std::size_t>(columns.Bar + 3), ' ');
    if (columns.Growth) text += Pad(SortMark(model, BrowseSort::Growth, utf8) + "Growth", kGrowthWidth, true) + " ";
    text += Pad(SortMark(model, BrowseSort::Files, utf8) + "Files", kFilesWidth, true) + "  ";
    text += "Name" + SortMark(model, BrowseSort::Name, utf8);
    return {{{text, CellStyle::Heading}}};
}

ScreenLine RowLine(const BrowseModel& model, const BrowseEntry& entry, const Columns& columns, bool utf8) {
    const double total = model.Directory().Bytes;
    const double share = total > 0 ? entry.Bytes / total : 0;
    ScreenLine line;
    line.Runs.push_back({Pad(SizeText(entry.Bytes), kSizeWidth, true) + " " +
                         Pad(fmt::format("{:.1f}%", 100 * share), kShareWidth, true) + " "});
    if (columns.Bar > 0) line.Runs.push_back({Bar(share, columns.Bar, utf8) + " ", CellStyle::Bar});
    if (columns.Growth) {
        line.Runs.push_back({Pad(GrowthCell(model, entry, utf8), kGrowthWidth, true) + " ",
                             model.GrowthKnown() ? GrowthStyle(entry.Growth()) : CellStyle::Normal});
    }
    std::string name = EscapeForDisplay(entry.Shortname);
    if (!entry.Files) name += Separator(model.Setup().Style);
    line.Runs.push_back({Pad(FormatNumber(entry.FileCount), kFilesWidth, true) + "  " +
                         FitText(name, columns.Name, utf8)});
    return line;
}

std::string BasisText(SizeBasis basis) { return basis == SizeBasis::Disk ? "sizes on disk" : "apparent sizes"; }

std::vector<ScreenLine> Header(const BrowseModel& model, int width, bool utf8) {
    const BrowseSetup& setup = model.Setup();
    std::vector<ScreenLine> lines;
    lines.push_back({{{"Corvina  " + FitTail(EscapeForDisplay(setup.DatabaseName), width - 9, utf8), CellStyle::Title}}});
    std::string snapshots = "Snapshot " + FormatKey(setup.Snapshot) + "  ";
    snapshots += model.HasCompare() ? "compared with " + FormatKey(setup.Compare) : std::string("no compare snapshot");
    snapshots += "  " + BasisText(model.Basis());
    // A narrow screen keeps both keys and the basis in fewer words.
    if (static_cast<int>(snapshots.size()) > width) {
        snapshots = FormatKey(setup.Snapshot) + (model.HasCompare() ? " vs " + FormatKey(setup.Compare) : "") + "  " +
                    (model.Basis() == SizeBasis::Disk ? "on disk" : "apparent");
    }
    lines.push_back({{{snapshots, CellStyle::Title}}});
    const BrowseEntry& directory = model.Directory();
    std::string totals = SizeText(directory.Bytes);
    if (model.GrowthKnown()) totals += "  " + GrowthText(directory.Growth());
    totals += "  " + FormatNumber(directory.FileCount) + " files  ";
    const int room = std::max(0, width - static_cast<int>(DisplayWidth(totals)));
    ScreenLine place;
    place.Runs.push_back({totals, CellStyle::Title});
    place.Runs.push_back({FitTail(EscapeForDisplay(directory.Dirname), room, utf8), CellStyle::Title});
    lines.push_back(place);
    return lines;
}

ScreenLine Footer(const BrowseModel& model, bool utf8) {
    if (!model.Message().empty()) return {{{ForTerminal(model.Message(), utf8), CellStyle::Message}}};
    if (model.Panel() != BrowsePanel::None) return {{{"Any key: back to the list", CellStyle::Keys}}};
    return {{{"q:quit ?:help Enter:open <-:up s/n/C/g:sort a:basis f:follow t:trend i:info",
              CellStyle::Keys}}};
}

// Each line exactly width columns: runs cut where the screen ends, the last
// padded with blanks so that a selected line is marked across the screen.
void FitLine(ScreenLine& line, int width) {
    int used = 0;
    std::vector<ScreenRun> fitted;
    for (ScreenRun& run : line.Runs) {
        if (used >= width) break;
        const int columns = static_cast<int>(DisplayWidth(run.Text));
        if (used + columns > width) {
            std::string cut;
            for (std::size_t i = 0; i < run.Text.size();) {
                const std::size_t length = CharLength(static_cast<unsigned char>(run.Text[i]));
                const std::string c = run.Text.substr(i, length);
                if (used + static_cast<int>(DisplayWidth(cut + c)) > width) break;
                cut += c;
                i += length;
            }
            run.Text = cut;
        }
        used += static_cast<int>(DisplayWidth(run.Text));
        fitted.push_back(std::move(run));
    }
    if (used < width) {
        const CellStyle style = fitted.empty() ? CellStyle::Normal : fitted.back().Style;
        fitted.push_back({std::string(static_cast<std::size_t>(width - used), ' '), style});
    }
    line.Runs = std::move(fitted);
}

}  // namespace

int BrowseListRows(int height) { return std::max(1, height - kHeaderLines - 1); }

std::string FitText(const std::string& text, int columns, bool utf8) {
    const std::string shown = ForTerminal(text, utf8);
    if (static_cast<int>(DisplayWidth(shown)) <= columns) return shown;
    if (columns <= 0) return "";
    std::string cut;
    for (std::size_t i = 0; i < shown.size();) {
        const std::size_t length = CharLength(static_cast<unsigned char>(shown[i]));
        const std::string c = shown.substr(i, length);
        if (static_cast<int>(DisplayWidth(cut + c)) > columns - 1) break;
        cut += c;
        i += length;
    }
    return cut + (utf8 ? "\u2026" : "~");
}

std::vector<ScreenLine> RenderBrowser(const BrowseModel& model, int width, int height, bool utf8) {
    std::vector<ScreenLine> lines = Header(model, width, utf8);
    const int listRows = BrowseListRows(height);
    if (model.Panel() != BrowsePanel::None) {
        lines.push_back({{{ForTerminal(model.PanelTitle(), utf8), CellStyle::Heading}}});
        for (const std::string& text : model.PanelLines()) {
            if (static_cast<int>(lines.size()) >= kHeaderLines + listRows) break;
            lines.push_back({{{FitText(text, width, utf8)}}});
        }
    } else {
        const Columns columns = ColumnsFor(model, width);
        lines.push_back(Headings(model, columns, utf8));
        const auto& rows = model.Rows();
        if (rows.empty()) lines.push_back({{{"  The snapshot lists nothing below this directory."}}});
        for (int r = model.Top(); r < static_cast<int>(rows.size()) && r < model.Top() + listRows; ++r) {
            lines.push_back(RowLine(model, rows[static_cast<std::size_t>(r)], columns, utf8));
            lines.back().Selected = r == model.Selected();
        }
    }
    while (static_cast<int>(lines.size()) < height - 1) lines.push_back({});
    lines.resize(static_cast<std::size_t>(std::max(0, height - 1)));
    lines.push_back(Footer(model, utf8));
    for (ScreenLine& line : lines) FitLine(line, width);
    return lines;
}

std::string ScreenText(const std::vector<ScreenLine>& lines) {
    std::string text;
    for (const ScreenLine& line : lines) {
        std::string joined;
        for (const ScreenRun& run : line.Runs) joined += run.Text;
        joined.erase(joined.find_last_not_of(' ') + 1);
        text += joined + "\n";
    }
    return text;
}

}  // namespace corvina::cli
