// Start-up: the translation search, the window that the program opens, and how it ends.

#include "messageboxwatcher.h"
#include "testfiles.h"

#include "startup.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

namespace {

// The smallest catalogue that the translator accepts: the file's magic number alone.
const QByteArray emptyCatalogue = QByteArray::fromHex("3cb86418caef9c95cd211cbf60a1bddd");

MainWindow *topLevelMainWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<MainWindow *>(widget))
            return window;
    }
    return nullptr;
}

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void translationSearch_data();
    void translationSearch();
    void resourceImages_data();
    void resourceImages();
    void opensWindowAndQuitsWithZero();
    void settingsThatCannotBeLoadedEndTheProgram();
};

void tst_Startup::translationSearch_data()
{
    QTest::addColumn<QStringList>("catalogues");
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<QString>("loaded");

    QTest::newRow("first language that has a catalogue wins")
            << QStringList{ "Mirabex_de_DE.qm", "Mirabex_fr_FR.qm" }
            << QStringList{ "de-DE", "fr-FR" } << "Mirabex_de_DE";
    QTest::newRow("languages without catalogue are passed over")
            << QStringList{ "Mirabex_fr_FR.qm" } << QStringList{ "en-US", "fr-FR" }
            << "Mirabex_fr_FR";
    QTest::newRow("a catalogue for the language alone serves its territories")
            << QStringList{ "Mirabex_fr.qm" } << QStringList{ "fr-CA" } << "Mirabex_fr_CA";
    QTest::newRow("no catalogue") << QStringList() << QStringList{ "fr-FR", "en-US" } << "";
    QTest::newRow("no language") << QStringList{ "Mirabex_fr_FR.qm" } << QStringList() << "";
}

void tst_Startup::translationSearch()
{
    QFETCH(QStringList, catalogues);
    QFETCH(QStringList, languages);
    QFETCH(QString, loaded);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    for (const QString &name : std::as_const(catalogues))
        writeBytes(dir.filePath(name), emptyCatalogue);

    QTranslator translator;
    const QString prefix = dir.path() + u'/';
    const QString path = loadTranslation(translator, languages, prefix);
    QCOMPARE(path, loaded.isEmpty() ? QString() : prefix + loaded);
    QCOMPARE(translator.filePath().isEmpty(), loaded.isEmpty());
}

void tst_Startup::resourceImages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QList<QSize>>("sizes");

    QTest::newRow("16-pixel icon")
            << ":/icons/icon-16.png" << QByteArray("png") << QList<QSize>{ { 16, 16 } };
    QTest::newRow("32-pixel icon")
            << ":/icons/icon-32.png" << QByteArray("png") << QList<QSize>{ { 32, 32 } };
    QTest::newRow("256-pixel icon")
            << ":/icons/icon-256.png" << QByteArray("png") << QList<QSize>{ { 256, 256 } };
    QTest::newRow("production picture")
            << ":/icons/prod.png" << QByteArray("png") << QList<QSize>{ { 512, 512 } };
    QTest::newRow("development picture")
            << ":/icons/developpement.png" << QByteArray("png") << QList<QSize>{ { 512, 512 } };
    QTest::newRow("Windows icon") << ":/icons/icon.ico" << QByteArray("ico")
                                  << QList<QSize>{ { 16, 16 }, { 32, 32 }, { 256, 256 } };
}

void tst_Startup::resourceImages()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, format);
    QFETCH(QList<QSize>, sizes);

    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    QCOMPARE(reader.imageCount() > 0 ? reader.imageCount() : 1, sizes.size());
    for (const QSize &size : std::as_const(sizes)) {
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), size);
        QVERIFY(image.hasAlphaChannel());
        reader.jumpToNextImage();
    }
}

void tst_Startup::opensWindowAndQuitsWithZero()
{
    QTemporaryDir tree;
    QVERIFY2(tree.isValid(), qPrintable(tree.errorString()));
    SettingsFiles settings;
    settings.writeConfig(tree.path(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    settings.writeValues({ { QStringLiteral("a"), QStringLiteral("b") } });

    bool visible = false;
    QList<QSize> iconSizes;
    QTimer::singleShot(0, [&] {
        MainWindow *window = topLevelMainWindow();
        QVERIFY(window);
        visible = window->isVisible();
        iconSizes = window->windowIcon().availableSizes();
        window->findChild<QAction *>(QStringLiteral("actionQuitter"))->trigger();
    });
    QApplication *app = qApp;
    QCOMPARE(runMirabex(*app), 0);
    QVERIFY(visible);
    // The icon of the Windows icon file, with its three sizes, not the 32-pixel picture.
    QCOMPARE(iconSizes, (QList<QSize>{ { 16, 16 }, { 32, 32 }, { 256, 256 } }));
    QCOMPARE(topLevelMainWindow(), nullptr);
}

void tst_Startup::settingsThatCannotBeLoadedEndTheProgram()
{
    SettingsFiles settings; // none written
    MessageBoxWatcher boxes;
    bool windowShownWithBox = true;
    boxes.onBox = [&](const SeenMessageBox &) {
        windowShownWithBox = topLevelMainWindow() && topLevelMainWindow()->isVisible();
    };
    const EventLoopWatchdog watchdog;

    QApplication *app = qApp;
    QCOMPARE(runMirabex(*app), 0);
    QVERIFY2(!watchdog.fired(), "the program did not end by itself");
    QCOMPARE(boxes.summaries(),
             QStringList{ QStringLiteral("Erreur | Impossible d'ouvrir le fichier ")
                          + SettingsFiles::configPath() });
    QVERIFY(!windowShownWithBox);
    QCOMPARE(topLevelMainWindow(), nullptr);
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
