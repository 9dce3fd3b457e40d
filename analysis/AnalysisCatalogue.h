#pragma once
// The fourteen canned analyses, one row each: the names the window and the
// command-line tool show and accept, what a kind needs of the snapshots, its
// grid columns, its title and its query. Every place that depends on the kind
// reads it here; a new kind is a new row (and its code in AnalysisKind.h).
//
// Error policy: nothing here fails (store/StoreError.h states the policy of
// store/ and analysis/).

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "analysis/AnalysisKind.h"
#include "analysis/AnalysisQuery.h"
#include "analysis/AnalysisState.h"

namespace corvina {

// The menu of the analysis window that offers a kind.
enum class AnalysisMenu { Directories, Files };

// What a percentage column takes as its 100 %.
enum class ShareBase {
    DirTotal,     // the bytes of the selected directory in the prime snapshot
    DirGrowth,    // its growth since the compare snapshot
    FirstRecord,  // the value of the first record filled (the total row)
};

struct ColumnEntry {
    // Heading pattern for FillLabels: "Total size {unit}".
    std::string_view Heading = {};
    int Width = 0;  // twips
    ColumnRule Rule = ColumnRule::Text;
    // For a percentage column: the field of the record whose share of Base it
    // shows; -1 for a column that shows its own field.
    int ShareOf = -1;
    ShareBase Base = ShareBase::FirstRecord;
};

struct AnalysisEntry {
    AnalysisKind Kind = AnalysisKind::DirectoryDetails;
    std::string_view Name = {};         // DirectoryDetails
    std::string_view CommandName = {};  // directory-details
    std::string_view MenuCaption = {};  // "&Directory Details"
    AnalysisMenu Menu = AnalysisMenu::Directories;
    bool NeedsCompare = false;  // reads the compare snapshot
    bool ReadsFiles = false;    // reads files rows (of every snapshot it uses)
    std::vector<ColumnEntry> Columns = {};
    std::optional<int> ChartColumn = {};  // none: the column charted before stays
    int ChartPoints = 4;                  // detail rows the chart shows at most
    bool KeepsRowOrder = false;           // a heading click charts its column without sorting
    bool PathRows = false;                // the first column holds whole paths, not names
    SizeRounding Rounding = SizeRounding::Down;  // how its size columns drop what the unit cannot show
    std::string_view Title = {};          // pattern for FillLabels
    KindQueries (*Query)(const QueryParts& parts) = nullptr;

    int Code() const { return static_cast<int>(Kind); }
};

// All fourteen, in code order (the order of the menus and of the tool's help).
std::span<const AnalysisEntry> AnalysisCatalogue();

const AnalysisEntry& EntryOf(AnalysisKind kind);

// nullptr for a code that names no analysis (6 to 9, negative, above 17).
const AnalysisEntry* FindAnalysis(int code);

// By command name ("files-in-tree"), program name ("FilesInTree", any case) or
// decimal code ("11").
const AnalysisEntry* FindAnalysisByName(std::string_view text);

}  // namespace corvina
