#pragma once
// The analysis session's observer in the window program and the tool: what
// an AnalysisSession tells, worded and shown through a Prompter, at the
// moment the session tells it.
//
// Error policy: nothing here fails.

#include <string>

#include "analysis/SessionObserver.h"
#include "base/Prompter.h"
#include "store/SnapshotDatabase.h"

namespace corvina {

// Borrows the prompter and the database, whose path a damaged file's message
// names as it is when the message comes (the window may switch databases).
class SessionMessages final : public SessionObserver {
public:
    SessionMessages(Prompter& prompter, const DatabaseState& database) : prompter_(prompter), database_(database) {}

    // As ReportStoreError: a missing snapshot as "Snapshot <date> not
    // found", else "Error: <code> <reason>" or that the file is damaged.
    void ReadFailed(const StoreError& error) override;
    // DirectoryTotalFailureText, or that the file is damaged.
    void DirectoryTotalFailed(const StoreError& error, const std::string& directory) override;
    // AnalysisFailureText, with the exclamation icon.
    void AnalysisFailed(const std::string& title, const StoreError& error) override;
    // TruncatedMessage.
    void ResultCut(int rowLimit) override;
    // kTruncatedSortWarning.
    void CutResultSorted() override;

private:
    Prompter& prompter_;
    const DatabaseState& database_;
};

}  // namespace corvina
