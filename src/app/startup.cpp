#include "startup.h"

#include "stoprequests.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QTranslator>

QString loadTranslation(QTranslator &translator, const QStringList &uiLanguages,
                        const QString &prefix)
{
    for (const QString &language : uiLanguages) {
        const QString path = prefix + QStringLiteral("Mirabex_") + QLocale(language).name();
        if (translator.load(path))
            return path;
    }
    return QString();
}

int runMirabex(QApplication &app)
{
    QTranslator translator;
    const QStringList uiLanguages = QLocale::system().uiLanguages();
    if (!loadTranslation(translator, uiLanguages).isEmpty())
        app.installTranslator(&translator);

    MainWindow window;
    watchStopRequests(window);
    window.setWindowIcon(QIcon(QStringLiteral(":/icons/icon.ico")));
    // Settings that cannot be loaded end the program once their message has been read; the
    // window, which would only show an unusable tree, is not shown.
    if (!window.startupFailed())
        window.show();
    return app.exec();
}
