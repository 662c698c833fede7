#include "switching/switchrun.h"

#include "switching/filecollector.h"
#include "switching/filesystem.h"
#include "switching/readahead.h"

#include <QSet>

#include <optional>

SwitchRun switchTree(const SwitchRequest &request, SwitchObserver &observer)
{
    SwitchRun run;
    QStringList unreadableDirectories;
    collectFiles(request.mainDir, run.files, request.recurse, request.filterText,
                 &unreadableDirectories);

    // The new environment is recorded in config.ini before any file is switched: a tree in one
    // environment with config.ini naming the other would be switched the wrong way, or twice the
    // same way, by the next run.
    run.environment = recordEnvironment(request.configPath, !request.fromProduction,
                                        observer.caseSensitive(), request.mainDir);
    if (run.environment.outcome != EnvironmentOutcome::Recorded)
        return run;
    for (const LineRecord &record : std::as_const(run.environment.records))
        observer.lineRecorded(request.configPath, record);

    // A pair with an empty value would only work one way: the switch back could not undo it.
    QList<qsizetype> leftAside;
    const ValuePairs usable = request.pairs.usablePairs(&leftAside);
    for (const qsizetype pair : std::as_const(leftAside))
        observer.pairLeftAside(request.pairs.prodValues.at(pair), request.pairs.devValues.at(pair));

    // The values of the run, ready for the search in each file, for either state of
    // "Sensible à la case", which the user may change while the run goes.
    const QStringList &fromValues = request.fromProduction ? usable.prodValues : usable.devValues;
    const QStringList &toValues = request.fromProduction ? usable.devValues : usable.prodValues;
    const SwitchValues valuesBySensitivity[2] = { SwitchValues(fromValues, toValues, false),
                                                  SwitchValues(fromValues, toValues, true) };
    auto values = [&](bool caseSensitive) -> const SwitchValues & {
        return valuesBySensitivity[caseSensitive ? 1 : 0];
    };

    QSet<QString> handled;
    for (const QString &settingsFile : { request.configPath, request.valuesPath }) {
        const QString identity = fileIdentity(settingsFile);
        if (!identity.isEmpty())
            handled.insert(identity);
    }

    // A folder that could not be listed is said before the files; one reached by two paths (a
    // link to it) is said once.
    QSet<QString> unreadableIdentities;
    for (const QString &directory : std::as_const(unreadableDirectories)) {
        const QString identity = fileIdentity(directory);
        if (!identity.isEmpty() && unreadableIdentities.contains(identity))
            continue;
        unreadableIdentities.insert(identity);
        observer.folderNotRead(directory);
        ++run.foldersLeftBehind;
    }

    observer.filesStarting(run.files.size());
    // The next files are read and searched on the other core while this loop rewrites files and
    // hands their records on.
    ReadAhead readAhead(
            run.files,
            [&](const QByteArray &bytes, bool caseSensitive) {
                return bytesHoldAnyValue(bytes, values(caseSensitive));
            },
            observer.caseSensitive());
    const auto onRecord = [&](const QString &path) {
        return [&observer, &path](const LineRecord &record) {
            observer.lineRecorded(path, record);
        };
    };
    qsizetype counter = 0;
    for (const QString &path : std::as_const(run.files)) {
        ++counter;
        if (counter % 10 == 0) {
            observer.progress(counter);
            readAhead.setCaseSensitive(observer.caseSensitive());
        }
        const FileStamp stamp = fileStamp(path);
        std::optional<ReadAhead::File> ahead = readAhead.take(counter - 1, stamp);
        QString identity = stamp.identity();
        if (handled.contains(identity))
            continue;
        // Each file is read once, for the search and for the replacement: ahead of its turn when
        // it has not changed since, now otherwise.
        QByteArray bytes;
        bool holdsValue = false;
        const bool caseSensitive = observer.caseSensitive();
        if (ahead) {
            bytes = std::move(ahead->bytes);
            holdsValue = ahead->caseSensitive == caseSensitive
                    ? ahead->holdsValue
                    : bytesHoldAnyValue(bytes, values(caseSensitive));
        } else if (readWholeFile(path, bytes)) {
            holdsValue = bytesHoldAnyValue(bytes, values(caseSensitive));
        } else {
            const bool missing = isMissingFile(path);
            observer.fileNotRead(path, missing);
            if (!missing)
                ++run.filesLeftBehind;
        }
        if (holdsValue) {
            const FileSwitch switched =
                    switchFileInPlace(bytes, values(caseSensitive), path, onRecord(path));
            switch (switched.outcome) {
            case FileOutcome::Switched:
                // Known by what the path leads to once done: a rewritten file is a new file in
                // the folder. Another hard link to the file as it was keeps the old content and
                // is switched in turn.
                identity = fileIdentity(path);
                break;
            case FileOutcome::NotWritten:
                // Nothing was written: another name of the same file is tried in its turn.
                identity.clear();
                observer.fileLeftBehind(path, switched);
                ++run.filesLeftBehind;
                break;
            case FileOutcome::LeftIntact:
                observer.fileLeftBehind(path, switched);
                ++run.filesLeftBehind;
                break;
            case FileOutcome::NoValue:
                break;
            }
        }
        if (!identity.isEmpty())
            handled.insert(identity);
    }
    return run;
}
