#pragma once
// The sink of a snapshot run. RowPipeline hands the rows to a writer thread in
// batches, so that the walk reads the disk while the database engine writes:
// the walk thread owns nothing of the database until Finish has joined the
// writer.
//
// Each Dir row goes with its on-disk row, and so does each files row whose
// blocks cannot be derived (store/DiskUsage.h); the writer must have them
// open. What the engine holds back of those is sent before the writer is
// given back.
//
// Error policy: the writer stops at the first row the RowWriter refuses and
// keeps its error and message text (Failure); the walk learns of it at its next
// row (the run is rolled back, so rows the walk produced meanwhile are of no
// account).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture/WalkTypes.h"
#include "store/RowWriter.h"

namespace corvina {

// The first row the writer refused: the database's error and the row's text
// (DirRowFailureText or FileRowFailureText).
struct RowFailure {
    StoreError Error;
    std::string Text;
};

class RowPipeline final : public RowSink {
public:
    // The writer is used on the pipeline's thread only, from construction to Finish.
    explicit RowPipeline(RowWriter& writer);
    ~RowPipeline() override;
    RowPipeline(const RowPipeline&) = delete;
    RowPipeline& operator=(const RowPipeline&) = delete;

    bool FileRow(const CollectedFile& file) override;
    bool DirRow(std::string_view entryType, std::string_view entryName, std::int64_t files, double bytes,
                std::int64_t diskBytes) override;

    // Writes what is queued (or drops it when discard is true) and joins the
    // writer. true when every row was written.
    bool Finish(bool discard);
    // After Finish: the refused row, if the writer stopped at one. A writer
    // that failed otherwise (out of memory) leaves none.
    const std::optional<RowFailure>& Failure() const { return failure_; }

private:
    struct Record {
        bool IsFile = false;
        char EntryType = '2';
        std::size_t NameStart = 0, NameLength = 0;
        std::size_t DirStart = 0, DirLength = 0;
        std::int64_t Count = 0;  // file size, or the entry's file count
        double Bytes = 0;
        int Attributes = 0;
        DateTime Date;
        std::int64_t Disk = 0;
        std::int64_t Links = 1;
        bool DiskRow = true;
    };
    struct Batch {
        std::string Bytes;
        std::vector<Record> Records;
        void Clear() {
            Bytes.clear();
            Records.clear();
        }
    };

    void Flush();
    void WriterLoop();
    bool WriteBatch(const Batch& batch);
    bool Refused(const StoreError& error, std::string text);

    RowWriter& writer_;
    std::unique_ptr<Batch> current_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Batch>> full_;
    std::vector<std::unique_ptr<Batch>> free_;
    int batchesOut_ = 0;  // batches in existence: bounds the memory
    bool closing_ = false;
    std::atomic<bool> discard_{false};
    std::atomic<bool> failed_{false};
    std::optional<RowFailure> failure_;  // the writer's thread sets it, once, before failed_
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace corvina
