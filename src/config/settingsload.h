#pragma once

#include "config/settingsgrammar.h"
#include "text/textformat.h"

#include <QString>
#include <QStringList>

// Reading config.ini and values.ini from the program's folder, with no window: what was read,
// and what went wrong and where. The window phrases the outcome in its boxes.

// What stays in force from one load to the next, and what the user typed.
struct SettingsInForce
{
    QString mainDir; // a directory already chosen is kept
    QString filesFilter; // the filter of the last load
    QString typedFilter; // the text of the filter field, which outranks FilesFilter=
};

struct SettingsLoad
{
    enum class Fault {
        None,
        ConfigMissing, // no config.ini
        ConfigUnreadable, // config.ini cannot be opened or read to its end, or is no regular file
        BadEnvironment, // an Environnement= line holds neither "prod" nor "dev"
        BadMainDir, // MainDir= is empty, or names no folder (mainDirMissing tells which)
        ValuesMissing,
        ValuesUnreadable,
        ValuesIncomplete, // no pair, or lists of different lengths
        ValuesNotClean, // a value line holds NUL or badly encoded bytes (see badLine)
    };
    Fault fault = Fault::None;
    QString configPath;
    QString valuesPath;

    // What config.ini's lines said, also up to the line that was refused (see readConfigLines).
    ConfigSettings config;
    bool mainDirMissing = false; // BadMainDir with a non-empty MainDir= naming nothing
    // The filter for the run, once config.ini was read whole and MainDir= found: the typed one,
    // or FilesFilter=, or the default.
    QString filesFilter;
    ValuePairs values;
    qsizetype badLine = 0; // ValuesNotClean: the line at fault, from 1
};

// Reads config.ini and then values.ini from folder, stopping at the first fault.
[[nodiscard]] SettingsLoad loadSettingsFiles(const QString &folder, const SettingsInForce &inForce);

// Reads the lines of a settings file; false when it cannot be opened or read to its end, or is
// no regular file (a FIFO would block the program, a device such as /dev/zero never ends).
[[nodiscard]] bool readSettingsLines(const QString &path, TextLines &lines);
