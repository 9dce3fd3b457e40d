#pragma once
// A snapshot run as the tool takes it, for every command that makes one
// (snapshot, import): progress on stderr (one updating line on a terminal,
// plain lines otherwise, at most ten a second), Ctrl-C as "Abort Snapshot ",
// then the run's messages, its error list and a summary line on stdout.

#include "capture/SnapshotRun.h"
#include "cli/CliSupport.h"

namespace corvina::cli {

// Runs the request into the open database through fileSystem (null: the
// real one) and reports it. Returns the exit code: kExitOk for a completed
// snapshot, kExitUsage for a refused request, kExitFailed otherwise.
int TakeAndReport(DatabaseState& state, const SnapshotRequest& request, StderrPrompter& prompter,
                  FileSystem* fileSystem = nullptr);

}  // namespace corvina::cli
