// The English catalogue: built into the program, an English interface language gets the window,
// the boxes and the journal in English; built without it, the same language gets them in French.
// The test runs twice, built with and without the catalogue (MIRABEX_EXPECTED_LANGUAGE says
// which), under LANGUAGE=en_GB.

#include "messageboxwatcher.h"
#include "testfiles.h"

#include "startup.h"
#include "ui/mainwindow.h"

#include <QAccessible>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

class tst_Translation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void textsFollowTheCatalogue();
};

void tst_Translation::textsFollowTheCatalogue()
{
    const bool english = qEnvironmentVariable("MIRABEX_EXPECTED_LANGUAGE") == u"en";
    const auto pick = [english](const QString &inEnglish, const QString &inFrench) {
        return english ? inEnglish : inFrench;
    };
    QTranslator translator;
    const QString loaded = loadTranslation(translator, QLocale::system().uiLanguages());
    QCOMPARE(loaded.isEmpty(), !english);
    if (english)
        QVERIFY(QCoreApplication::installTranslator(&translator));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeBytes(dir.filePath(QStringLiteral("a.ini")), "host=prod-host\n");
    SettingsFiles settings;
    settings.writeConfig(dir.path(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    settings.writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    MessageBoxWatcher boxes;
    MainWindow window;
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton"));
    QCOMPARE(button->text(),
             pick(QStringLiteral("Switch the values"), QStringLiteral("Échanger les valeurs")));

    QCOMPARE(QAccessible::queryAccessibleInterface(
                     window.findChild<QLabel *>(QStringLiteral("labelLogo")))
                     ->text(QAccessible::Name),
             pick(QStringLiteral("Environment in force: production"),
                  QStringLiteral("Environnement en vigueur : production")));

    button->click();
    const QString journal =
            window.findChild<QPlainTextEdit *>(QStringLiteral("teJournal"))->toPlainText();
    QVERIFY2(journal.startsWith(
                     pick(QStringLiteral("File modified: "), QStringLiteral("Fichier modifié : "))),
             qPrintable(journal));
    QVERIFY2(journal.contains(pick(QStringLiteral("Before: host=prod-host"),
                                   QStringLiteral("Avant : host=prod-host"))),
             qPrintable(journal));

    QVERIFY(QFile::remove(SettingsFiles::valuesPath()));
    button->click();
    QCOMPARE(boxes.summaries(),
             QStringList{ (pick(QStringLiteral("Error | Cannot open the file "),
                                QStringLiteral("Erreur | Impossible d'ouvrir le fichier ")))
                          + SettingsFiles::valuesPath() });
    QCoreApplication::removeTranslator(&translator);
}

QTEST_MAIN(tst_Translation)
#include "tst_translation.moc"
