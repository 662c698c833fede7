// The main window as a user meets it: its widgets and texts, the environment picture, the
// commands of its buttons and menus, and the About window.

#include "windowfixture.h"

#include "ui/fenapropos.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class tst_MainWindow : public WindowFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void widgetTree_data();
    void widgetTree();
    void gridPlacement_data();
    void gridPlacement();
    void freshWindowState();
    void menus();
    void indicatorFollowsEnvironment();
    void directoryCommand_data();
    void directoryCommand();
    void clearJournal();
    void quitEndsEventLoopWithZero();
    void aboutWindow();
    void eachAboutCommandMakesAWindow();
    void screenReaderHearsTheWindow();
    void controlsOnScreenAfterRun_data();
    void controlsOnScreenAfterRun();
};

void tst_MainWindow::initTestCase()
{
    // The directory dialog opens in the documents folder: give the tests a home of their own.
    static QTemporaryDir home;
    QVERIFY2(home.isValid(), qPrintable(home.errorString()));
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("XDG_CONFIG_HOME");
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
}

void tst_MainWindow::init()
{
    initFixture({});
    m_settings->writeConfig(m_dir->path(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("a"), QStringLiteral("b") } });
    makeWindow();
}

void tst_MainWindow::cleanup()
{
    m_window.reset();
    QVERIFY(m_boxes->boxes().isEmpty());
    cleanupFixture();
}

void tst_MainWindow::widgetTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("accessibleName"); // what a screen reader says of it

    auto row = [](const char *name, const char *className, const char *parentName,
                  const QString &text, const QString &accessibleName = QString()) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(className)
                            << QString::fromLatin1(parentName) << text
                            << (accessibleName.isNull() ? text : accessibleName);
    };
    row("centralwidget", "QWidget", "MainWindow", QString());
    row("main_tabWidget", "QTabWidget", "centralwidget", QString());
    row("labelLogo", "QLabel", "main_tab", QString(),
        QStringLiteral("Environnement en vigueur : production"));
    row("teJournal", "QPlainTextEdit", "journal_tab", QString(),
        QStringLiteral("Journal des échanges"));
    row("cbSubdirs", "QCheckBox", "centralwidget", QStringLiteral("Traiter les sous dossiers"));
    row("label", "QLabel", "centralwidget", QStringLiteral("Filtre fichiers :"));
    row("pbClearLog", "QPushButton", "centralwidget", QStringLiteral("Vider le journal"));
    row("pushButton", "QPushButton", "centralwidget", QStringLiteral("Échanger les valeurs"));
    row("pbDirChoice", "QPushButton", "centralwidget", QStringLiteral("Changer de dossier"));
    row("cbSensitive", "QCheckBox", "centralwidget", QStringLiteral("Sensible à la case"));
    row("leFilterFiles", "QLineEdit", "centralwidget", QStringLiteral("*.ini"),
        QStringLiteral("Filtre fichiers"));
    row("progressBar", "QProgressBar", "centralwidget", QString());
    row("menubar", "QMenuBar", "MainWindow", QString());
    row("statusbar", "QStatusBar", "MainWindow", QString());
}

void tst_MainWindow::widgetTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QString, text);
    QFETCH(QString, accessibleName);

    auto *widget = m_window->findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        QCOMPARE(button->text(), text);
    else if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
    else if (auto *edit = qobject_cast<QLineEdit *>(widget))
        QCOMPARE(edit->text(), text);
    if (!accessibleName.isEmpty())
        QCOMPARE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name),
                 accessibleName);
}

void tst_MainWindow::gridPlacement_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("columnSpan");

    QTest::newRow("pbClearLog") << "pbClearLog" << 0 << 0 << 1;
    QTest::newRow("label") << "label" << 0 << 1 << 1;
    QTest::newRow("leFilterFiles") << "leFilterFiles" << 0 << 2 << 2;
    QTest::newRow("pbDirChoice") << "pbDirChoice" << 1 << 0 << 1;
    QTest::newRow("cbSubdirs") << "cbSubdirs" << 1 << 1 << 1;
    QTest::newRow("cbSensitive") << "cbSensitive" << 1 << 2 << 2;
    QTest::newRow("pushButton") << "pushButton" << 1 << 7 << 1;
}

void tst_MainWindow::gridPlacement()
{
    QFETCH(QString, name);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, columnSpan);

    auto *grid = m_window->findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    const int index = grid->indexOf(m_window->findChild<QWidget *>(name));
    QVERIFY(index >= 0);
    int r = -1, c = -1, rs = -1, cs = -1;
    grid->getItemPosition(index, &r, &c, &rs, &cs);
    QCOMPARE(r, row);
    QCOMPARE(c, column);
    QCOMPARE(rs, 1);
    QCOMPARE(cs, columnSpan);
}

void tst_MainWindow::freshWindowState()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Mirabex"));
    QCOMPARE(m_window->size(), QSize(800, 600));
    auto *tabs = child<QTabWidget>("main_tabWidget");
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Environnement actuel"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Journal"));
    QVERIFY(subdirsBox()->isChecked());
    QVERIFY(!caseBox()->isChecked());
    QVERIFY(journal()->isReadOnly());
    QVERIFY(journal()->toPlainText().isEmpty());
    QVERIFY(child<QProgressBar>("progressBar")->isHidden());
    QVERIFY(!child<QProgressBar>("progressBar")->isTextVisible());
    QCOMPARE(filterField()->toolTip(), QStringLiteral("Séparer les valeurs avec ;"));
    QVERIFY(switchButton()->font().bold());
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("Dossier de recherche : ") + m_dir->path());
}

void tst_MainWindow::menus()
{
    const QList<QAction *> menus = m_window->menuBar()->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus.at(0)->text(), QStringLiteral("Fichier"));
    QCOMPARE(menus.at(1)->text(), QStringLiteral("?"));
    QCOMPARE(menus.at(0)->menu()->actions().size(), 1);
    QCOMPARE(menus.at(0)->menu()->actions().at(0)->text(), QStringLiteral("Quitter"));
    QCOMPARE(menus.at(0)->menu()->actions().at(0)->objectName(), QStringLiteral("actionQuitter"));
    QCOMPARE(menus.at(1)->menu()->actions().size(), 1);
    QCOMPARE(menus.at(1)->menu()->actions().at(0)->text(),
             QStringLiteral("À propos de Mirabex..."));
}

void tst_MainWindow::indicatorFollowsEnvironment()
{
    const QImage production(QStringLiteral(":/icons/prod.png"));
    const QImage development(QStringLiteral(":/icons/developpement.png"));
    QCOMPARE(production.size(), QSize(512, 512));
    QCOMPARE(development.size(), QSize(512, 512));
    QVERIFY(production != development);

    auto *logo = child<QLabel>("labelLogo");
    auto shown = [logo] { return logo->pixmap().toImage(); };
    auto said = [logo] {
        return QAccessible::queryAccessibleInterface(logo)->text(QAccessible::Name);
    };
    const QImage prodShown = QPixmap(QStringLiteral(":/icons/prod.png")).toImage();
    const QImage devShown = QPixmap(QStringLiteral(":/icons/developpement.png")).toImage();

    QCOMPARE(shown(), prodShown);
    QCOMPARE(logo->alignment(), Qt::AlignCenter);
    m_window->showEnvironment();
    QCOMPARE(shown(), prodShown);

    m_settings->writeConfig(m_dir->path(), QStringLiteral("*.ini"), QStringLiteral("dev"));
    QVERIFY(m_window->loadSettings());
    m_window->showEnvironment();
    QCOMPARE(shown(), devShown);
    QCOMPARE(said(), QStringLiteral("Environnement en vigueur : développement"));

    m_settings->writeConfig(m_dir->path(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    QVERIFY(m_window->loadSettings());
    m_window->showEnvironment();
    QCOMPARE(shown(), prodShown);
    QCOMPARE(said(), QStringLiteral("Environnement en vigueur : production"));
}

void tst_MainWindow::directoryCommand_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("directory chosen") << true;
    QTest::newRow("dialog cancelled") << false;
}

void tst_MainWindow::directoryCommand()
{
    QFETCH(bool, accept);

    QTemporaryDir chosen;
    QVERIFY2(chosen.isValid(), qPrintable(chosen.errorString()));
    QString dialogTitle;
    QString dialogDirectory;
    QFileDialog::Options dialogOptions;
    bool seen = false;
    QTimer driver;
    driver.setInterval(10);
    connect(&driver, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        seen = true;
        driver.stop();
        dialogTitle = dialog->windowTitle();
        dialogDirectory = dialog->directory().absolutePath();
        dialogOptions = dialog->options();
        if (accept) {
            dialog->setDirectory(chosen.path());
            QMetaObject::invokeMethod(dialog, "accept");
        } else {
            dialog->reject();
        }
    });
    driver.start();
    QTest::mouseClick(child<QPushButton>("pbDirChoice"), Qt::LeftButton);
    QVERIFY(seen);

    QCOMPARE(dialogTitle, QStringLiteral("Dossier source"));
    QCOMPARE(dialogDirectory, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    QVERIFY(dialogOptions.testFlag(QFileDialog::ShowDirsOnly));
    QVERIFY(dialogOptions.testFlag(QFileDialog::DontResolveSymlinks));

    const QString expected = accept ? chosen.path() : QString();
    QCOMPARE(m_window->mainDirectory(), expected);
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("Dossier de recherche : ") + expected);

    // The next load keeps a chosen directory, and takes config.ini's again after a cancel.
    QVERIFY(m_window->loadSettings());
    QCOMPARE(m_window->mainDirectory(), accept ? chosen.path() : m_dir->path());
    // The choice is not written to config.ini.
    QVERIFY(!readBytes(SettingsFiles::configPath()).contains(chosen.path().toUtf8()));
}

void tst_MainWindow::clearJournal()
{
    QPlainTextEdit *edit = journal();
    QTest::mouseClick(child<QPushButton>("pbClearLog"), Qt::LeftButton);
    QVERIFY(edit->toPlainText().isEmpty());
    edit->appendHtml(QStringLiteral("<font color=\"green\">Fichier modifié : <b>x</b></font>"));
    edit->appendPlainText(QStringLiteral("Avant : a"));
    QCOMPARE(edit->blockCount(), 2);
    QTest::mouseClick(child<QPushButton>("pbClearLog"), Qt::LeftButton);
    QVERIFY(edit->toPlainText().isEmpty());
    QCOMPARE(edit->blockCount(), 1);
}

void tst_MainWindow::quitEndsEventLoopWithZero()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTimer::singleShot(0, child<QAction>("actionQuitter"), &QAction::trigger);
    const EventLoopWatchdog watchdog;
    QCOMPARE(QCoreApplication::exec(), 0);
}

void tst_MainWindow::aboutWindow()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    child<QAction>("action_propos_de_Mirabex")->trigger();

    const QList<FenAPropos *> windows = m_window->findChildren<FenAPropos *>();
    QCOMPARE(windows.size(), 1);
    FenAPropos *about = windows.constFirst();
    QVERIFY(QTest::qWaitForWindowExposed(about));
    QCOMPARE(about->windowTitle(), QStringLiteral("À propos de Mirabex"));
    QVERIFY(about->windowFlags().testFlag(Qt::Tool));
    QCOMPARE(about->windowModality(), Qt::WindowModal);
    QCOMPARE(about->layout()->sizeConstraint(), QLayout::SetFixedSize);
    // A fixed size, that of its content: the 256-pixel picture and the text below it.
    QCOMPARE(about->minimumSize(), about->maximumSize());
    QVERIFY(about->height() > 256);

    const QList<QLabel *> labels = about->findChildren<QLabel *>();
    QCOMPARE(labels.size(), 2);
    QCOMPARE(labels.at(0)->pixmap().size(), QSize(256, 256));
    QCOMPARE(QAccessible::queryAccessibleInterface(labels.at(0))->text(QAccessible::Name),
             QStringLiteral("Logo de Mirabex"));
    QVERIFY(labels.at(1)->text().startsWith(QStringLiteral(
            "<strong>Mirabex</strong><br><br> version 1.1.0 du 22 mai 2025<br><br>")));
    QVERIFY(labels.at(1)->text().contains(u'@'));

    // While it is shown the main window takes no input.
    QVERIFY(QApplication::activeModalWidget() == about);
    about->close();
    QVERIFY(about->isHidden());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void tst_MainWindow::eachAboutCommandMakesAWindow()
{
    m_window->show();
    for (int i = 1; i <= 3; ++i) {
        child<QAction>("action_propos_de_Mirabex")->trigger();
        const QList<FenAPropos *> windows = m_window->findChildren<FenAPropos *>();
        QCOMPARE(windows.size(), i);
        QVERIFY(windows.constLast()->isVisible());
        windows.constLast()->close();
    }
    // They go with the main window.
    QPointer<FenAPropos> first = m_window->findChildren<FenAPropos *>().constFirst();
    m_window.reset();
    QVERIFY(first.isNull());
}

// Over the accessibility bus (AT-SPI), as a screen reader hears the window: run on a display with
// the bus on (test mainwindow_accessibility_bus), skipped elsewhere.
void tst_MainWindow::screenReaderHearsTheWindow()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("Needs an X11 display with the accessibility bus on: see the test "
              "mainwindow_accessibility_bus");
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // The toolkit joins the bus in the background.
    if (!QTest::qWaitFor([] { return QAccessible::isActive(); }, 10000))
        QSKIP("The accessibility bus is off on this display");
    QStringList names;
    const auto hear = [&names] {
        QProcess reader;
        reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        reader.start(QStringLiteral("/usr/bin/python3"), // Debian's, with its AT-SPI bindings
                     { QStringLiteral(MIRABEX_SOURCE_DIR "/tests/ui/read-accessible.py"),
                       QString::number(QCoreApplication::applicationPid()) });
        // The program answers the reader's questions from its event loop.
        QVERIFY(QTest::qWaitFor([&reader] { return reader.state() == QProcess::NotRunning; },
                                60000));
        QCOMPARE(reader.exitCode(), 0);
        names = QString::fromUtf8(reader.readAllStandardOutput()).split(u'\n');
    };
    hear();
    if (QTest::currentTestFailed())
        return;
    for (const char *line : { "image\tEnvironnement en vigueur : production",
                              "text\tFiltre fichiers", "text\tJournal des échanges" })
        QVERIFY2(names.contains(QString::fromUtf8(line)), qPrintable(names.join(u'|')));

    m_settings->writeConfig(m_dir->path(), QStringLiteral("*.ini"), QStringLiteral("dev"));
    QVERIFY(m_window->loadSettings());
    m_window->showEnvironment();
    child<QAction>("action_propos_de_Mirabex")->trigger();
    hear();
    if (QTest::currentTestFailed())
        return;
    for (const char *line :
         { "image\tEnvironnement en vigueur : développement", "image\tLogo de Mirabex" })
        QVERIFY2(names.contains(QString::fromUtf8(line)), qPrintable(names.join(u'|')));
    QVERIFY(!names.contains(QStringLiteral("image\tEnvironnement en vigueur : production")));
}

void tst_MainWindow::controlsOnScreenAfterRun_data()
{
    QTest::addColumn<int>("files");
    QTest::newRow("one file") << 1;
    QTest::newRow("3,000 files") << 3000;
}

// What the display shows of the controls after a run, in both directions, against a fresh window:
// on an X11 display (test mainwindow_screen), skipped elsewhere. QWidget::grab() would paint them
// afresh; the display keeps what was drawn.
void tst_MainWindow::controlsOnScreenAfterRun()
{
    QFETCH(int, files);
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("Needs an X11 display: see the test mainwindow_screen");
    for (int i = 0; i < files; ++i)
        writeBytes(m_dir->path() + QStringLiteral("/f%1.ini").arg(i), "x=a\n");
    // The grid of controls and below it, where the bar shows: as on the display, or painted now.
    const auto controls = [this](bool painted) {
        auto *central = child<QWidget>("centralwidget");
        const int top = child<QLayout>("gridLayout")->geometry().top();
        const QRect r(central->mapTo(m_window.get(), QPoint(0, top)),
                      QSize(central->width(), central->height() - top));
        return (painted ? m_window->grab(r)
                        : m_window->screen()->grabWindow(m_window->winId(), r.x(), r.y(), r.width(),
                                                         r.height()))
                .toImage();
    };
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    switchButton()->setFocus(); // as a click leaves it
    QImage fresh; // once the display shows what the window paints
    QVERIFY(QTest::qWaitFor([&] { return (fresh = controls(false)) == controls(true); }, 10000));
    for (const bool production : { false, true }) {
        click();
        QCOMPARE(m_window->isProdActive(), production);
        // Bug: the bar, hidden while its updates were off, left its frame and chunks across the
        // row of controls that moved into its place.
        QImage after;
        const bool clean =
                QTest::qWaitFor([&] { return (after = controls(false)) == fresh; }, 10000);
        const QString saved = QDir::temp().filePath(QStringLiteral("mirabex-controls-"));
        if (!clean && fresh.save(saved + QStringLiteral("fresh.png")))
            after.save(saved + QStringLiteral("after.png"));
        QVERIFY2(clean,
                 qPrintable(QStringLiteral("Not as on a fresh window: see ") + saved + u'*'));
    }
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
