#pragma once

#include "text/linereplacer.h"
#include "files/rewrite.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Recording the new environment in config.ini, the first step of a switch.
//
// The Environnement= line is rewritten as any file is ("Environnement=prod" replaced by
// "Environnement=dev", or the reverse). When config.ini, read as the settings load reads it,
// does not name the new environment after that (no Environnement= line; a line the replacement
// left as it was, such as "environnement=prod" while case counts), the new environment is
// written in its place: in the line the environment was read from, its value gets "dev" for
// "prod" (or "prod" for "dev"); without such a line, "Environnement=dev" or
// "Environnement=prod" is added as the last line. Every other byte stays as it was.

struct EnvironmentSwitch
{
    // False for UTF-16 or UTF-32 whose bytes would not come back once written as UTF-8:
    // nothing may be written.
    bool rewritable = true;
    // Whether the new content names the new environment, read as the next load reads it (the
    // directory in force kept) and as a load after a restart reads it (no directory yet).
    bool recorded = false;
    QByteArray bytes; // the new content of config.ini
    QList<LineRecord> records; // each change, for the journal, in order
};

[[nodiscard]] EnvironmentSwitch switchEnvironment(const QByteArray &configBytes, bool toProduction,
                                                  bool caseSensitive,
                                                  const QString &mainDirInForce);

// Whether config.ini's bytes name the environment, read as the settings load reads them both
// with mainDirInForce and with no directory yet.
[[nodiscard]] bool namesEnvironment(const QByteArray &configBytes, bool production,
                                    const QString &mainDirInForce);

// What became of config.ini at the start of a switch.
enum class EnvironmentOutcome {
    Recorded, // config.ini names the new environment (for a run: is prepared to)
    Unreadable, // config.ini could not be read
    NotWritten, // the rewrite failed (see write): config.ini keeps its bytes
    NotRewritable, // broken UTF-16 or UTF-32: writing it would alter it; nothing was written
    NotRecorded, // no rewrite would make it name the new environment; nothing was written
    // For a run, once every file is prepared:
    NotDurable, // the prepared files could not be made durable (see write): nothing was switched
    Changed, // config.ini changed while the run went on: it was kept, and nothing was switched
};

struct EnvironmentWrite
{
    EnvironmentOutcome outcome = EnvironmentOutcome::Recorded;
    WriteResult write;
    QList<LineRecord> records; // the changes that the new content makes
    PreparedFile prepared; // the new content of config.ini, beside it: the run puts it in place
    // The lock of that content, taken as it is made: Held when another Mirabex took it first.
    FileLock::Outcome lockOutcome = FileLock::Outcome::Failed;
};

// Prepares the new content of config.ini (see switchEnvironment) beside it, named for a run towards
// the new environment (see PreparedName) and locked (see FileLock): putting it in place records
// the new environment.
[[nodiscard]] EnvironmentWrite prepareEnvironment(const QString &configPath, bool toProduction,
                                                  bool caseSensitive, const QString &mainDirInForce,
                                                  quint64 installation = 0);
