#pragma once

#include <QString>
#include <QStringList>

class QApplication;
class QTranslator;

// Loads into translator the first catalogue "Mirabex_<locale>" found under prefix for the
// interface languages, most preferred first. Returns the file name it was asked for, or an empty
// string when no language has a catalogue.
QString loadTranslation(QTranslator &translator, const QStringList &uiLanguages,
                        const QString &prefix = QStringLiteral(":/i18n/"));

// Everything the program does between the creation of the application object and its end:
// translation, main window, event loop. Returns the exit status.
int runMirabex(QApplication &app);
