#include "capture/RowPipeline.h"

namespace corvina {

namespace {
// A batch goes to the writer after this many rows or bytes of names; at most
// kMaxBatches exist, so the walk waits rather than outrunning the writer by
// more than a few megabytes.
constexpr std::size_t kBatchRows = 4096;
constexpr std::size_t kBatchBytes = 512 * 1024;
constexpr int kMaxBatches = 8;
}  // namespace

RowPipeline::RowPipeline(RowWriter& writer) : writer_(writer), current_(std::make_unique<Batch>()) {
    batchesOut_ = 1;
    thread_ = std::thread([this] { WriterLoop(); });
}

RowPipeline::~RowPipeline() {
    if (!finished_) Finish(true);
}

bool RowPipeline::FileRow(const CollectedFile& row) {
    if (failed_.load(std::memory_order_relaxed)) return false;
    Record record;
    record.IsFile = true;
    record.NameStart = current_->Bytes.size();
    record.NameLength = row.Filename.size();
    current_->Bytes.append(row.Filename);
    record.DirStart = current_->Bytes.size();
    record.DirLength = row.Filedir.size();
    current_->Bytes.append(row.Filedir);
    record.Count = row.Filesize;
    record.Attributes = row.Fileattr;
    record.Date = row.Filedate;
    record.Disk = row.Diskbytes;
    record.Links = row.Links;
    record.DiskRow = row.DiskRow;
    current_->Records.push_back(record);
    if (current_->Records.size() >= kBatchRows || current_->Bytes.size() >= kBatchBytes) Flush();
    return true;
}

bool RowPipeline::DirRow(std::string_view entryType, std::string_view entryName, std::int64_t files, double bytes,
                         std::int64_t diskBytes) {
    if (failed_.load(std::memory_order_relaxed)) return false;
    Record record;
    record.EntryType = entryType.empty() ? '2' : entryType.front();
    record.NameStart = current_->Bytes.size();
    record.NameLength = entryName.size();
    current_->Bytes.append(entryName);
    record.Count = files;
    record.Bytes = bytes;
    record.Disk = diskBytes;
    current_->Records.push_back(record);
    if (current_->Records.size() >= kBatchRows || current_->Bytes.size() >= kBatchBytes) Flush();
    return true;
}

void RowPipeline::Flush() {
    std::unique_lock lock(mutex_);
    full_.push_back(std::move(current_));
    changed_.notify_all();
    if (free_.empty()) {
        changed_.wait(lock, [this] { return !free_.empty() || batchesOut_ < kMaxBatches; });
    }
    if (!free_.empty()) {
        current_ = std::move(free_.back());
        free_.pop_back();
    } else {
        current_ = std::make_unique<Batch>();
        ++batchesOut_;
    }
}

bool RowPipeline::Finish(bool discard) {
    if (finished_) return !failed_.load();
    finished_ = true;
    if (discard) discard_.store(true);
    {
        std::lock_guard lock(mutex_);
        if (!current_->Records.empty()) full_.push_back(std::move(current_));
        closing_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    return !failed_.load();
}

void RowPipeline::WriterLoop() {
    for (;;) {
        std::unique_ptr<Batch> batch;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !full_.empty() || closing_; });
            if (full_.empty()) break;  // closing and drained
            batch = std::move(full_.front());
            full_.pop_front();
        }
        if (!failed_.load() && !discard_.load()) {
            bool ok = false;
            try {
                ok = WriteBatch(*batch);
            } catch (const std::exception&) {
                // A refused row is kept in failure_; anything else (out of
                // memory) still must not end the process from this thread.
            }
            if (!ok) failed_.store(true);
        }
        batch->Clear();
        std::lock_guard lock(mutex_);
        free_.push_back(std::move(batch));
        changed_.notify_all();
    }
    if (failed_.load() || discard_.load()) return;
    // The on-disk rows the engine holds back go while the writer is still this
    // thread's: once the run has the writer back, its end would drop them.
    try {
        if (StoreError error = writer_.FlushDiskRows(); !error.Ok()) {
            Refused(error, {});
            failed_.store(true);
        }
    } catch (const std::exception&) {
        failed_.store(true);
    }
}

bool RowPipeline::WriteBatch(const Batch& batch) {
    const char* base = batch.Bytes.data();
    for (const Record& record : batch.Records) {
        std::string_view name(base + record.NameStart, record.NameLength);
        if (record.IsFile) {
            FileRowInput row;
            row.Filename = name;
            row.Filesize = record.Count;
            row.Filedir = std::string_view(base + record.DirStart, record.DirLength);
            row.Fileattr = record.Attributes;
            row.Filedate = record.Date;
            row.Diskbytes = record.Disk;
            row.Links = record.Links;
            StoreError error = writer_.WriteFileRow(row);
            if (error.Ok() && record.DiskRow) error = writer_.WriteFilediskRow(row);
            if (!error.Ok()) {
                const std::string path = JoinPath(row.Filedir, row.Filename, writer_.Context().Style);
                return Refused(error, FileRowFailureText(path, row.Filesize, error));
            }
        } else {
            StoreError error =
                writer_.WriteDirRow(std::string_view(&record.EntryType, 1), name, record.Count, record.Bytes);
            if (error.Ok()) error = writer_.WriteDirdiskRow(std::string_view(&record.EntryType, 1), name, record.Disk);
            if (!error.Ok()) return Refused(error, DirRowFailureText(error));
        }
        if (discard_.load(std::memory_order_relaxed)) return true;
    }
    return true;
}

bool RowPipeline::Refused(const StoreError& error, std::string text) {
    failure_ = RowFailure{error, std::move(text)};
    return false;
}

}  // namespace corvina
