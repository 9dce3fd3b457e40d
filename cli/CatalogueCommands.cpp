// corvina-cli list, info and delete: the catalogue of the snapshot database
// for scripts and scheduled jobs. --json prints one JSON document on stdout;
// names that are not valid UTF-8 show replacement characters there.

#include <algorithm>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "capture/SnapshotRun.h"
#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "store/Catalogue.h"
#include "store/DiskUsage.h"
#include "store/Exclusion.h"
#include "store/HostLabel.h"
#include "store/SnapshotTime.h"
#include "base/SizeFormat.h"

namespace corvina::cli {
namespace {

using Json = nlohmann::json;

void PrintJson(const Json& document) {
    std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace);
    WriteOut(text + "\n");
}

struct ListOptions {
    std::string Db;
    std::string Path;
    std::string Host;  // "" for every host
    std::string Format = "text";
    bool HasPath = false;
    bool Json = false;
};

// A snapshot's instant and offset for JSON: null where not recorded.
Json InstantJson(const std::optional<std::int64_t>& instant) {
    return instant ? Json(FormatInstant(*instant)) : Json(nullptr);
}
Json OffsetJson(const std::optional<int>& offset) { return offset ? Json(FormatUtcOffset(*offset)) : Json(nullptr); }

// A label for JSON: null for the unknown host.
Json HostJson(const std::string& label) { return label.empty() ? Json(nullptr) : Json(label); }

// The snapshots of a base path as the command line gave it, or as the
// snapshot command stores it when the text given finds none.
std::string StoredBasePath(DatabaseState& state, const std::string& path) {
    std::vector<SnapshotListRow> rows;
    if (StoreError error = ListSnapshots(state, path, rows); !error.Ok()) EndOnStoreError(state, error);
    return rows.empty() && !path.empty() ? NormalizeBasePath(path) : path;
}

// list --format json: one object per base path and host, with its snapshots
// newest first. In a database of one host every snapshot is that host's.
int ListAsObjects(DatabaseState& state, const ListOptions& options, bool severalHosts,
                  const std::optional<std::string>& host, const std::map<DateTime, std::string>& labels) {
    std::vector<BasePathHost> pairs;
    if (StoreError error = ListBasePathHosts(state, pairs); !error.Ok()) EndOnStoreError(state, error);
    if (!severalHosts) {
        std::string only;
        for (const BasePathHost& pair : pairs) only = std::max(only, pair.Hostname);
        for (BasePathHost& pair : pairs) pair.Hostname = only;
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    }
    const std::string path = options.HasPath ? StoredBasePath(state, options.Path) : std::string();
    Json list = Json::array();
    for (const BasePathHost& pair : pairs) {
        if ((options.HasPath && pair.Basepath != path) || (host && pair.Hostname != *host)) continue;
        std::vector<SnapshotListRow> rows;
        if (StoreError error = ListSnapshots(state, pair.Basepath, rows); !error.Ok()) EndOnStoreError(state, error);
        Json snapshots = Json::array();
        for (const SnapshotListRow& row : rows) {
            auto label = labels.find(row.Key);
            if (severalHosts && (label == labels.end() ? std::string() : label->second) != pair.Hostname) continue;
            snapshots.push_back({{"key", row.KeyText},
                                 {"instant", InstantJson(row.Instant)},
                                 {"utc_offset", OffsetJson(row.Utcoffset)},
                                 {"description", row.Description},
                                 {"directories", row.Totdirs},
                                 {"files", row.Totfiles},
                                 {"bytes", row.Totbytes},
                                 {"size", row.SizeText}});
        }
        list.push_back({{"path", pair.Basepath}, {"host", HostJson(pair.Hostname)}, {"snapshots", snapshots}});
    }
    PrintJson(list);
    return kExitOk;
}

// The hosts of a database that holds several: every base path once per host,
// the host after a tab. The JSON list stays one of distinct paths, so that a
// script reading it reads it whatever the database holds.
int ListBasePathsByHost(DatabaseState& state, StderrPrompter& prompter, bool json,
                        const std::optional<std::string>& host) {
    std::vector<BasePathHost> pairs;
    if (!Succeeded(state, prompter, ListBasePathHosts(state, pairs))) return kExitFailed;
    std::vector<std::string> paths;
    for (const BasePathHost& pair : pairs) {
        if (host && pair.Hostname != *host) continue;
        if (paths.empty() || paths.back() != pair.Basepath) paths.push_back(pair.Basepath);
        if (json) continue;
        PrintOut("{}\t{}\n", EscapeForDisplay(pair.Basepath), EscapeForDisplay(HostDisplayName(pair.Hostname)));
    }
    if (json) PrintJson(Json(paths));
    return kExitOk;
}

int RunList(const ListOptions& options) {
    StderrPrompter prompter;
    DatabaseState state;
    if (int rc = OpenForCommand(state, options.Db, prompter); rc != kExitOk) return rc;
    // Without --host the list is of every host: each row says whose it is,
    // so none passes for this machine's.
    std::optional<std::string> host;
    if (!options.Host.empty()) {
        if (int rc = ChooseHost(state, options.Host, host); rc != kExitOk) return rc;
    }
    // Hosts are shown only when there is more than one to tell apart; a
    // database of one machine lists as it always has.
    bool severalHosts = false;
    if (StoreError error = HoldsSeveralHosts(state, severalHosts); !error.Ok()) EndOnStoreError(state, error);
    std::map<DateTime, std::string> labels;
    if (severalHosts) {
        if (StoreError error = ReadHostLabels(state, labels); !error.Ok()) EndOnStoreError(state, error);
    }
    const auto hostOf = [&labels](const DateTime& key) {
        auto found = labels.find(key);
        return found == labels.end() ? std::string() : found->second;
    };
    if (options.Format == "json") return ListAsObjects(state, options, severalHosts, host, labels);
    if (!options.HasPath) {
        if (severalHosts) return ListBasePathsByHost(state, prompter, options.Json, host);
        std::vector<std::string> paths;
        if (!Succeeded(state, prompter, ListBasePaths(state, paths))) return kExitFailed;
        if (options.Json) {
            PrintJson(Json(paths));
        } else {
            for (const std::string& path : paths) PrintOut("{}\n", EscapeForDisplay(path));
        }
        return kExitOk;
    }

    std::string path = options.Path;
    std::vector<SnapshotListRow> rows;
    if (!Succeeded(state, prompter, ListSnapshots(state, path, rows))) return kExitFailed;
    bool ok = true;
    if (rows.empty() && !path.empty()) {
        // The snapshot command stores the path as NormalizeBasePath gives it.
        std::string normal = NormalizeBasePath(path);
        if (normal != path) ok = Succeeded(state, prompter, ListSnapshots(state, normal, rows));
    }
    if (host) std::erase_if(rows, [&](const SnapshotListRow& row) { return hostOf(row.Key) != *host; });
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
            if (severalHosts) list.back()["host"] = hostOf(row.Key);
        }
        PrintJson(list);
    } else {
        for (const SnapshotListRow& row : rows) {
            std::string key = EscapeForDisplay(row.KeyText);
            if (severalHosts) key += "\t" + EscapeForDisplay(HostDisplayName(hostOf(row.Key)));
            PrintOut("{}\t{} directories\t{} files\t{}\t{}\n", key, row.Totdirs, row.Totfiles, row.SizeText,
                     EscapeForDisplay(row.Description));
        }
    }
    return ok ? kExitOk : kExitFailed;
}

struct KeyOptions {
    std::string Db;
    std::string Key;
    std::string Host;
    bool Json = false;
};

int RunInfo(const KeyOptions& options) {
    if (int rc = CheckKeySyntax(options.Key); rc != kExitOk) return rc;
    StderrPrompter prompter;
    DatabaseState state;
    if (int rc = OpenForCommand(state, options.Db, prompter); rc != kExitOk) return rc;
    // A key names one snapshot whoever took it; latest needs a host.
    std::optional<std::string> host;
    if (options.Key == "latest" || !options.Host.empty()) {
        if (int rc = ChooseHost(state, options.Host, host); rc != kExitOk) return rc;
    }
    DateTime key;
    if (int rc = ReadKey(state, options.Key, key, host); rc != kExitOk) return rc;
    SnapshotInfo info;
    // A key the database lacks is said as "Snapshot ... not found".
    const bool loaded = Succeeded(state, prompter, LoadSnapshotInfo(state, key, info));
    if (!loaded || info.InfoBasePath.empty()) return kExitFailed;
    std::vector<Exclusion> exclusions;
    if (!Succeeded(state, prompter, ReadExclusions(state, key, exclusions))) return kExitFailed;
    // A snapshot taken before blocks were recorded has no figures on disk:
    // "—" and null say so, rather than a number made up.
    std::optional<DiskTotals> disk;
    if (!Succeeded(state, prompter, ReadDiskusageRow(state, key, disk))) return kExitFailed;
    const DiskTotals onDisk = disk.value_or(DiskTotals{});
    std::string label;
    if (!Succeeded(state, prompter, ReadHostLabel(state, key, label))) return kExitFailed;
    SnapshotTime time;
    if (!Succeeded(state, prompter, ReadSnapshotTime(state, key, time))) return kExitFailed;
    auto diskJson = [&](std::int64_t bytes) { return disk ? Json(bytes) : Json(nullptr); };
    auto diskText = [&](std::int64_t bytes) {
        return disk ? FormatNumber(bytes) + " (" + FormatSize(static_cast<double>(bytes)) + ")" : std::string("—");
    };
    if (options.Json) {
        Json leftOut = Json::array();
        for (const Exclusion& exclusion : exclusions) {
            leftOut.push_back({{"kind", ExclusionKindText(exclusion.Kind)}, {"pattern", exclusion.Pattern}});
        }
        PrintJson({{"key", FormatGeneralDate(key)},
                   {"instant", InstantJson(time.Instant)},
                   {"utc_offset", OffsetJson(time.Utcoffset)},
                   {"host", HostJson(label)},
                   {"basepath", info.InfoBasePath},
                   {"description", info.InfoDescription},
                   {"collectfiles", CollfilesText(info.InfoCollectFiles)},
                   {"filelimit", info.InfoFileLimit},
                   {"directories", info.InfoTotalDirs},
                   {"files", info.InfoTotalFiles},
                   {"bytes", info.InfoTotalBytes},
                   {"diskbytes", diskJson(onDisk.Totdiskbytes)},
                   {"filescollected", info.InfoFilesCollected},
                   {"collectedbytes", info.InfoCollectedBytes},
                   {"collecteddiskbytes", diskJson(onDisk.Filediskbytes)},
                   {"exclusions", leftOut}});
        return kExitOk;
    }
    PrintOut("Snapshot:          {}\n", FormatGeneralDate(key));
    // Recorded by the history layout only; a key alone is a local time of an unknown zone.
    if (time.Instant) PrintOut("Instant:           {}\n", FormatInstant(*time.Instant));
    if (time.Utcoffset) PrintOut("UTC offset:        {}\n", FormatUtcOffset(*time.Utcoffset));
    PrintOut("Host:              {}\n", EscapeForDisplay(HostDisplayName(label)));
    PrintOut("Base path:         {}\n", EscapeForDisplay(info.InfoBasePath));
    PrintOut("Description:       {}\n", EscapeForDisplay(info.InfoDescription));
    PrintOut("Files recorded:    {} (from {} bytes)\n", CollfilesText(info.InfoCollectFiles),
             FormatNumber(info.InfoFileLimit));
    PrintOut("Directories:       {}\n", info.InfoTotalDirs);
    PrintOut("Files:             {}\n", info.InfoTotalFiles);
    PrintOut("Bytes:             {} ({})\n", FormatNumber(info.InfoTotalBytes), FormatSize(info.InfoTotalBytes));
    PrintOut("Bytes on disk:     {}\n", diskText(onDisk.Totdiskbytes));
    PrintOut("Files collected:   {}\n", info.InfoFilesCollected);
    PrintOut("Bytes collected:   {} ({})\n", FormatNumber(info.InfoCollectedBytes),
             FormatSize(info.InfoCollectedBytes));
    PrintOut("Collected on disk: {}\n", diskText(onDisk.Filediskbytes));
    // One a line: a pattern may hold a comma or a blank.
    if (exclusions.empty()) PrintOut("Left out:          nothing\n");
    for (std::size_t i = 0; i < exclusions.size(); ++i) {
        PrintOut("{}{}\n", i == 0 ? "Left out:          " : "                   ",
                 EscapeForDisplay(ExclusionDisplayText(exclusions[i])));
    }
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
    if (!HasSnapshot(state, key)) {
        PrintMessage("Snapshot " + keyText + " not found");
        return kExitFailed;
    }
    if (state.ReadOnly) {
        PrintMessage(CannotWriteText(state) + "; snapshot " + keyText + " not deleted");
        return kExitFailed;
    }
    DeleteWait wait;
    if (StoreError error = DeleteSnapshot(state, key, wait); !error.Ok()) {
        PrintRemovalFailure(state, error, "; snapshot " + keyText + " not deleted",
                            "Snapshot " + keyText + " could not be deleted: ");
        return kExitFailed;
    }
    PrintOut("Snapshot {} deleted\n", keyText);
    return kExitOk;
}

}  // namespace

void AddListCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand("list", "List the base paths, or the snapshots of one base path, newest first");
    auto options = std::make_shared<ListOptions>();
    AddDbOption(command, options->Db);
    auto* path = command->add_option("--path", options->Path, "Base path whose snapshots are listed");
    AddHostOption(command, options->Host);
    auto* json = command->add_flag("--json", options->Json,
                                   "Print JSON as before --format: a list of base paths, or of the snapshots of --path");
    command->add_option("--format", options->Format,
                        "Output: text, or json (one object per base path and host, with its snapshots)")
        ->check(CLI::IsMember({"text", "json"}))
        ->default_val("text")
        ->excludes(json);
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
    AddHostOption(command, options->Host);
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
