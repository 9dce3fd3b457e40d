#pragma once
// The result grid of an analysis as a file: CSV or JSON. "corvina-cli analyse
// --format csv|json" prints these and the analysis window's "Export Grid"
// writes them, so a file saved from the window reads exactly as the tool's
// output for the same analysis.
//
// CSV keeps the exact bytes of names; JSON replaces invalid UTF-8.
//
// Error policy: nothing here fails; a failed write is the stream's state, for
// the caller to check.

#include <ostream>
#include <string>

#include "analysis/AnalysisSession.h"

namespace corvina {

// A CSV field: quoted, its quotes doubled, when it holds a comma, a quote or
// a line break.
std::string CsvField(const std::string& text);

// The headings are the header record, without the blanks that pad them in the
// grid; the grid's rows follow, a total row first, a size on disk not
// recorded as an empty field. Records end in CRLF. Rows from endRow on are
// left out (-1: none are). The title is not written: a header record is all a
// reader of CSV expects before the data.
void WriteGridCsv(const ResultGrid& grid, std::ostream& out, int endRow = -1);

// The title, the kind and its inputs ("size": "disk" on disk, and with a
// compare snapshot "exclusions_differ": whether the two left out different
// entries), the columns with their formats,
// the total row and the detail rows of the session's current result, up to
// endRow (-1: all), a size on disk not recorded as null; "truncated" says
// whether any were cut, here or by the limit.
void WriteGridJson(const std::string& title, const AnalysisSession& session, std::ostream& out, int endRow = -1);

}  // namespace corvina
