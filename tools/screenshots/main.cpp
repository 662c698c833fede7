// Takes the pictures of the user guide from the real main window, on the demo tree.
//
//   screenshots <demo folder of the repository> <output folder>
//
// Next to its own executable it puts a fresh copy of the demo tree, a config.ini naming it (the
// filter of demo/config.ini.in, in production) and demo/values.ini; then it shows the main
// window, switches the tree with « Échanger les valeurs » and opens « À propos de Mirabex ».
// Run it on a real display (take-screenshots.sh starts it under Xvfb).

#include "ui/fenapropos.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

int failures = 0;

void fail(const QString &message)
{
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(message));
    ++failures;
}

// Lets the window system and the widgets settle for about the given time.
void settle(int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool waitExposed(QWidget *widget)
{
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (widget->windowHandle() && widget->windowHandle()->isExposed()) {
            settle(400);
            return true;
        }
        QThread::msleep(10);
    }
    fail(QStringLiteral("window '%1' never exposed").arg(widget->windowTitle()));
    return false;
}

void save(QWidget *widget, const QString &path)
{
    const QPixmap picture = widget->grab();
    if (picture.isNull() || !picture.save(path, "PNG"))
        fail(QStringLiteral("cannot write %1").arg(path));
    else
        std::printf("%s  %dx%d\n", qPrintable(path), picture.width(), picture.height());
}

bool copyTree(const QString &from, const QString &to)
{
    QDir(to).removeRecursively();
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + u'/' + QDir(from).relativeFilePath(source);
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(target))
                return false;
        } else if (!QFile::copy(source, target)) {
            return false;
        }
    }
    return true;
}

// The FilesFilter= line of demo/config.ini.in, so that the pictures show the demo as it ships.
QString demoFilterLine(const QString &demoDir)
{
    QFile file(demoDir + QStringLiteral("/config.ini.in"));
    if (file.open(QIODevice::ReadOnly)) {
        QTextStream in(&file);
        while (!in.atEnd()) {
            const QString line = in.readLine();
            if (line.startsWith(QStringLiteral("FilesFilter="), Qt::CaseInsensitive))
                return line;
        }
    }
    return QStringLiteral("FilesFilter=*.ini;*.xml;*.properties;*.json;*.txt");
}

bool prepareDemo(const QString &demoDir)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString tree = appDir + QStringLiteral("/demo/arborescence");
    if (!copyTree(demoDir + QStringLiteral("/arborescence"), tree)) {
        fail(QStringLiteral("cannot copy the demo tree to %1").arg(tree));
        return false;
    }
    QFile config(appDir + QStringLiteral("/config.ini"));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fail(QStringLiteral("cannot write config.ini"));
        return false;
    }
    config.write((QStringLiteral("MainDir=") + tree + u'\n' + demoFilterLine(demoDir)
                  + QStringLiteral("\nEnvironnement=prod\n"))
                         .toUtf8());
    config.close();
    QFile::remove(appDir + QStringLiteral("/values.ini"));
    if (!QFile::copy(demoDir + QStringLiteral("/values.ini"),
                     appDir + QStringLiteral("/values.ini"))) {
        fail(QStringLiteral("cannot copy values.ini"));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: screenshots <demo folder> <output folder>\n");
        return 2;
    }
    const QString demoDir = QFileInfo(args.at(1)).absoluteFilePath();
    const QString outDir = QFileInfo(args.at(2)).absoluteFilePath();
    QDir().mkpath(outDir);
    if (!prepareDemo(demoDir))
        return 1;

    // A message box would stop the run: it is reported, then closed.
    QTimer boxWatcher;
    QObject::connect(&boxWatcher, &QTimer::timeout, [] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible()) {
                fail(QStringLiteral("unexpected message box: ") + box->text());
                box->done(QMessageBox::Ok);
            }
        }
    });
    boxWatcher.start(200);

    MainWindow window;
    if (window.startupFailed()) {
        fail(QStringLiteral("the settings could not be loaded"));
        return 1;
    }
    window.show();
    if (!waitExposed(&window))
        return 1;
    save(&window, outDir + QStringLiteral("/fenetre-production.png"));

    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton"));
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("main_tabWidget"));
    auto *journal = window.findChild<QPlainTextEdit *>(QStringLiteral("teJournal"));
    auto *about = window.findChild<QAction *>(QStringLiteral("action_propos_de_Mirabex"));
    if (!button || !tabs || !journal || !about) {
        fail(QStringLiteral("a widget of the main window was not found"));
        return 1;
    }

    button->click();
    settle(400);
    if (window.isProdActive())
        fail(QStringLiteral("the tree is still in production after the switch"));
    save(&window, outDir + QStringLiteral("/fenetre-developpement.png"));

    tabs->setCurrentIndex(tabs->indexOf(journal->parentWidget()));
    journal->verticalScrollBar()->setValue(0);
    settle(400);
    save(&window, outDir + QStringLiteral("/journal-apres-echange.png"));

    tabs->setCurrentIndex(0);
    about->trigger();
    auto *aboutWindow = window.findChild<FenAPropos *>();
    if (!aboutWindow) {
        fail(QStringLiteral("the About window was not opened"));
        return 1;
    }
    if (waitExposed(aboutWindow))
        save(aboutWindow, outDir + QStringLiteral("/a-propos.png"));

    return failures == 0 ? 0 : 1;
}
