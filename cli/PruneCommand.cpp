// corvina-cli prune: thins the history by a retention policy (store/Retention.h),
// chain by chain, so that nightly snapshots do not fill the disk they watch.
// It keeps to one host's chains (ChooseHost), so that the nightly prune of
// one machine never thins another's. It reads the catalogue, lets the policy choose, and deletes what the policy
// leaves out in one write transaction, waiting for a snapshot being written
// as delete does; then it gives the space back as compact does (a file is
// rebuilt without its free pages; a server keeps its own).
//
// Error policy: no --keep-… rule, or a count below 1, is bad usage (exit 2),
// told before the database is opened; so is --keep-last 0 without --host,
// which alone would empty the database; a base path without snapshots, a
// database that cannot be written or a delete that fails exits with 1 and
// changes nothing. A rebuild that fails after the delete is said, and the
// command still succeeds: the snapshots are gone and their free pages go to
// the next run.

#include <algorithm>
#include <map>
#include <memory>
#include <utility>

#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "store/Catalogue.h"
#include "store/HostLabel.h"
#include "store/Retention.h"

namespace corvina::cli {
namespace {

struct PruneOptions {
    RetentionPolicy Policy;
    // --keep-last 0 alone: the host named leaves the database, every
    // snapshot of it goes.
    bool Retire = false;
    std::string Host;
    std::string Path;
    bool HasPath = false;
    bool DryRun = false;
    std::string Db;
};

// The catalogue as the policy sees it, newest first within each base path.
struct Catalogue {
    std::vector<RetainedSnapshot> Snapshots;
    bool SeveralHosts = false;
};

// The base paths a prune looks at: the one given (as the snapshot command
// stores it, when the text given finds none), or all.
std::vector<std::string> BasePathsToPrune(DatabaseState& state, const PruneOptions& options) {
    std::vector<std::string> paths;
    if (!options.HasPath) {
        if (StoreError error = ListBasePaths(state, paths); !error.Ok()) EndOnStoreError(state, error);
        return paths;
    }
    std::vector<SnapshotListRow> rows;
    if (StoreError error = ListSnapshots(state, options.Path, rows); !error.Ok()) EndOnStoreError(state, error);
    return {rows.empty() ? NormalizeBasePath(options.Path) : options.Path};
}

Catalogue ReadCatalogue(DatabaseState& state, const PruneOptions& options, const std::optional<std::string>& host) {
    Catalogue catalogue;
    // In a database of one host, a snapshot without a label belongs to the
    // same chain as the labelled ones (store/HostLabel.h).
    if (StoreError error = HoldsSeveralHosts(state, catalogue.SeveralHosts); !error.Ok()) EndOnStoreError(state, error);
    std::map<DateTime, std::string> labels;
    if (catalogue.SeveralHosts) {
        if (StoreError error = ReadHostLabels(state, labels); !error.Ok()) EndOnStoreError(state, error);
    }
    for (const std::string& path : BasePathsToPrune(state, options)) {
        std::vector<SnapshotListRow> rows;
        if (StoreError error = ListSnapshots(state, path, rows); !error.Ok()) EndOnStoreError(state, error);
        for (const SnapshotListRow& row : rows) {
            auto label = labels.find(row.Key);
            RetainedSnapshot snapshot{row.Key, row.Basepath, label == labels.end() ? "" : label->second};
            if (!host || snapshot.Host == *host) catalogue.Snapshots.push_back(std::move(snapshot));
        }
    }
    // Each host's chain apart, newest first within it, as the list shows them.
    std::stable_sort(catalogue.Snapshots.begin(), catalogue.Snapshots.end(), [](const auto& a, const auto& b) {
        return std::tie(a.Basepath, a.Host) < std::tie(b.Basepath, b.Host);
    });
    return catalogue;
}

// "<verb>\t<key>\t<base path>", and the host where the database holds several.
void PrintSnapshot(std::string_view verb, const RetainedSnapshot& snapshot, bool severalHosts) {
    PrintOut("{}\t{}\t{}{}\n", verb, FormatGeneralDate(snapshot.Key), EscapeForDisplay(snapshot.Basepath),
             severalHosts ? "\t" + EscapeForDisplay(HostDisplayName(snapshot.Host)) : std::string());
}

std::string Snapshots(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " snapshot" : " snapshots");
}

// Gives the deleted snapshots' pages back to the file system. Nobody waits
// for them: a failure is said and the pages stay free for the next run.
void GiveSpaceBack(DatabaseState& state) {
    if (StoreError error = state.Engine->Compact(); !error.Ok()) {
        PrintMessage("the space of the removed snapshots stays in " + EscapeForDisplay(state.DatabasePath) +
                     " for later snapshots (" + error.Reason + "); corvina-cli compact gives it back");
    }
}

int RunPrune(const PruneOptions& options) {
    StderrPrompter prompter;
    DatabaseState state;
    if (int rc = OpenForCommand(state, options.Db, prompter); rc != kExitOk) return rc;
    // A nightly prune of one machine leaves the others' snapshots to them.
    std::optional<std::string> host;
    if (int rc = ChooseHost(state, options.Host, host); rc != kExitOk) return rc;
    const Catalogue catalogue = ReadCatalogue(state, options, host);
    if (options.HasPath && catalogue.Snapshots.empty()) {
        PrintMessage("no snapshot of " + EscapeForDisplay(options.Path) + " in the snapshot database");
        return kExitFailed;
    }
    const std::vector<bool> keep = SnapshotsToKeep(catalogue.Snapshots, options.Policy);
    std::vector<DateTime> removed;
    for (std::size_t i = 0; i < keep.size(); ++i) {
        if (!keep[i]) removed.push_back(catalogue.Snapshots[i].Key);
    }
    const std::size_t kept = keep.size() - removed.size();
    if (options.DryRun) {
        for (std::size_t i = 0; i < keep.size(); ++i) {
            PrintSnapshot(keep[i] ? "keep" : "remove", catalogue.Snapshots[i], catalogue.SeveralHosts);
        }
        PrintOut("{} would be removed, {} kept\n", Snapshots(removed.size()), kept);
        return kExitOk;
    }
    if (removed.empty()) {
        PrintOut("nothing to remove, {} kept\n", Snapshots(kept));
        return kExitOk;
    }
    if (state.ReadOnly) {
        PrintMessage(CannotWriteText(state) + "; nothing pruned");
        return kExitFailed;
    }
    DeleteWait wait;
    if (StoreError error = DeleteSnapshots(state, removed, wait); !error.Ok()) {
        PrintRemovalFailure(state, error, "; nothing pruned", "the snapshots could not be removed: ");
        return kExitFailed;
    }
    for (std::size_t i = 0; i < keep.size(); ++i) {
        if (!keep[i]) PrintSnapshot("removed", catalogue.Snapshots[i], catalogue.SeveralHosts);
    }
    GiveSpaceBack(state);
    PrintOut("{} removed, {} kept\n", Snapshots(removed.size()), kept);
    return kExitOk;
}

// A count of at least 1 (0 too where zeroToo): a rule that keeps none is no
// rule, and a policy that keeps nothing would empty the database.
CLI::Validator PositiveCount(bool zeroToo = false) {
    return CLI::Validator(
        [zeroToo](std::string& text) {
            std::size_t used = 0;
            long value = 0;
            try {
                value = std::stol(text, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used == 0 || used != text.size() || value < (zeroToo ? 0 : 1) || value > 1000000) {
                return std::string(zeroToo ? "the count must be a whole number from 0 up"
                                           : "the count must be a whole number from 1 up");
            }
            return std::string();
        },
        "N");
}

}  // namespace

void AddRetentionOptions(CLI::App* command, RetentionPolicy& policy, bool lastMayBeZero) {
    const std::pair<const char*, int*> rules[] = {
        {"--keep-last", &policy.KeepLast},       {"--keep-daily", &policy.KeepDaily},
        {"--keep-weekly", &policy.KeepWeekly},   {"--keep-monthly", &policy.KeepMonthly},
        {"--keep-yearly", &policy.KeepYearly}};
    const char* helps[] = {lastMayBeZero ? "Keep the newest N snapshots of each base path and host; 0 with --host "
                                           "and no other rule removes every snapshot of that host"
                                         : "Keep the newest N snapshots of each base path and host",
                           "Keep the newest snapshot of each of the N most recent days that have snapshots",
                           "The same for ISO weeks (Monday to Sunday)", "The same for months",
                           "The same for years"};
    for (std::size_t i = 0; i < std::size(rules); ++i) {
        command->add_option(rules[i].first, *rules[i].second, helps[i])->check(PositiveCount(lastMayBeZero && i == 0));
    }
}

std::vector<std::string> RetentionArguments(const RetentionPolicy& policy) {
    std::vector<std::string> words;
    for (const auto& [option, count] : {std::pair{"--keep-last", policy.KeepLast}, {"--keep-daily", policy.KeepDaily},
                                        {"--keep-weekly", policy.KeepWeekly}, {"--keep-monthly", policy.KeepMonthly},
                                        {"--keep-yearly", policy.KeepYearly}}) {
        if (count > 0) words.insert(words.end(), {option, std::to_string(count)});
    }
    return words;
}

void AddPruneCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand("prune", "Remove the snapshots that a retention policy does not keep");
    auto options = std::make_shared<PruneOptions>();
    AddRetentionOptions(command, options->Policy, true);
    auto* path = command->add_option("--path", options->Path, "Prune only the snapshots of this base path");
    AddHostOption(command, options->Host);
    command->add_flag("--dry-run", options->DryRun, "List what would be kept and removed; remove nothing");
    AddDbOption(command, options->Db);
    command->callback([options, exitCode, path, command] {
        options->HasPath = path->count() > 0;
        options->Retire = command->count("--keep-last") > 0 && !options->Policy.KeepsAnything();
        if (options->Retire && options->Host.empty()) {
            PrintMessage("--keep-last 0 removes every snapshot of a host: name the host with --host");
            *exitCode = kExitUsage;
            return;
        }
        if (!options->Policy.KeepsAnything() && !options->Retire) {
            PrintMessage("prune needs a rule of what to keep: --keep-last, --keep-daily, --keep-weekly, "
                         "--keep-monthly or --keep-yearly");
            *exitCode = kExitUsage;
            return;
        }
        *exitCode = RunPrune(*options);
    });
}

}  // namespace corvina::cli
