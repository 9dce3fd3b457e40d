#pragma once
// What an AnalysisSession has to tell while it works. The session decides
// that something is to be told, and when: each call comes at the moment the
// user is to hear of it, before the session goes on with what it has. The
// window program and the tool word and show it (report/SessionMessages.h);
// tests may record it.
//
// Error policy: nothing here fails.

#include <string>

#include "store/StoreError.h"

namespace corvina {

class SessionObserver {
public:
    virtual ~SessionObserver() = default;

    // A look-up in the database failed: a snapshot's catalogue row
    // (StoreCode::Missing when the snapshot is not there), its host, whether it
    // is still stored, the snapshot taken before it.
    virtual void ReadFailed(const StoreError& error) = 0;
    // The total of directory could not be read; the session counts it 0.
    virtual void DirectoryTotalFailed(const StoreError& error, const std::string& directory) = 0;
    // The database refused the run of the analysis titled title; the grid
    // keeps what was filled.
    virtual void AnalysisFailed(const std::string& title, const StoreError& error) = 0;
    // The run filled the grid to its row limit and records were left over.
    virtual void ResultCut(int rowLimit) = 0;
    // A result cut at the row limit is about to be sorted: only the rows it
    // holds take part.
    virtual void CutResultSorted() = 0;
};

}  // namespace corvina
