#pragma once
// What the windows of the program share: the open database, the one prompter
// every message goes through, the way the program ends, the settings store
// and the file dialogs. Built once by start-up (or by a test) and handed to
// each window by reference; the windows own none of it.

class QSettings;

namespace corvina {

struct DatabaseState;
class Prompter;
class ProgramEnder;
class FileDialogs;
class FileSystem;

struct ProgramContext {
    DatabaseState& Database;
    Prompter& Messages;
    ProgramEnder& Ender;
    QSettings& Settings;
    FileDialogs& Dialogs;
    FileSystem* Disk = nullptr;  // what snapshot runs read; null = the real file system
};

// The same context with another prompter: a window's copy, whose messages show over it.
inline ProgramContext WithMessages(const ProgramContext& context, Prompter& messages) {
    return {context.Database, messages, context.Ender, context.Settings, context.Dialogs, context.Disk};
}

}  // namespace corvina
