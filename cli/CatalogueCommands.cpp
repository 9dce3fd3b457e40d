// corvina-cli list, info and delete: the catalogue of the snapshot database
// for scripts and scheduled jobs. --json prints one JSON document on stdout;
// names that are not valid UTF-8 show replacement characters there.

#include <cstdio>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "capture/SnapshotRun.h"
#include "cli/CliSupport.h"
#include "store/Catalogue.h"
#include "store/SizeFormat.h"

namespace corvina::cli {
namespace {

using Json = nlohmann::json;

void PrintJson(const Json& document) {
    std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace);
    std::printf("%s\n", text.c_str());
}

// A key that cannot be one is bad usage, whatever the database holds: told
// before the database is opened.
int CheckKeySyntax(const std::string& text) {
    if (text == "latest" || DateTime::Parse(text)) return kExitOk;
    std::fprintf(stderr, "corvina: not a snapshot key: %s (expected yyyy-MM-dd HH:mm:ss or latest)\n", text.c_str());
    return kExitUsage;
}

// A key from the command line, or the exit code of why not.
int ReadKey(DatabaseState& state, const std::string& text, DateTime& key) {
    std::optional<DateTime> parsed = ResolveKey(state, text);
    if (parsed) {
        key = *parsed;
        return kExitOk;
    }
    if (text == "latest") {
        std::fprintf(stderr, "corvina: the snapshot database holds no snapshot\n");
        return kExitFailed;
    }
    std::fprintf(stderr, "corvina: not a snapshot key: %s (expected yyyy-MM-dd HH:mm:ss or latest)\n", text.c_str());
    return kExitUsage;
}

// A delete waits for a snapshot being written, up to a minute, and says so once.
class DeleteWait final : public LockWait {
public:
    bool KeepWaiting(std::chrono::milliseconds waited) override {
        if (!told_) std::fprintf(stderr, "corvina: %s\n", std::string(kWaitingForWriter).c_str());
        told_ = true;
        return waited < kDeleteWait;
    }

private:
    bool told_ = false;
};

struct ListOptions {
    std::string Db;
    std::string Path;
    bool HasPath = false;
    bool Json = false;
};

int RunList(const ListOptions& options) {
    StderrPrompter prompter;
    DatabaseState state;
    if (int rc = OpenForCommand(state, options.Db, prompter); rc != kExitOk) return rc;
    if (!options.HasPath) {
        bool ok = true;
        std::vector<std::string> paths = ListBasePaths(state, prompter, &ok);
        if (!ok) return kExitFailed;
        if (options.Json) {
            PrintJson(Json(paths));
        } else {
            for (const std::string& path : paths) std::printf("%s\n", path.c_str());
        }
        return kExitOk;
    }

    std::string path = options.Path;
    bool ok = true;
    std::vector<SnapshotListRow> rows = ListSnapshots(state, prompter, path, &ok);
    if (!ok) return kExitFailed;
    if (rows.empty() && !path.empty()) {
        // The snapshot command stores absolute paths without a trailing separator.
        std::error_code error;
        std::string normal = std::filesystem::absolute(path, error).lexically_normal().string();
        while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
        if (!error && normal != path) rows = ListSnapshots(state, prompter, normal, &ok);
    }
    if (options.Json) {
        Json list = Json::array();
        for (const SnapshotListRow& row : rows) {
            list.push_back({{"key", row.KeyText},
                            {"basepath", row.Basepath},
                            {"description", row.Description},
                            {"directories", row.Totdirs},
                            {"files", row.Totfiles},
                            {"bytes", row.Totbytes},
                            {"size", row.SizeText}});
        }
        PrintJson(list);
    } else {
        for (const SnapshotListRow& row : rows) {
            std::printf("%s\t%lld directories\t%lld files\t%s\t%s\n", row.KeyText.c_str(),
                        static_cast<long long>(row.Totdirs), static_cast<long long>(row.Totfiles),
                        row.SizeText.c_str(), row.Description.c_str());
        }
    }
    return ok ? kExitOk : kExitFailed;
}

struct KeyOptions {
    std::string Db;
    std::string Key;
    bool Json = false;
};

int RunInfo(const KeyOptions& options) {
    if (int rc = CheckKeySyntax(options.Key); rc != kExitOk) return rc;
    StderrPrompter prompter;
    DatabaseState state;
    if (int rc = OpenForCommand(state, options.Db, prompter); rc != kExitOk) return rc;
    DateTime key;
    if (int rc = ReadKey(state, options.Key, key); rc != kExitOk) return rc;
    SnapshotInfo info;
    LoadSnapshotInfo(state, prompter, key, info);  // says "Snapshot ... not found" itself
    if (info.InfoBasePath.empty()) return kExitFailed;
    if (options.Json) {
        PrintJson({{"key", FormatGeneralDate(key)},
                   {"basepath", info.InfoBasePath},
                   {"description", info.InfoDescription},
                   {"collectfiles", info.InfoCollectFiles},
                   {"filelimit", info.InfoFileLimit},
                   {"directories", info.InfoTotalDirs},
                   {"files", info.InfoTotalFiles},
                   {"bytes", info.InfoTotalBytes},
                   {"filescollected", info.InfoFilesCollected},
                   {"collectedbytes", info.InfoCollectedBytes}});
        return kExitOk;
    }
    std::printf("Snapshot:          %s\n", FormatGeneralDate(key).c_str());
    std::printf("Base path:         %s\n", info.InfoBasePath.c_str());
    std::printf("Description:       %s\n", info.InfoDescription.c_str());
    std::printf("Files recorded:    %s (from %s bytes)\n", info.InfoCollectFiles.c_str(),
                FormatNumber(info.InfoFileLimit).c_str());
    std::printf("Directories:       %lld\n", static_cast<long long>(info.InfoTotalDirs));
    std::printf("Files:             %lld\n", static_cast<long long>(info.InfoTotalFiles));
    std::printf("Bytes:             %s (%s)\n", FormatNumber(info.InfoTotalBytes).c_str(),
                FormatSize(info.InfoTotalBytes).c_str());
    std::printf("Files collected:   %lld\n", static_cast<long long>(info.InfoFilesCollected));
    std::printf("Bytes collected:   %s (%s)\n", FormatNumber(info.InfoCollectedBytes).c_str(),
                FormatSize(info.InfoCollectedBytes).c_str());
    return kExitOk;
}

int RunDelete(const KeyOptions& options) {
    if (int rc = CheckKeySyntax(options.Key); rc != kExitOk) return rc;
    StderrPrompter prompter;
    DatabaseState state;
    if (int rc = OpenForCommand(state, options.Db, prompter); rc != kExitOk) return rc;
    DateTime key;
    if (int rc = ReadKey(state, options.Key, key); rc != kExitOk) return rc;
    const std::string keyText = FormatGeneralDate(key);
    if (!SnapshotExists(state, key)) {
        std::fprintf(stderr, "corvina: Snapshot %s not found\n", keyText.c_str());
        return kExitFailed;
    }
    if (state.ReadOnly) {
        std::fprintf(stderr, "corvina: Snapshot %s could not be deleted: the snapshot database cannot be written\n",
                     keyText.c_str());
        return kExitFailed;
    }
    DeleteWait wait;
    if (StoreError error = DeleteSnapshot(state, key, wait); !error.Ok()) {
        if (error.IsDamaged()) {
            std::fprintf(stderr, "corvina: %s\n", DamagedDatabaseText(state.DatabasePath, error.Reason).c_str());
        } else if (error.IsBusy()) {
            std::fprintf(stderr, "corvina: %s; snapshot %s not deleted\n", BusyDatabaseText(state.DatabasePath).c_str(),
                         keyText.c_str());
        } else {
            std::fprintf(stderr, "corvina: Snapshot %s could not be deleted: %s\n", keyText.c_str(),
                         error.Details().c_str());
        }
        return kExitFailed;
    }
    std::printf("Snapshot %s deleted\n", keyText.c_str());
    return kExitOk;
}

}  // namespace

void AddListCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand("list", "List the base paths, or the snapshots of one base path, newest first");
    auto options = std::make_shared<ListOptions>();
    AddDbOption(command, options->Db);
    auto* path = command->add_option("--path", options->Path, "Base path whose snapshots are listed");
    command->add_flag("--json", options->Json, "Print JSON");
    command->callback([options, exitCode, path] {
        options->HasPath = path->count() > 0;
        *exitCode = RunList(*options);
    });
}

void AddInfoCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand("info", "Show the catalogue row of one snapshot");
    auto options = std::make_shared<KeyOptions>();
    command->add_option("KEY", options->Key, "Snapshot key (yyyy-MM-dd HH:mm:ss) or latest")->required();
    AddDbOption(command, options->Db);
    command->add_flag("--json", options->Json, "Print JSON");
    command->callback([options, exitCode] { *exitCode = RunInfo(*options); });
}

void AddDeleteCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand("delete", "Delete one snapshot from the database");
    auto options = std::make_shared<KeyOptions>();
    command->add_option("KEY", options->Key, "Snapshot key (yyyy-MM-dd HH:mm:ss) or latest")->required();
    AddDbOption(command, options->Db);
    command->callback([options, exitCode] { *exitCode = RunDelete(*options); });
}

}  // namespace corvina::cli
