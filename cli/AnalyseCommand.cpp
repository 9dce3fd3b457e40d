// corvina-cli analyse: drives an AnalysisSession as the analysis window does
// (choose the snapshots, the directory, the unit and the kind, run) and prints
// its title and grid as a table, CSV or JSON. corvina-cli growth is the same
// run of one kind, WhereDidItGrow, with defaults of its own.
//
// Error policy: every problem (no such snapshot, a kind that needs what the
// snapshots lack, a directory the snapshot does not hold, a failed query or
// lookup) is said by "corvina: ..." on stderr and exits with 1; a usage error
// (an unknown kind, a text that cannot be a key) exits with 2, before the
// database is opened.

#include <algorithm>
#include <memory>
#include <sstream>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/AnalysisSession.h"
#include "analysis/GridExport.h"
#include "cli/CliSupport.h"
#include "store/DamageWatch.h"
#include "cli/Output.h"
#include "report/BasisNotes.h"
#include "report/SessionMessages.h"
#include "store/Catalogue.h"
#include "base/SizeFormat.h"

namespace corvina::cli {

namespace {

struct AnalyseOptions {
    std::string Kind;
    std::string Snapshot = "latest";
    std::string Compare;
    std::string Dir;
    std::string Unit = "M";  // B, K, M, G, T or auto
    std::string Size = "apparent";  // apparent or disk
    std::string Format = "table";
    std::string Db;
    std::string Host;  // "": see ChooseHost
    int Top = 0;  // detail rows printed at most; 0 for all
    int Limit = kWindowRowLimit;  // grid rows below the headings; 0 for all
};

// What one run produced, ready to print.
struct AnalyseResult {
    AnalyseResult(DatabaseState& db, Prompter& prompter) : Messages(prompter, db), Session(db, Messages) {}
    const AnalysisEntry* Entry = nullptr;
    SessionMessages Messages;  // what the session tells, on stderr
    AnalysisSession Session;
    std::string Title;
    int Top = 0;

    // One past the last grid row to print: --top cuts the detail rows only.
    int EndRow() const {
        const int rows = Session.Grid().RowCount();
        return Top > 0 ? std::min(rows, Session.Settings().FirstDetailRow + Top) : rows;
    }
};

int Fail(const std::string& text) {
    PrintMessage(text);
    return kExitFailed;
}

// The unit of the grid. Sizes in a unit of their own are for people: a
// file for a program carries bytes instead.
char UnitOf(const AnalyseOptions& options) {
    if (options.Unit != "auto") return options.Unit.front();
    return options.Format == "table" ? kAutoUnit : 'B';
}

std::string TrimRight(const std::string& text) {
    std::size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

void PrintTable(const AnalyseResult& result, std::ostream& out) {
    const ResultGrid& grid = result.Session.Grid();
    std::vector<std::vector<std::string>> rows;
    for (int r = 0; r < result.EndRow(); ++r) {
        rows.emplace_back();
        for (int c = 0; c < grid.ColumnCount(); ++c) rows.back().push_back(EscapeForDisplay(TrimRight(grid.Cell(r, c))));
    }
    std::vector<bool> right;
    for (int c = 0; c < grid.ColumnCount(); ++c) right.push_back(grid.Alignment(c) == CellAlignment::Right);
    out << EscapeForDisplay(result.Title) << '\n';
    PrintAlignedTable(rows, right, false, out);
}

// Refusals in the order the user would fix them: the snapshots, what the
// kind needs of them, the directory.
int Analyse(const AnalyseOptions& options, const std::optional<std::string>& host, DatabaseState& db,
            AnalyseResult& result) {
    result.Entry = FindAnalysisByName(options.Kind);  // CheckUsage has found it
    const std::string kind(result.Entry->CommandName);
    AnalysisSession& session = result.Session;

    // The basis comes first: the totals the choices read are in it.
    session.SetSizeBasis(*ParseSizeBasis(options.Size));
    // Each failure of the database has been told by the session.
    bool found = false;
    std::optional<DateTime> prime = ResolveKey(db, options.Snapshot, host);
    if (prime && !session.HasSnapshot(*prime, found).Ok()) return kExitFailed;
    if (!found) return Fail("no snapshot \"" + options.Snapshot + "\" in the database");
    if (!session.ChoosePrime(*prime).Ok()) return kExitFailed;

    if (!options.Compare.empty()) {
        if (int rc = ChooseCompareOption(db, session, options.Compare); rc != kExitOk) return rc;
    }
    switch (session.ShortfallOf(result.Entry->Kind)) {
        case Shortfall::None: break;
        case Shortfall::CompareSnapshot: return Fail(kind + " needs a compare snapshot (--compare KEY|previous)");
        case Shortfall::CompareFiles:
            return Fail("compare snapshot " + FormatKey(session.State().CompareSnapshotDate) + " recorded no files");
        case Shortfall::PrimeFiles:
            return Fail("snapshot " + FormatKey(*prime) + " recorded no files: " + kind + " needs them");
        case Shortfall::CompareOnDisk:
            return Fail(CannotCompareOnDiskText(*session.WithoutDiskFigures()) + " " + std::string(kSizeApparentHint));
    }
    if (!options.Dir.empty()) {
        std::string dir(WithoutTrailingSeparators(options.Dir, session.State().Style));
        if (!session.SelectDirectory(dir, found).Ok()) return kExitFailed;
        if (!found) return Fail("snapshot " + FormatKey(*prime) + " holds no directory " + dir);
    }
    session.SetUnit(UnitOf(options));
    session.SetRowLimit(options.Limit);
    session.SetKind(result.Entry->Kind);
    AnalysisOutcome outcome = session.Run();
    if (!outcome.Error.Ok()) return kExitFailed;  // the session has told the error
    result.Title = outcome.Title;
    // JSON carries it as a field; a table or CSV leaves its stream to the data.
    if (outcome.ExclusionsDiffer && options.Format != "json") {
        const AnalysisState& state = session.State();
        PrintMessage(ExclusionsDifferText(FormatKey(state.SnapshotDate), session.PrimeExclusions(),
                                          FormatKey(state.CompareSnapshotDate), session.CompareExclusions()));
    }
    return kExitOk;
}

// Usage errors, said before the database is opened.
int CheckUsage(const AnalyseOptions& options) {
    if (FindAnalysisByName(options.Kind) == nullptr) {
        PrintMessage("unknown analysis \"" + options.Kind + "\" (corvina-cli analyse --help lists them)");
        return kExitUsage;
    }
    if (int rc = CheckKeySyntax(options.Snapshot, "--snapshot"); rc != kExitOk) return rc;
    if (options.Compare.empty()) return kExitOk;
    return CheckKeySyntax(options.Compare, "--compare", true);
}

int RunAnalyseCommand(const AnalyseOptions& options) {
    if (int rc = CheckUsage(options); rc != kExitOk) return rc;
    DatabaseState db;
    StderrPrompter prompter;
    int rc = OpenForCommand(db, options.Db, prompter);
    if (rc != kExitOk) return rc;
    // A key names one snapshot whoever took it, and previous keeps to its
    // host (store/Catalogue.h); latest needs a host.
    std::optional<std::string> host;
    if (options.Snapshot == "latest" || !options.Host.empty()) {
        if (rc = ChooseHost(db, options.Host, host); rc != kExitOk) return rc;
    }
    AnalyseResult result(db, prompter);
    result.Top = options.Top;
    rc = Analyse(options, host, db, result);
    if (rc != kExitOk) return rc;
    // Whatever met a damaged page on the way, the grid is not printed at all
    // rather than printed wrong.
    if (DamageWasMet()) {
        PrintMessage(DamagedDatabaseText(db.DatabasePath, "database disk image is malformed"));
        return kExitFailed;
    }
    std::ostringstream out;
    if (options.Format == "csv") {
        WriteGridCsv(result.Session.Grid(), out, result.EndRow());
    } else if (options.Format == "json") {
        WriteGridJson(result.Title, result.Session, out, result.EndRow());
    } else {
        PrintTable(result, out);
    }
    WriteOut(out.str());
    return kExitOk;
}

// The options analyse and growth share, after the ones each adds first.
void AddRunOptions(CLI::App* command, AnalyseOptions& options, const std::string& unit) {
    command->add_option("--dir", options.Dir, "Directory to analyse (default: the snapshot's base path)");
    command->add_option("--unit", options.Unit,
                        "Size unit of the grid: B, K, M, G, T (powers of 1024) or auto (each size in the largest "
                        "unit that keeps it at least 1; CSV and JSON then carry bytes)")
        ->check(CLI::IsMember({"B", "K", "M", "G", "T", "auto"}))
        ->default_val(unit);
    command->add_option("--size", options.Size,
                        "Sizes counted: apparent (the files' lengths) or disk (the blocks they take, a file with "
                        "several names once)")
        ->check(CLI::IsMember({"apparent", "disk"}))
        ->default_val("apparent");
    command->add_option("--format", options.Format, "Output: table, csv or json")
        ->check(CLI::IsMember({"table", "csv", "json"}))
        ->default_val("table");
    AddDbOption(command, options.Db);
    AddHostOption(command, options.Host);
}

void AddSnapshotOption(CLI::App* command, AnalyseOptions& options) {
    command->add_option("--snapshot", options.Snapshot, "Snapshot key (yyyy-MM-dd HH:mm:ss) or latest")
        ->default_val("latest");
}

// A count that cannot be negative. CLI11's own check would name the range of
// the type, a number of some 300 digits, instead of the value given.
CLI::Validator NotNegative(std::string what) {
    return CLI::Validator(
        [what](std::string& text) {
            return text.starts_with('-') ? what + " cannot be negative: " + text : std::string();
        },
        "N");
}

constexpr const char* kCompareHelp =
    "Compare snapshot key, or previous: the newest earlier snapshot of the same base path";

}  // namespace

void AddAnalyseCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<AnalyseOptions>();
    CLI::App* command = app.add_subcommand("analyse", "Run one analysis on a snapshot and print its grid");
    std::string kinds;
    for (const auto& entry : AnalysisCatalogue()) {
        kinds += "\n  " + std::to_string(entry.Code()) + "  " + std::string(entry.CommandName);
    }
    command->add_option("KIND", options->Kind, "The analysis, by name or code:" + kinds)->required();
    AddSnapshotOption(command, *options);
    command->add_option("--compare", options->Compare, kCompareHelp);
    // Rows past the limit are not shown, and stderr says so, as the window does.
    command->add_option("--limit", options->Limit, "Grid rows shown at most, a total row included; 0 for all")
        ->check(NotNegative("a count of rows"))
        ->default_val(kWindowRowLimit);
    AddRunOptions(command, *options, "M");
    command->callback([options, exitCode] { *exitCode = RunAnalyseCommand(*options); });
}

void AddGrowthCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<AnalyseOptions>();
    options->Kind = EntryOf(AnalysisKind::WhereDidItGrow).CommandName;
    CLI::App* command =
        app.add_subcommand("growth", "List the directories whose own files grew or shrank, largest growth first");
    AddSnapshotOption(command, *options);
    command->add_option("--compare", options->Compare, kCompareHelp)->default_val("previous");
    command->add_option("--top", options->Top, "Directories listed at most; 0 for all")
        ->check(NotNegative("a count of directories"))
        ->default_val(20);
    AddRunOptions(command, *options, "auto");
    command->callback([options, exitCode] { *exitCode = RunAnalyseCommand(*options); });
}

}  // namespace corvina::cli
