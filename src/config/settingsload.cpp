#include "config/settingsload.h"

#include "files/filesystem.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

bool readSettingsLines(const QString &path, TextLines &lines)
{
    // The file is read in binary: a line ends at a line feed only, a lone carriage return is text.
    if (!QFileInfo(path).isFile())
        return false;
    QByteArray bytes;
    if (!readFileBytes(path, bytes))
        return false;
    lines = decodeLines(bytes);
    return true;
}

SettingsLoad loadSettingsFiles(const QString &folder, const SettingsInForce &inForce)
{
    using Fault = SettingsLoad::Fault;
    SettingsLoad load;
    load.configPath = folder + QStringLiteral("/config.ini");
    load.valuesPath = folder + QStringLiteral("/values.ini");
    load.config.mainDir = inForce.mainDir;
    load.config.filesFilter = inForce.filesFilter;

    if (!QFile::exists(load.configPath)) {
        load.fault = Fault::ConfigMissing;
        return load;
    }
    TextLines lines;
    if (!readSettingsLines(load.configPath, lines)) {
        load.fault = Fault::ConfigUnreadable;
        return load;
    }
    // Whatever bytes its other lines hold: only the keys count, and they are ASCII.
    const ConfigStatus status = readConfigLines(lines.lines, load.config);
    for (const QString &environment : std::as_const(load.config.environmentLines))
        qDebug().noquote() << "Environnement=" + readableText(environment);
    if (status == ConfigStatus::BadEnvironment) {
        load.fault = Fault::BadEnvironment;
        return load;
    }
    if (load.config.mainDir.isEmpty()
        || !QDir(folderPathFromSettings(load.config.mainDir)).exists()) {
        load.mainDirMissing = !load.config.mainDir.isEmpty();
        load.fault = Fault::BadMainDir;
        return load;
    }

    // What the user typed in the filter field outranks FilesFilter=.
    load.filesFilter = !inForce.typedFilter.isEmpty() ? inForce.typedFilter
            : !load.config.filesFilter.isEmpty()      ? load.config.filesFilter
                                                      : defaultFilesFilter.toString();

    if (!QFile::exists(load.valuesPath)) {
        load.fault = Fault::ValuesMissing;
        return load;
    }
    if (!readSettingsLines(load.valuesPath, lines)) {
        load.fault = Fault::ValuesUnreadable;
        return load;
    }
    load.values = readValueLines(lines.lines);
    if (!load.values.isComplete()) {
        load.fault = Fault::ValuesIncomplete;
        return load;
    }
    // Values read from NUL bytes or from bytes that are not valid in the file's encoding would be
    // written into the files of the tree as NUL characters, or as bytes other than those the user
    // meant: the text would be lost, and a file holding a NUL is never rewritten again, not even
    // to switch it back. Other lines (comments) may hold anything.
    for (qsizetype i = 0; i < lines.lines.size(); ++i) {
        if (lines.clean.at(i) || !givesValue(lines.lines.at(i)))
            continue;
        load.fault = Fault::ValuesNotClean;
        load.badLine = i + 1;
        return load;
    }
    return load;
}
