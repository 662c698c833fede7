// Times a switch of a generated tree by the real window, side by side with the classic shell
// pipeline (grep -rlZF | xargs -0 sed -i) and with reading every byte of the tree (cat).
//
//   switchbench [--case medium|large|bigfile|nothing|all] [--runs N] [--dir FOLDER] [--seed N]
//               [--insensitive] [--scale F] [--disk FOLDER]
//   switchbench --many-pairs | --huge-settings | --peak-memory | --deep-tree [--dir FOLDER]
//               [--scale F]
//
// The trees live in a tmpfs folder (/dev/shm) unless --dir names another one; with --disk, each
// case runs there too, in a folder of a real disk, where making files durable costs what it
// costs on a user's machine. Each run works on a
// fresh copy of the generated tree; Mirabex and the pipelines alternate. The window runs in a
// child process (this same program, with --run-mirabex) so that its peak memory is its own. The
// medium and large trees are switched there and back, each direction timed on its own row: the
// switch back starts from what the switch there left.
//
// Two peers: the case-sensitive pipeline, and for the runs with "Sensible à la case" unticked the
// case-insensitive one (grep -i, sed's I flag, LC_ALL=C); each row's ratio is against the peer of
// its mode. Each Mirabex row also gives the window's waits: how long its thread went without
// letting events through during the click, the longest of all runs ("wait ms") and the median of
// the runs' 95th percentiles ("p95 ms"). --desktop runs the window on the real X11 platform with
// accessibility on, as on a desktop with assistive technology: start it inside
// bench/desktop-session.sh, which provides a display, a session bus, the accessibility bus and a
// client that listens to the window. MIRABEX_BENCH_GAPS=1 prints each wait over 60 ms, and when
// it ended after the click.
//
// The other modes time the window alone, in a child process, over what the peer cases do not
// cover: 10,000 pairs, settings files of 100 MB, a file of 1 GiB (with the memory that its switch
// takes over what the window held before), 500 folders one inside the other.

#include "treegenerator.h"
#include "switching/gui/journal.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStringDecoder>
#include <QProgressBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

QTextStream out(stdout);

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

double longest(const QList<double> &values)
{
    return values.isEmpty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

// A field of /proc/self/status in kB: "VmHWM:" the peak resident memory, "VmRSS:" the present.
long statusKilobytes(const char *field = "VmHWM:");

constexpr int probeIntervalMs = 10;

struct WindowWaits
{
    double longestMs = 0;
    double p95Ms = 0;
};

// The waits of the window from the gaps between the firings of a timer due every
// probeIntervalMs (in ns): each gap less the interval, the longest and the 95th percentile.
WindowWaits windowWaits(QList<qint64> gaps)
{
    WindowWaits waits;
    for (qint64 &gap : gaps)
        gap = qMax<qint64>(0, gap - qint64(probeIntervalMs) * 1000000);
    if (gaps.isEmpty())
        return waits;
    std::sort(gaps.begin(), gaps.end());
    waits.longestMs = double(gaps.last()) / 1e6;
    const qsizetype rank = qsizetype(std::ceil(double(gaps.size()) * 0.95));
    waits.p95Ms = double(gaps.at(qBound(qsizetype(0), rank - 1, gaps.size() - 1))) / 1e6;
    return waits;
}

// In the child: the real window, a click on "Échanger les valeurs", the time until the progress
// bar is hidden again, the processor time the program took meanwhile (all its threads), and how
// long the window's thread went without answering (see WindowWaits).
int runMirabex(int argc, char *argv[], bool caseSensitive)
{
    if (!qEnvironmentVariableIsSet("MIRABEX_BENCH_DESKTOP"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainWindow window;
    if (window.startupFailed())
        return 2;
    window.show();
    // What the window queued as it started (the look for a switch stopped half-way last time) is
    // done before a user can click.
    QCoreApplication::processEvents();
    window.findChild<QCheckBox *>(QStringLiteral("cbSensitive"))->setChecked(caseSensitive);
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton"));
    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QElapsedTimer timer;
    // A run that leaves binary files holding values in the old environment ends with a warning
    // box: it is closed at once, and the run counts as done when it shows.
    qint64 atBox = -1;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            if (atBox < 0)
                atBox = timer.nsecsElapsed();
            box->accept();
        }
    });
    closer.start(1);
    // Under sharefs, the requests of the click are told from those of the start-up: sharefs
    // prints its counts so far at each SIGUSR1, here just before the click and just after it.
    const QString sharefs = qEnvironmentVariable("MIRABEX_BENCH_SHAREFS_PID");
    const auto markRequests = [&] {
        if (!sharefs.isEmpty()) {
            QProcess::execute(QStringLiteral("kill"), { QStringLiteral("-USR1"), sharefs });
            QThread::msleep(50);
        }
    };
    markRequests();
    // The window's waits: a timer due every 10 ms fires only when the window's thread lets
    // events through, so each firing comes as late as the window went without answering. The
    // timer only reads the clock; the gaps are worked out once the run is over.
    QList<qint64> gaps;
    gaps.reserve(1 << 17);
    QElapsedTimer sinceStart;
    qint64 lastFired = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(probeIntervalMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = sinceStart.nsecsElapsed();
        if (now - lastFired > 60000000 && qEnvironmentVariableIsSet("MIRABEX_BENCH_GAPS"))
            std::fprintf(stderr, "gap %.1f ms ending at %.1f ms\n", double(now - lastFired) / 1e6,
                         double(now) / 1e6);
        gaps.append(now - lastFired);
        lastFired = now;
    });
    probe.start();
    sinceStart.start();
    timer.start();
    const std::clock_t processor = std::clock();
    button->click();
    const qint64 elapsed = atBox >= 0 ? atBox : timer.nsecsElapsed();
    const double processorS = double(std::clock() - processor) / CLOCKS_PER_SEC;
    // A run that ended while the timer was overdue waited at least that long.
    gaps.append(sinceStart.nsecsElapsed() - lastFired);
    probe.stop();
    const WindowWaits waits = windowWaits(gaps);
    markRequests();
    if (!bar->isHidden())
        return 3;
    const int blocks =
            window.findChild<QPlainTextEdit *>(QStringLiteral("teJournal"))->blockCount();
    // The peak resident memory of this process since it started this program (ru_maxrss would
    // also count the memory of the benchmark that forked it).
    const long peakKb = statusKilobytes();
    std::printf("%lld %ld %d %.3f %.1f %.1f\n", static_cast<long long>(elapsed), peakKb, blocks,
                processorS, waits.longestMs, waits.p95Ms);
    return 0;
}

long statusKilobytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith(field))
                return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLong();
        }
    }
    return 0;
}

// In the child: the window built (its load of the settings timed), then a switch and a switch
// back, the first with the processor time of this process and the peak of its resident memory
// (set back to the present size just before, where the system allows it).
int runTimed(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QElapsedTimer timer;
    timer.start();
    MainWindow window;
    const qint64 startup = timer.nsecsElapsed();
    if (window.startupFailed())
        return 2;
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton"));
    bool boxShown = false; // no run of these modes shows a box: one closed is a failure
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxShown = true;
            box->reject();
        }
    });
    closer.start(1);
    const long residentKb = statusKilobytes("VmRSS:");
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    const bool peakReset = clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
    clearRefs.close();
    const std::clock_t processor = std::clock();
    timer.restart();
    button->click();
    const qint64 switched = timer.nsecsElapsed();
    const double processorS = double(std::clock() - processor) / CLOCKS_PER_SEC;
    const long peakKb = peakReset ? statusKilobytes() : 0;
    timer.restart();
    button->click();
    const qint64 back = timer.nsecsElapsed();
    if (boxShown)
        return 4;
    std::printf("%.3f %.3f %.3f %.3f %ld %ld\n", double(startup) / 1e9, double(switched) / 1e9,
                processorS, double(back) / 1e9, residentKb, peakKb);
    return 0;
}

// In the child: the floor of the journal, the time and memory that records of the shape of the
// big file's take in the window's journal alone, added as a switch adds them.
int runJournalFloor(int argc, char *argv[], int records)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QPlainTextEdit edit;
    edit.setReadOnly(true);
    edit.setUndoRedoEnabled(false);
    const QString path = QStringLiteral("\\dev\\shm\\mirabex-bench\\work\\master\\gros.log");
    QElapsedTimer timer;
    timer.start();
    {
        Journal journal(&edit);
        for (int i = 0; i < records; ++i) {
            journal.appendHeader(Journal::Colour::Green, QStringLiteral("Fichier modifié : "),
                                 path);
            journal.appendPlainText(QStringLiteral("Avant : url=db-prod-00.exemple.frma_base"));
            journal.appendPlainText(QStringLiteral("Après : url=db-recette-00.exemple.frma_base"));
        }
    }
    std::printf("%lld %ld %d\n", static_cast<long long>(timer.nsecsElapsed()), statusKilobytes(),
                edit.blockCount());
    return 0;
}

bool shell(const QString &command, double *seconds = nullptr)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), command });
    process.waitForFinished(-1);
    if (seconds)
        *seconds = double(timer.nsecsElapsed()) / 1e9;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() > 1) {
        out << "command failed: " << command << "\n" << process.readAllStandardError() << Qt::endl;
        return false;
    }
    return true;
}

QString quoted(const QString &path)
{
    QString q = path;
    q.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + q + u'\'';
}

// A sed script with one literal s///g command per pair.
QByteArray sedScript(const QList<QPair<QString, QString>> &pairs)
{
    auto escapePattern = [](const QString &text) {
        QByteArray escaped;
        for (char c : text.toUtf8()) {
            if (QByteArrayView("\\/.*[]^$").contains(c))
                escaped += '\\';
            escaped += c;
        }
        return escaped;
    };
    auto escapeReplacement = [](const QString &text) {
        QByteArray escaped;
        for (char c : text.toUtf8()) {
            if (c == '\\' || c == '/' || c == '&')
                escaped += '\\';
            escaped += c;
        }
        return escaped;
    };
    QByteArray script;
    for (const auto &pair : pairs)
        script += "s/" + escapePattern(pair.first) + '/' + escapeReplacement(pair.second) + "/g\n";
    return script;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// One row of the window-alone modes: the settings next to this program, then runTimed in a child.
bool timedRow(const QString &label, const QByteArray &config, const QByteArray &values,
              qint64 fileBytes = 0)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    writeFile(appDir + QStringLiteral("/config.ini"), config);
    writeFile(appDir + QStringLiteral("/values.ini"), values);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--run-timed") });
    child.waitForFinished(-1);
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (child.exitCode() != 0 || fields.size() != 6) {
        out << label << ": the window's run failed (" << child.exitCode() << ")" << Qt::endl;
        return false;
    }
    const double resident = fields.at(4).toDouble() / 1024, peak = fields.at(5).toDouble() / 1024;
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                    .arg(label, -32)
                    .arg(QString::fromLatin1(fields.at(0)), 10)
                    .arg(QString::fromLatin1(fields.at(1)), 9)
                    .arg(QString::fromLatin1(fields.at(2)), 12)
                    .arg(QString::fromLatin1(fields.at(3)), 7)
                    .arg(resident, 12, 'f', 0)
                    .arg(peak, 8, 'f', 0);
    if (fileBytes > 0 && peak > 0)
        out << QStringLiteral("  growth %1 MB, %2 × the file")
                        .arg(peak - resident, 0, 'f', 0)
                        .arg((peak - resident) * 1048576 / double(fileBytes), 0, 'f', 2);
    out << Qt::endl;
    return true;
}

QByteArray configFor(const QString &tree, const QByteArray &before = QByteArray())
{
    return before + "MainDir=" + tree.toUtf8() + "\nFilesFilter=*.ini\nEnvironnement=prod\n";
}

QByteArray valuesFor(const QList<QPair<QString, QString>> &pairs, const QByteArray &before = {})
{
    QByteArray values = before;
    for (const auto &pair : pairs)
        values += "prodVal=" + pair.first.toUtf8() + "\ndevVal=" + pair.second.toUtf8() + '\n';
    return values;
}

// The window-alone modes; false when a run failed.
bool windowAlone(const QCommandLineParser &parser, const QString &base, double scale)
{
    out << "case                             start-up s  switch s  processor s  back s  resident MB"
           "  peak MB"
        << Qt::endl;
    const QString tree = base + QStringLiteral("/arbre");
    const QList<QPair<QString, QString>> onePair{ { QStringLiteral("hote.exemple.fr"),
                                                    QStringLiteral("hote.exemple.fr.recette") } };
    const QByteArray withValue = "# réglages\nhote=hote.exemple.fr\nport=5432\n";
    bool ok = true;
    if (parser.isSet("many-pairs")) {
        // Values from the start, the middle and the end of the list, several on one line.
        const int count = qMax(2, int(10000 * scale));
        QList<QPair<QString, QString>> pairs;
        for (int i = 0; i < count; ++i)
            pairs.append(
                    { QStringLiteral("srv%1.prod.exemple.fr").arg(i, 5, 10, QLatin1Char('0')),
                      QStringLiteral("srv%1.dév.exemple.fr").arg(i, 5, 10, QLatin1Char('0')) });
        const QString line = QStringLiteral("a=%1\n<h>%2</h><h>%3</h>\nliste=%4;%1\n")
                                     .arg(pairs.first().first, pairs.at(count / 2 - 1).first,
                                          pairs.at(count / 2).first, pairs.last().first);
        writeFile(tree + QStringLiteral("/premier.ini"), line.toUtf8());
        writeFile(tree + QStringLiteral("/aucun.ini"), "srv1.prod.exemple.fr (pas une valeur)\n");
        ok = timedRow(QStringLiteral("%1 pairs").arg(count), configFor(tree), valuesFor(pairs));
    }
    if (ok && parser.isSet("huge-settings")) {
        // Lines that match no key before the keys, as in a file that an editor filled up.
        QDir(tree).removeRecursively();
        QByteArray block;
        for (int i = 0; block.size() < (1 << 20); ++i)
            block += "; ligne " + QByteArray::number(i)
                    + " : un commentaire ordinaire, comme en "
                      "laissent les éditeurs de réglages\n";
        const QByteArray filler = block.repeated(qMax(1, int(100 * scale)));
        const QString megabytes = QString::number(filler.size() >> 20);
        writeFile(tree + QStringLiteral("/app.ini"), withValue);
        ok = timedRow(QStringLiteral("config.ini of %1 MB").arg(megabytes), configFor(tree, filler),
                      valuesFor(onePair))
                && timedRow(QStringLiteral("values.ini of %1 MB").arg(megabytes), configFor(tree),
                            valuesFor(onePair, filler));
    }
    if (ok && parser.isSet("peak-memory")) {
        // Text lines, the value 1 KiB before the end or nowhere: the file is held once in
        // memory, not twice nor as UTF-16 text.
        const qint64 size = qint64(double(1 << 30) * scale);
        QByteArray block;
        for (int i = 0; block.size() < (1 << 20); ++i)
            block += "squadina_" + QByteArray::number(i).rightJustified(8, '0')
                    + " = ykwbasi cuvig zanduk bijuwa, ça y va; kiwi junga 0123456789 busq\n";
        for (const bool holdsValue : { true, false }) {
            QDir(tree).removeRecursively();
            QDir().mkpath(tree);
            QFile file(tree + QStringLiteral("/gros.ini"));
            file.open(QIODevice::WriteOnly);
            while (file.size() < size - 1024)
                file.write(block.left(qMin(qint64(block.size()), size - 1024 - file.size())));
            file.write(holdsValue ? withValue : QByteArray("# réglages\nport=5432\n"));
            file.close();
            const qint64 bytes = QFileInfo(file).size();
            const QString label = QStringLiteral("%1 MB, %2")
                                          .arg(bytes >> 20)
                                          .arg(holdsValue ? QStringLiteral("a value")
                                                          : QStringLiteral("no value"));
            ok = ok && timedRow(label, configFor(tree), valuesFor(onePair), bytes);
        }
    }
    if (ok && parser.isSet("deep-tree")) {
        // A deep walk used to cost far more than a wide one.
        const int folders = qMax(1, int(500 * scale));
        QString deep = tree + QStringLiteral("/profond");
        for (int i = 0; i < folders; ++i) {
            deep += QStringLiteral("/d");
            writeFile(deep + QStringLiteral("/v.ini"), withValue);
            writeFile(tree + QStringLiteral("/large/d%1/v.ini").arg(i), withValue);
        }
        ok = timedRow(QStringLiteral("%1 folders side by side").arg(folders),
                      configFor(tree + QStringLiteral("/large")), valuesFor(onePair))
                && timedRow(QStringLiteral("%1 folders one in another").arg(folders),
                            configFor(tree + QStringLiteral("/profond")), valuesFor(onePair));
    }
    QDir(base).removeRecursively();
    return ok;
}

// Each direction's pipelines, with %3 for the tree: grep | sed, case-sensitive and
// case-insensitive (grep -i, sed's I flag, LC_ALL=C), and the same with ripgrep's parallel walk
// (16 threads) and 16 seds at once, 50 files each. Their patterns and scripts are written in base.
struct Pipelines
{
    QStringList grep, grepInsensitive, rg, rgInsensitive;
};

Pipelines pipelinesFor(const QString &base, const QList<QList<QPair<QString, QString>>> &directions)
{
    Pipelines pipelines;
    for (qsizetype d = 0; d < directions.size(); ++d) {
        QStringList fromValues;
        for (const auto &pair : std::as_const(directions.at(d)))
            fromValues.append(pair.first);
        const QString name = base + QStringLiteral("/direction%1").arg(d);
        const QString patterns = quoted(name + QStringLiteral("-patterns.txt"));
        const QString script = quoted(name + QStringLiteral(".sed"));
        const QString insensitiveScript = quoted(name + QStringLiteral("-i.sed"));
        writeFile(name + QStringLiteral("-patterns.txt"),
                  (fromValues.join(u'\n') + u'\n').toUtf8());
        QByteArray sed = sedScript(directions.at(d));
        writeFile(name + QStringLiteral(".sed"), sed);
        writeFile(name + QStringLiteral("-i.sed"), sed.replace("/g\n", "/gI\n"));
        pipelines.grep.append(
                QStringLiteral("LC_ALL=C.UTF-8 grep -rlZF -f %1 %3 | xargs -0 -r sed -i -f %2")
                        .arg(patterns, script));
        pipelines.grepInsensitive.append(
                QStringLiteral("LC_ALL=C grep -rlZiF -f %1 %3 | xargs -0 -r sed -i -f %2")
                        .arg(patterns, insensitiveScript));
        // Hidden files, files that ignore lists name and binary files are searched, as grep -r
        // searches them.
        pipelines.rg.append(QStringLiteral("LC_ALL=C.UTF-8 rg -j16 -l0 -uuu -F -f %1 %3 "
                                           "| xargs -0 -r -P16 -n 50 sed -i -f %2")
                                    .arg(patterns, script));
        pipelines.rgInsensitive.append(QStringLiteral("LC_ALL=C rg -j16 -l0 -uuu -iF -f %1 %3 "
                                                      "| xargs -0 -r -P16 -n 50 sed -i -f %2")
                                               .arg(patterns, insensitiveScript));
    }
    return pipelines;
}

// Whether a file's bytes are compared: LF line ends, no byte-order mark, valid UTF-8, no NUL.
bool comparable(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF") || bytes.contains('\r') || bytes.contains('\0'))
        return false;
    if (!bytes.isEmpty() && !bytes.endsWith('\n'))
        return false;
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    (void)QString(decoder.decode(bytes));
    return !decoder.hasError();
}

// What one direction of a case gives over its runs.
struct DirectionResult
{
    QList<double> mirabex, peer, insensitivePeer;
    QList<double> processor; // Mirabex's processor time, all threads
    QList<double> waitLongest, waitP95; // the window's waits in each run (ms)
    long peakKb = 0;
    int journalBlocks = 0;
    int compared = 0, differing = 0;
};

// Compares Mirabex's tree with the peer's, file by file where the pipeline's result can be
// compared (the first files that differ are named).
void compareTrees(const QString &mirabexTree, const QString &peerTree, DirectionResult &result)
{
    QDirIterator it(peerTree, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile peerFile(path);
        QFile mirabexFile(mirabexTree + path.mid(peerTree.size()));
        peerFile.open(QIODevice::ReadOnly);
        mirabexFile.open(QIODevice::ReadOnly);
        const QByteArray peerBytes = peerFile.readAll();
        if (!comparable(peerBytes))
            continue;
        ++result.compared;
        if (peerBytes != mirabexFile.readAll() && result.differing++ < 3)
            out << "  differs: " << path << Qt::endl;
    }
}

// One switch by the window in a child process, in the direction that config.ini names.
// With sharefsPid, the child marks the requests of the click (see runMirabex).
bool runMirabexChild(bool caseSensitive, bool desktop, DirectionResult &result,
                     qint64 sharefsPid = 0)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (desktop) {
        environment.insert(QStringLiteral("MIRABEX_BENCH_DESKTOP"), QStringLiteral("1"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    }
    if (sharefsPid > 0)
        environment.insert(QStringLiteral("MIRABEX_BENCH_SHAREFS_PID"),
                           QString::number(sharefsPid));
    child.setProcessEnvironment(environment);
    if (qEnvironmentVariableIsSet("MIRABEX_BENCH_GAPS"))
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--run-mirabex"),
                  caseSensitive ? QStringLiteral("sensitive") : QStringLiteral("insensitive") });
    child.waitForFinished(-1);
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (child.exitCode() != 0 || fields.size() != 6) {
        out << "Mirabex run failed (" << child.exitCode() << "): " << child.readAllStandardError()
            << Qt::endl;
        return false;
    }
    result.mirabex.append(fields.at(0).toDouble() / 1e9);
    result.peakKb = qMax(result.peakKb, fields.at(1).toLong());
    result.journalBlocks = fields.at(2).toInt();
    result.processor.append(fields.at(3).toDouble());
    result.waitLongest.append(fields.at(4).toDouble());
    result.waitP95.append(fields.at(5).toDouble());
    return true;
}

#ifdef MIRABEX_BENCH_SHAREFS
constexpr bool sharefsBuilt = true;
#else
constexpr bool sharefsBuilt = false;
#endif

// A sharefs mount of a folder for one run: mounted when made, gone when unmounted or destroyed.
class ShareMount
{
public:
    ShareMount(const QString &source, const QString &mountPoint, int delayUs)
        : m_mountPoint(mountPoint)
    {
        m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/sharefs"),
                        { source, mountPoint, QStringLiteral("-f"), QStringLiteral("-o"),
                          QStringLiteral("delay_us=%1,stats").arg(delayUs) });
        // "ready" once the mount is in place.
        while (m_process.waitForReadyRead(10000)) {
            if (m_process.readAllStandardOutput().contains("ready")) {
                m_mounted = true;
                return;
            }
        }
        out << "sharefs did not mount " << mountPoint << ": " << m_process.readAllStandardError()
            << Qt::endl;
        m_process.kill();
        m_process.waitForFinished();
    }
    ~ShareMount() { unmount(); }
    ShareMount(const ShareMount &) = delete;
    ShareMount &operator=(const ShareMount &) = delete;

    bool mounted() const { return m_mounted; }
    qint64 processId() const { return m_process.processId(); }

    // Unmounts, waits for sharefs to end and returns its counts of requests by kind: those it
    // printed on the way (on SIGUSR1), then those of the whole mount.
    QStringList unmount()
    {
        if (!m_mounted)
            return {};
        m_mounted = false;
        // The last program to use the mount may have just ended: its files close a moment later.
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (QProcess::execute(QStringLiteral("fusermount3"),
                                  { QStringLiteral("-u"), QStringLiteral("-q"), m_mountPoint })
                        == 0
                || QProcess::execute(QStringLiteral("umount"), { m_mountPoint }) == 0)
                break;
            QThread::msleep(100);
        }
        if (!m_process.waitForFinished(60000)) {
            out << "sharefs did not end after the unmount of " << m_mountPoint << Qt::endl;
            m_process.kill();
            m_process.waitForFinished();
        }
        QStringList counts;
        for (const QString &line :
             QString::fromUtf8(m_process.readAllStandardError()).split(u'\n')) {
            if (line.startsWith(QStringLiteral("sharefs stats")))
                counts.append(line.section(u':', 1).trimmed());
        }
        return counts;
    }

    // A mount left by a benchmark that was stopped half-way.
    static void clearStale(const QString &mountPoint)
    {
        QProcess process;
        process.start(
                QStringLiteral("fusermount3"),
                { QStringLiteral("-u"), QStringLiteral("-z"), QStringLiteral("-q"), mountPoint });
        process.waitForFinished();
    }

private:
    QProcess m_process;
    QString m_mountPoint;
    bool m_mounted = false;
};

// Counts of requests by kind, as sharefs prints them ("lookup=12 getattr=30 ...").
using RequestCounts = QList<QPair<QString, qint64>>;

RequestCounts parseCounts(const QString &line)
{
    RequestCounts counts;
    for (const QString &field : line.split(u' ', Qt::SkipEmptyParts))
        counts.append({ field.section(u'=', 0, 0), field.section(u'=', 1).toLongLong() });
    return counts;
}

QString countsText(const RequestCounts &counts)
{
    QStringList fields;
    for (const auto &count : counts) {
        if (count.second != 0)
            fields.append(count.first + u'=' + QString::number(count.second));
    }
    return fields.join(u' ');
}

// The requests between two prints; the most at once is the later print's (since the earlier).
RequestCounts countsBetween(const RequestCounts &before, const RequestCounts &after)
{
    RequestCounts between;
    for (const auto &count : after) {
        qint64 earlier = 0;
        for (const auto &old : before) {
            if (old.first == count.first)
                earlier = old.second;
        }
        between.append({ count.first,
                         count.first == QLatin1String("most-at-once") ? count.second
                                                                      : count.second - earlier });
    }
    return between;
}

// What the requests of one side tell: for Mirabex, those of the click and those of its start-up
// (the two prints around the click), for a pipeline, all.
QString requestsText(const QStringList &printed)
{
    if (printed.size() >= 3)
        return QStringLiteral("click: ")
                + countsText(countsBetween(parseCounts(printed.at(0)), parseCounts(printed.at(1))))
                + QStringLiteral("; start-up: ") + countsText(parseCounts(printed.at(0)));
    return printed.isEmpty() ? QStringLiteral("(none printed)") : printed.last();
}

// What one direction of one side of the share case gives over its runs.
struct ShareResult
{
    DirectionResult mirabex; // Mirabex, and in peer the grep pipeline of the mode
    QList<double> rg;
    int rgDiffering = 0;
    QStringList requests; // what sharefs counted in the first run: Mirabex, grep, rg
};

// The share case: a tree of 4,000 files switched there and back through sharefs at each delay,
// by Mirabex and by the grep and rg pipelines of each mode, each run on a fresh mount of a fresh
// copy. Mirabex's config.ini names the mount point.
bool shareCase(const QCommandLineParser &parser, const QString &base, double scale, quint32 seed,
               int runs, bool desktop)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    if (!sharefsBuilt || !QFileInfo::exists(appDir + QStringLiteral("/sharefs"))) {
        out << "The share case needs sharefs, which was not built: libfuse3 was missing when the "
               "benchmark was configured (Debian packages fuse3 and libfuse3-dev)."
            << Qt::endl;
        return false;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("rg")).isEmpty()) {
        out << "The share case needs ripgrep (rg; Debian package ripgrep)." << Qt::endl;
        return false;
    }
    if (!QFileInfo(QStringLiteral("/dev/fuse")).isWritable()) {
        out << "The share case mounts sharefs: /dev/fuse must be usable (run as root)." << Qt::endl;
        return false;
    }
    const int grepRuns = parser.isSet("share-grep-runs")
            ? qMax(1, parser.value("share-grep-runs").toInt())
            : runs;
    QList<int> delays;
    for (const QString &delay : parser.value("share-delay-us").split(u',', Qt::SkipEmptyParts))
        delays.append(delay.trimmed().toInt());
    QList<bool> modes;
    if (!parser.isSet("insensitive"))
        modes.append(true);
    if (!parser.isSet("sensitive"))
        modes.append(false);

    const QString master = base + QStringLiteral("/master");
    const QString work = base + QStringLiteral("/work");
    const QString mountPoint = base + QStringLiteral("/partage");
    ShareMount::clearStale(mountPoint);
    QDir(base).removeRecursively();
    QDir().mkpath(master);
    QDir().mkpath(mountPoint);
    // The medium tree at a fifth of its size: 4,000 files of 8 KB, a tenth holding values.
    TreeShape shape;
    shape.seed = seed;
    shape.files = qMax(1, int(4000 * scale));
    shape.bytesPerFile = 8192;
    shape.shareWithValues = 0.1;
    const GeneratedTree tree = generateTree(master, shape);
    QList<QList<QPair<QString, QString>>> directions{ tree.pairs, {} };
    for (const auto &pair : std::as_const(tree.pairs))
        directions[1].append({ pair.second, pair.first });
    const Pipelines pipelines = pipelinesFor(base, directions);
    QString values;
    for (const auto &pair : std::as_const(tree.pairs))
        values += QStringLiteral("prodVal=") + pair.first + QStringLiteral("\ndevVal=")
                + pair.second + u'\n';
    writeFile(appDir + QStringLiteral("/values.ini"), values.toUtf8());
    const auto mirabexCopy = [&](qsizetype d) {
        return base + QStringLiteral("/mirabex-out%1").arg(d);
    };
    const auto freshCopy = [&] {
        QDir(work).removeRecursively();
        return shell(QStringLiteral("cp -a %1 %2").arg(quoted(master), quoted(work)));
    };

    out << "Through sharefs (a FUSE passthrough that answers each request after the delay), "
        << tree.files << " files, " << QString::number(double(tree.bytes) / 1e6, 'f', 1) << " MB, "
        << tree.filesWithValues << " holding values\n"
        << "case                            Mirabex s  cpu s  wait ms  p95 ms  grep s     rg s  "
           "Mirabex/rg  Mirabex/grep  compared/differing grep/rg"
        << Qt::endl;
    for (const int delay : std::as_const(delays)) {
        for (const bool caseSensitive : std::as_const(modes)) {
            QList<ShareResult> result(directions.size());
            const QStringList &grep = caseSensitive ? pipelines.grep : pipelines.grepInsensitive;
            const QStringList &rg = caseSensitive ? pipelines.rg : pipelines.rgInsensitive;
            for (int run = 0; run < runs; ++run) {
                // Mirabex: the switch back finds config.ini as the switch there left it.
                if (!freshCopy())
                    return false;
                writeFile(appDir + QStringLiteral("/config.ini"),
                          (QStringLiteral("MainDir=") + mountPoint
                           + QStringLiteral("\nEnvironnement=prod\n"))
                                  .toUtf8());
                for (qsizetype d = 0; d < directions.size(); ++d) {
                    ShareMount mount(work, mountPoint, delay);
                    if (!mount.mounted()
                        || !runMirabexChild(caseSensitive, desktop, result[d].mirabex,
                                            mount.processId()))
                        return false;
                    const QStringList requests = mount.unmount();
                    if (run == 0) {
                        result[d].requests.append(requestsText(requests));
                        QDir(mirabexCopy(d)).removeRecursively();
                        shell(QStringLiteral("cp -a %1 %2")
                                      .arg(quoted(work), quoted(mirabexCopy(d))));
                    }
                }
                // The pipelines, each on its fresh copy, compared with Mirabex's result.
                for (const bool withRg : { false, true }) {
                    if (!withRg && run >= grepRuns)
                        continue;
                    if (!freshCopy())
                        return false;
                    for (qsizetype d = 0; d < directions.size(); ++d) {
                        ShareMount mount(work, mountPoint, delay);
                        double seconds = 0;
                        if (!mount.mounted()
                            || !shell((withRg ? rg : grep).at(d).arg(quoted(mountPoint)), &seconds))
                            return false;
                        const QStringList requests = mount.unmount();
                        (withRg ? result[d].rg : result[d].mirabex.peer).append(seconds);
                        if (run != 0)
                            continue;
                        result[d].requests.append(requestsText(requests));
                        if (withRg) {
                            DirectionResult compared;
                            compareTrees(mirabexCopy(d), work, compared);
                            result[d].rgDiffering = compared.differing;
                        } else {
                            compareTrees(mirabexCopy(d), work, result[d].mirabex);
                        }
                    }
                }
            }
            QDir(work).removeRecursively();
            for (qsizetype d = 0; d < directions.size(); ++d) {
                const ShareResult &r = result.at(d);
                const double m = median(r.mirabex.mirabex), g = median(r.mirabex.peer),
                             rgSeconds = median(r.rg);
                out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10/%11/%12")
                                .arg(QStringLiteral("share %1 ms%2%3")
                                             .arg(double(delay) / 1000)
                                             .arg(caseSensitive ? QStringLiteral(" (case)")
                                                                : QStringLiteral(" (no case)"))
                                             .arg(d ? QStringLiteral(" back") : QString()),
                                     -30)
                                .arg(m, 10, 'f', 3)
                                .arg(median(r.mirabex.processor), 6, 'f', 3)
                                .arg(longest(r.mirabex.waitLongest), 8, 'f', 1)
                                .arg(median(r.mirabex.waitP95), 7, 'f', 1)
                                .arg(g, 7, 'f', 3)
                                .arg(rgSeconds, 8, 'f', 3)
                                .arg(m / rgSeconds, 11, 'f', 2)
                                .arg(m / g, 13, 'f', 2)
                                .arg(r.mirabex.compared, 10)
                                .arg(r.mirabex.differing)
                                .arg(r.rgDiffering)
                    << Qt::endl;
            }
            if (parser.isSet("share-stats")) {
                static const char *const sides[] = { "Mirabex", "grep", "rg" };
                for (qsizetype d = 0; d < directions.size(); ++d) {
                    for (qsizetype i = 0; i < result.at(d).requests.size() && i < 3; ++i)
                        out << "  requests, " << sides[i] << (d ? " back: " : ": ")
                            << result.at(d).requests.at(i) << Qt::endl;
                }
            }
        }
    }
    QDir(base).removeRecursively();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--run-mirabex") == 0)
            return runMirabex(argc, argv, i + 1 < argc && qstrcmp(argv[i + 1], "sensitive") == 0);
        if (qstrcmp(argv[i], "--run-journal-floor") == 0 && i + 1 < argc)
            return runJournalFloor(argc, argv, QByteArray(argv[i + 1]).toInt());
        if (qstrcmp(argv[i], "--run-timed") == 0)
            return runTimed(argc, argv);
    }

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ "case",
                       "medium, large, bigfile, nothing or all (those four); share (through "
                       "sharefs, run on its own).",
                       "case", "all" });
    parser.addOption({ "runs", "Runs of each side (at least 5).", "n", "5" });
    parser.addOption({ "dir", "Folder for the trees.", "folder", "/dev/shm/mirabex-bench" });
    parser.addOption({ "disk",
                       "Run each case a second time in this folder of a real disk (not tmpfs), "
                       "e.g. /var/tmp/mirabex-bench.",
                       "folder" });
    parser.addOption({ "seed", "Seed of the generated trees.", "n", "1" });
    parser.addOption({ "scale", "Scale the sizes (for a quick look).", "f", "1" });
    parser.addOption({ "insensitive", "Only with \"Sensible à la case\" unticked." });
    parser.addOption({ "sensitive", "Only with \"Sensible à la case\" ticked." });
    parser.addOption({ "desktop",
                       "Run the window on the X11 platform with accessibility on (inside "
                       "bench/desktop-session.sh)." });
    parser.addOption({ "generate-only",
                       "Generate the first case's tree, name it in the settings and stop (for a "
                       "profiler)." });
    parser.addOption({ "share-delay-us",
                       "The share case's delays per request, in microseconds, separated by commas.",
                       "list", "500,5000" });
    parser.addOption({ "share-grep-runs",
                       "The share case: the grep pipeline in the first n runs only (it takes "
                       "minutes a run at 5 ms; its first run still checks the result).",
                       "n" });
    parser.addOption({ "share-stats",
                       "The share case: the requests of each kind that the first run made." });
    parser.addOption({ "many-pairs", "The window alone: start-up, switches, 10,000 pairs." });
    parser.addOption({ "huge-settings", "The window alone: config.ini, values.ini of 100 MB." });
    parser.addOption({ "peak-memory", "The window alone: memory of a switch of a 1 GiB file." });
    parser.addOption({ "deep-tree", "The window alone: 500 folders side by side, then nested." });
    parser.process(app);

    const QString tmpfsBase = parser.value("dir");
    QString base = tmpfsBase;
    const int runs = qMax(1, parser.value("runs").toInt());
    const double scale = parser.value("scale").toDouble();
    const quint32 seed = parser.value("seed").toUInt();
    const QString which = parser.value("case");
    const QString appDir = QCoreApplication::applicationDirPath();
    const bool desktop = parser.isSet("desktop");
    if (desktop
        && (qEnvironmentVariableIsEmpty("DISPLAY")
            || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))) {
        out << "--desktop needs a display and a session bus: run it inside "
               "bench/desktop-session.sh"
            << Qt::endl;
        return 1;
    }

    if (parser.isSet("many-pairs") || parser.isSet("huge-settings") || parser.isSet("peak-memory")
        || parser.isSet("deep-tree")) {
        const bool ok = windowAlone(parser, base, scale);
        QFile::remove(appDir + QStringLiteral("/config.ini"));
        QFile::remove(appDir + QStringLiteral("/values.ini"));
        return ok ? 0 : 1;
    }

    if (which == QLatin1String("share")) {
        const bool ok = shareCase(parser, base, scale, seed, runs, desktop);
        QFile::remove(appDir + QStringLiteral("/config.ini"));
        QFile::remove(appDir + QStringLiteral("/values.ini"));
        return ok ? 0 : 1;
    }

    struct Case
    {
        QString name;
        bool caseSensitive;
        bool onDisk = false;
    };
    QList<Case> cases;
    auto want = [&](const char *name) {
        return which == QLatin1String("all") || which == QLatin1String(name);
    };
    const bool onlyInsensitive = parser.isSet("insensitive");
    const bool onlySensitive = parser.isSet("sensitive");
    if (want("medium")) {
        if (!onlyInsensitive)
            cases.append({ "medium", true });
        if (!onlySensitive)
            cases.append({ "medium", false });
    }
    if (want("large")) {
        if (!onlyInsensitive)
            cases.append({ "large", true });
        if (!onlySensitive)
            cases.append({ "large", false });
    }
    for (const char *name : { "bigfile", "nothing" }) {
        if (want(name))
            cases.append({ QString::fromLatin1(name), !onlyInsensitive });
    }

    out << (desktop ? "On the X11 platform, accessibility on\n" : "On the offscreen platform\n")
        << "case                        files      MB  Mirabex s  cpu s  wait ms  p95 ms   peer s "
           "peer-i s   floor s  Mirabex/peer  Mirabex/floor  peak MB  journal  compared/differing"
        << Qt::endl;
    if (parser.isSet("disk")) {
        for (qsizetype i = cases.size() - 1; i >= 0; --i)
            cases.insert(i + 1, { cases.at(i).name, cases.at(i).caseSensitive, true });
    }
    for (const Case &c : std::as_const(cases)) {
        QDir(base).removeRecursively();
        base = c.onDisk ? parser.value("disk") : tmpfsBase;
        QDir(base).removeRecursively();
        const QString master = base + QStringLiteral("/master");
        const QString work = base + QStringLiteral("/work");
        QDir().mkpath(master);
        GeneratedTree tree;
        if (c.name == QLatin1String("bigfile")) {
            tree = generateBigFile(master + QStringLiteral("/gros.log"), qint64(200e6 * scale), 20,
                                   seed);
        } else {
            TreeShape shape;
            shape.seed = seed;
            shape.files = int((c.name == QLatin1String("large") ? 100000 : 20000) * scale);
            shape.bytesPerFile = c.name == QLatin1String("large") ? 4096 : 8192;
            shape.shareWithValues = c.name == QLatin1String("nothing") ? 0.0 : 0.1;
            tree = generateTree(master, shape);
        }

        // The tree cases are switched there and back; the big file and the tree without value
        // one way.
        const bool back = c.name == QLatin1String("medium") || c.name == QLatin1String("large");
        QList<QList<QPair<QString, QString>>> directions{ tree.pairs };
        if (back) {
            QList<QPair<QString, QString>> reversed;
            for (const auto &pair : std::as_const(tree.pairs))
                reversed.append({ pair.second, pair.first });
            directions.append(reversed);
        }
        const Pipelines pipelines = pipelinesFor(base, directions);
        const QStringList &peerCommands = pipelines.grep;
        const QStringList &insensitivePeerCommands = pipelines.grepInsensitive;
        QString values;
        for (const auto &pair : std::as_const(tree.pairs))
            values += QStringLiteral("prodVal=") + pair.first + QStringLiteral("\ndevVal=")
                    + pair.second + u'\n';
        writeFile(appDir + QStringLiteral("/values.ini"), values.toUtf8());
        writeFile(appDir + QStringLiteral("/config.ini"),
                  (QStringLiteral("MainDir=") + work + QStringLiteral("\nEnvironnement=prod\n"))
                          .toUtf8());

        if (parser.isSet("generate-only")) {
            writeFile(
                    appDir + QStringLiteral("/config.ini"),
                    (QStringLiteral("MainDir=") + master + QStringLiteral("\nEnvironnement=prod\n"))
                            .toUtf8());
            out << "Generated " << master << "; run: " << QCoreApplication::applicationFilePath()
                << " --run-mirabex " << (c.caseSensitive ? "sensitive" : "insensitive") << Qt::endl;
            return 0;
        }

        QList<DirectionResult> result(directions.size());
        QList<double> floor;
        const auto mirabexCopy = [&](qsizetype d) {
            return base + QStringLiteral("/mirabex-out%1").arg(d);
        };
        for (int run = 0; run < runs; ++run) {
            // Mirabex on a fresh copy, one child per direction: the switch back finds config.ini
            // as the first switch left it.
            QDir(work).removeRecursively();
            shell(QStringLiteral("cp -a %1 %2").arg(quoted(master), quoted(work)));
            writeFile(appDir + QStringLiteral("/config.ini"),
                      (QStringLiteral("MainDir=") + work + QStringLiteral("\nEnvironnement=prod\n"))
                              .toUtf8());
            shell(QStringLiteral("sync"));
            for (qsizetype d = 0; d < directions.size(); ++d) {
                if (!runMirabexChild(c.caseSensitive, desktop, result[d]))
                    return 1;
                if (run == 0) {
                    QDir(mirabexCopy(d)).removeRecursively();
                    shell(QStringLiteral("cp -a %1 %2").arg(quoted(work), quoted(mirabexCopy(d))));
                }
            }
            QDir(work).removeRecursively();

            // The pipelines on fresh copies, each direction in turn; the floor on the
            // case-sensitive pipeline's copy. Mirabex's result is compared with the pipeline of
            // its mode.
            for (const bool insensitive : { false, true }) {
                if (insensitive && c.caseSensitive)
                    break;
                shell(QStringLiteral("cp -a %1 %2").arg(quoted(master), quoted(work)));
                shell(QStringLiteral("sync"));
                for (qsizetype d = 0; d < directions.size(); ++d) {
                    double seconds = 0;
                    const QString &command =
                            (insensitive ? insensitivePeerCommands : peerCommands).at(d);
                    if (!shell(command.arg(quoted(work)), &seconds))
                        return 1;
                    (insensitive ? result[d].insensitivePeer : result[d].peer).append(seconds);
                    if (!insensitive && d == 0) {
                        shell(QStringLiteral("find %1 -type f -print0 | xargs -0 cat > /dev/null")
                                      .arg(quoted(work)),
                              &seconds);
                        floor.append(seconds);
                    }
                    if (run == 0 && insensitive == !c.caseSensitive)
                        compareTrees(mirabexCopy(d), work, result[d]);
                }
                QDir(work).removeRecursively();
            }
        }

        const double f = median(floor);
        for (qsizetype d = 0; d < directions.size(); ++d) {
            const DirectionResult &r = result.at(d);
            const double m = median(r.mirabex), p = median(r.peer);
            const double pi = c.caseSensitive ? 0.0 : median(r.insensitivePeer);
            out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10 %11 %12 %13 %14 %15/%16")
                            .arg(c.name
                                         + (c.caseSensitive ? QStringLiteral(" (case)")
                                                            : QStringLiteral(" (no case)"))
                                         + (d ? QStringLiteral(" back") : QString())
                                         + (c.onDisk ? QStringLiteral(" disk") : QString()),
                                 -26)
                            .arg(tree.files, 7)
                            .arg(double(tree.bytes) / 1e6, 7, 'f', 1)
                            .arg(m, 10, 'f', 3)
                            .arg(median(r.processor), 6, 'f', 3)
                            .arg(longest(r.waitLongest), 8, 'f', 1)
                            .arg(median(r.waitP95), 7, 'f', 1)
                            .arg(p, 8, 'f', 3)
                            .arg(c.caseSensitive ? QStringLiteral("-")
                                                 : QString::number(pi, 'f', 3),
                                 8)
                            .arg(f, 9, 'f', 3)
                            .arg(m / (c.caseSensitive ? p : pi), 13, 'f', 2)
                            .arg(m / f, 14, 'f', 2)
                            .arg(double(r.peakKb) / 1024, 8, 'f', 0)
                            .arg(r.journalBlocks, 8)
                            .arg(r.compared, 10)
                            .arg(r.differing)
                << Qt::endl;
        }
        if (c.name == QLatin1String("bigfile")) {
            // What the journal alone costs for records of that number and shape.
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        { QStringLiteral("--run-journal-floor"),
                          QString::number(result.first().journalBlocks / 3) });
            child.waitForFinished(-1);
            const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
            if (fields.size() == 3)
                out << QStringLiteral("  the journal alone: %1 paragraphs in %2 s, peak %3 MB")
                                .arg(QString::fromLatin1(fields.at(2)))
                                .arg(fields.at(0).toDouble() / 1e9, 0, 'f', 3)
                                .arg(fields.at(1).toDouble() / 1024, 0, 'f', 0)
                    << Qt::endl;
        }
    }
    QDir(base).removeRecursively();
    QFile::remove(appDir + QStringLiteral("/config.ini"));
    QFile::remove(appDir + QStringLiteral("/values.ini"));
    return 0;
}
