#include "report/SessionMessages.h"

#include "analysis/AnalysisRun.h"
#include "analysis/DirectoryTotal.h"
#include "analysis/GridFill.h"
#include "report/StoreErrorReport.h"

namespace corvina {

void SessionMessages::ReadFailed(const StoreError& error) {
    ReportStoreError(prompter_, database_.DatabasePath, error);
}

void SessionMessages::DirectoryTotalFailed(const StoreError& error, const std::string& directory) {
    if (error.IsDamaged()) {
        ReportStoreError(prompter_, database_.DatabasePath, error);
    } else {
        ShowMessage(prompter_, DirectoryTotalFailureText(error, directory));
    }
}

void SessionMessages::AnalysisFailed(const std::string& title, const StoreError& error) {
    ShowMessage(prompter_, AnalysisFailureText(database_.DatabasePath, title, error), Icon::Exclamation);
}

void SessionMessages::ResultCut(int rowLimit) { ShowMessage(prompter_, TruncatedMessage(rowLimit)); }

void SessionMessages::CutResultSorted() { ShowMessage(prompter_, std::string(kTruncatedSortWarning)); }

}  // namespace corvina
