// Times a switch of a generated tree by the real window, side by side with the classic shell
// pipeline (grep -rlZF | xargs -0 sed -i) and with reading every byte of the tree (cat).
//
//   switchbench [--case medium|large|bigfile|nothing|all] [--runs N] [--dir FOLDER] [--seed N]
//               [--insensitive] [--scale F]
//
// The trees live in a tmpfs folder (/dev/shm) unless --dir names another one. Each run works on a
// fresh copy of the generated tree; Mirabex and the pipelines alternate. The window runs in a
// child process (this same program, with --run-mirabex) so that its peak memory is its own.
//
// Two peers: the case-sensitive pipeline, and for the runs with "Sensible à la case" unticked the
// case-insensitive one (grep -i, sed's I flag, LC_ALL=C); each row's ratio is against the peer of
// its mode. --desktop runs the window on the real X11 platform with accessibility on, as on a
// desktop with assistive technology: start it inside bench/desktop-session.sh, which provides a
// display, a session bus, the accessibility bus and a client that listens to the window.

#include "treegenerator.h"
#include "switching/journal.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStringDecoder>
#include <QProgressBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

QTextStream out(stdout);

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

long peakKilobytes();

// In the child: the real window, a click on "Échanger les valeurs", the time until the progress
// bar is hidden again.
int runMirabex(int argc, char *argv[], bool caseSensitive)
{
    if (!qEnvironmentVariableIsSet("MIRABEX_BENCH_DESKTOP"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainWindow window;
    if (window.startupFailed())
        return 2;
    window.show();
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
    timer.start();
    button->click();
    const qint64 elapsed = atBox >= 0 ? atBox : timer.nsecsElapsed();
    if (!bar->isHidden())
        return 3;
    const int blocks = window.findChild<QPlainTextEdit *>(QStringLiteral("teJournal"))->blockCount();
    // The peak resident memory of this process since it started this program (ru_maxrss would
    // also count the memory of the benchmark that forked it).
    const long peakKb = peakKilobytes();
    std::printf("%lld %ld %d\n", static_cast<long long>(elapsed), peakKb, blocks);
    return 0;
}

long peakKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
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
            journal.appendHeader(Journal::Colour::Green, QStringLiteral("Fichier modifié : "), path);
            journal.appendPlainText(QStringLiteral("Avant : url=db-prod-00.exemple.frma_base"));
            journal.appendPlainText(QStringLiteral("Après : url=db-recette-00.exemple.frma_base"));
        }
    }
    std::printf("%lld %ld %d\n", static_cast<long long>(timer.nsecsElapsed()), peakKilobytes(),
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
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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

struct CaseResult
{
    QList<double> mirabex, peer, insensitivePeer, floor;
    long peakKb = 0;
    int journalBlocks = 0;
    int compared = 0, differing = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--run-mirabex") == 0)
            return runMirabex(argc, argv, i + 1 < argc && qstrcmp(argv[i + 1], "sensitive") == 0);
        if (qstrcmp(argv[i], "--run-journal-floor") == 0 && i + 1 < argc)
            return runJournalFloor(argc, argv, QByteArray(argv[i + 1]).toInt());
    }

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ "case", "medium, large, bigfile, nothing or all.", "case", "all" });
    parser.addOption({ "runs", "Runs of each side (at least 5).", "n", "5" });
    parser.addOption({ "dir", "Folder for the trees.", "folder", "/dev/shm/mirabex-bench" });
    parser.addOption({ "seed", "Seed of the generated trees.", "n", "1" });
    parser.addOption({ "scale", "Scale the sizes (for a quick look).", "f", "1" });
    parser.addOption({ "insensitive", "Only with \"Sensible à la case\" unticked." });
    parser.addOption({ "sensitive", "Only with \"Sensible à la case\" ticked." });
    parser.addOption({ "desktop",
                       "Run the window on the X11 platform with accessibility on (inside "
                       "bench/desktop-session.sh)." });
    parser.addOption({ "generate-only",
                       "Generate the first case's tree, name it in the settings and stop (for a profiler)." });
    parser.process(app);

    const QString base = parser.value("dir");
    const int runs = qMax(1, parser.value("runs").toInt());
    const double scale = parser.value("scale").toDouble();
    const quint32 seed = parser.value("seed").toUInt();
    const QString which = parser.value("case");
    const QString appDir = QCoreApplication::applicationDirPath();
    const bool desktop = parser.isSet("desktop");
    if (desktop && (qEnvironmentVariableIsEmpty("DISPLAY")
                    || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))) {
        out << "--desktop needs a display and a session bus: run it inside "
               "bench/desktop-session.sh" << Qt::endl;
        return 1;
    }

    struct Case { QString name; bool caseSensitive; };
    QList<Case> cases;
    auto want = [&](const char *name) { return which == QLatin1String("all") || which == QLatin1String(name); };
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
        << "case                  files      MB  Mirabex s   peer s peer-i s   floor s  "
           "Mirabex/peer  Mirabex/floor  peak MB  journal  compared/differing" << Qt::endl;
    for (const Case &c : std::as_const(cases)) {
        QDir(base).removeRecursively();
        const QString master = base + QStringLiteral("/master");
        const QString work = base + QStringLiteral("/work");
        QDir().mkpath(master);
        GeneratedTree tree;
        if (c.name == QLatin1String("bigfile")) {
            tree = generateBigFile(master + QStringLiteral("/gros.log"), qint64(200e6 * scale), 20, seed);
        } else {
            TreeShape shape;
            shape.seed = seed;
            shape.files = int((c.name == QLatin1String("large") ? 100000 : 20000) * scale);
            shape.bytesPerFile = c.name == QLatin1String("large") ? 4096 : 8192;
            shape.shareWithValues = c.name == QLatin1String("nothing") ? 0.0 : 0.1;
            tree = generateTree(master, shape);
        }

        QStringList productionValues;
        QString values;
        for (const auto &pair : std::as_const(tree.pairs)) {
            productionValues.append(pair.first);
            values += QStringLiteral("prodVal=") + pair.first + QStringLiteral("\ndevVal=")
                    + pair.second + u'\n';
        }
        const QString patterns = base + QStringLiteral("/patterns.txt");
        const QString script = base + QStringLiteral("/script.sed");
        writeFile(patterns, (productionValues.join(u'\n') + u'\n').toUtf8());
        writeFile(script, sedScript(tree.pairs));
        QByteArray insensitiveScript = sedScript(tree.pairs);
        insensitiveScript.replace("/g\n", "/gI\n");
        const QString scriptI = base + QStringLiteral("/script-i.sed");
        writeFile(scriptI, insensitiveScript);
        writeFile(appDir + QStringLiteral("/values.ini"), values.toUtf8());
        writeFile(appDir + QStringLiteral("/config.ini"),
                  (QStringLiteral("MainDir=") + work + QStringLiteral("\nEnvironnement=prod\n")).toUtf8());

        if (parser.isSet("generate-only")) {
            writeFile(appDir + QStringLiteral("/config.ini"),
                      (QStringLiteral("MainDir=") + master + QStringLiteral("\nEnvironnement=prod\n")).toUtf8());
            out << "Generated " << master << "; run: " << QCoreApplication::applicationFilePath()
                << " --run-mirabex " << (c.caseSensitive ? "sensitive" : "insensitive") << Qt::endl;
            return 0;
        }

        CaseResult result;
        const QString peerCommand = QStringLiteral("LC_ALL=C.UTF-8 grep -rlZF -f %1 %2 | xargs -0 -r sed -i -f %3")
                                            .arg(quoted(patterns), quoted(work), quoted(script));
        const QString peerWork = base + QStringLiteral("/peer-i");
        const QString insensitivePeerCommand =
                QStringLiteral("LC_ALL=C grep -rlZiF -f %1 %2 | xargs -0 -r sed -i -f %3")
                        .arg(quoted(patterns), quoted(peerWork), quoted(scriptI));
        for (int run = 0; run < runs; ++run) {
            // Mirabex on a fresh copy.
            QDir(work).removeRecursively();
            shell(QStringLiteral("cp -a %1 %2").arg(quoted(master), quoted(work)));
            writeFile(appDir + QStringLiteral("/config.ini"),
                      (QStringLiteral("MainDir=") + work + QStringLiteral("\nEnvironnement=prod\n")).toUtf8());
            shell(QStringLiteral("sync"));
            QProcess child;
            if (desktop) {
                QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
                environment.insert(QStringLiteral("MIRABEX_BENCH_DESKTOP"), QStringLiteral("1"));
                environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
                environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"),
                                   QStringLiteral("1"));
                child.setProcessEnvironment(environment);
            }
            child.start(QCoreApplication::applicationFilePath(),
                        { QStringLiteral("--run-mirabex"),
                          c.caseSensitive ? QStringLiteral("sensitive") : QStringLiteral("insensitive") });
            child.waitForFinished(-1);
            const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
            if (child.exitCode() != 0 || fields.size() != 3) {
                out << "Mirabex run failed (" << child.exitCode() << "): "
                    << child.readAllStandardError() << Qt::endl;
                return 1;
            }
            result.mirabex.append(fields.at(0).toDouble() / 1e9);
            result.peakKb = qMax(result.peakKb, fields.at(1).toLong());
            result.journalBlocks = fields.at(2).toInt();
            const QString mirabexOut = base + QStringLiteral("/mirabex-out");
            QDir(mirabexOut).removeRecursively();
            QDir().rename(work, mirabexOut);

            // The pipeline on a fresh copy, then the floor on that copy.
            shell(QStringLiteral("cp -a %1 %2").arg(quoted(master), quoted(work)));
            shell(QStringLiteral("sync"));
            double seconds = 0;
            if (!shell(peerCommand, &seconds))
                return 1;
            result.peer.append(seconds);
            shell(QStringLiteral("find %1 -type f -print0 | xargs -0 cat > /dev/null").arg(quoted(work)),
                  &seconds);
            result.floor.append(seconds);
            if (!c.caseSensitive) {
                QDir(peerWork).removeRecursively();
                shell(QStringLiteral("cp -a %1 %2").arg(quoted(master), quoted(peerWork)));
                shell(QStringLiteral("sync"));
                if (!shell(insensitivePeerCommand, &seconds))
                    return 1;
                result.insensitivePeer.append(seconds);
                QDir(peerWork).removeRecursively();
            }

            if (run == 0) {
                QDirIterator it(work, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
                while (it.hasNext()) {
                    const QString path = it.next();
                    QFile peerFile(path);
                    QFile mirabexFile(mirabexOut + path.mid(work.size()));
                    peerFile.open(QIODevice::ReadOnly);
                    mirabexFile.open(QIODevice::ReadOnly);
                    const QByteArray peerBytes = peerFile.readAll();
                    const QByteArray mirabexBytes = mirabexFile.readAll();
                    if (!comparable(peerBytes))
                        continue;
                    ++result.compared;
                    if (peerBytes != mirabexBytes) {
                        if (result.differing++ < 3)
                            out << "  differs: " << path << Qt::endl;
                    }
                }
            }
        }

        const double m = median(result.mirabex), p = median(result.peer), f = median(result.floor);
        const double pi = c.caseSensitive ? 0.0 : median(result.insensitivePeer);
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10 %11 %12/%13")
                       .arg(c.name + (c.caseSensitive ? QStringLiteral(" (case)") : QStringLiteral(" (no case)")), -20)
                       .arg(tree.files, 7)
                       .arg(double(tree.bytes) / 1e6, 7, 'f', 1)
                       .arg(m, 10, 'f', 3)
                       .arg(p, 8, 'f', 3)
                       .arg(c.caseSensitive ? QStringLiteral("-") : QString::number(pi, 'f', 3), 8)
                       .arg(f, 9, 'f', 3)
                       .arg(m / (c.caseSensitive ? p : pi), 13, 'f', 2)
                       .arg(m / f, 14, 'f', 2)
                       .arg(double(result.peakKb) / 1024, 8, 'f', 0)
                       .arg(result.journalBlocks, 8)
                       .arg(result.compared, 10)
                       .arg(result.differing)
            << Qt::endl;
        if (c.name == QLatin1String("bigfile")) {
            // What the journal alone costs for records of that number and shape.
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        { QStringLiteral("--run-journal-floor"),
                          QString::number(result.journalBlocks / 3) });
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
