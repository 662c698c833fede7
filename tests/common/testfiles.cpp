#include "testfiles.h"

#include "files/filesystem.h"
#include "text/textformat.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QOperatingSystemVersion>
#include <QTest>

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot read>");
    return file.readAll();
}

QByteArray asWritten(QByteArray lineFeedText)
{
    return lineFeedText.replace('\n', nativeLineTerminator());
}

QString listedPath(QString path)
{
    if (QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows) {
        while (path.endsWith(u'.') || path.endsWith(u' '))
            path.chop(1);
    }
    return path;
}

QString htmlLikeFileName()
{
    if (QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows)
        return QStringLiteral("a&b&lt;c&gt;.ini");
    return QStringLiteral("a&b<c>.ini");
}

QString displayed(QString path)
{
    return path.replace(u'/', u'\\');
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QMap<QString, QByteArray> snapshotTree(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).isSymLink())
            continue;
        files.insert(QDir(root).relativeFilePath(path), readBytes(path));
    }
    return files;
}

QDateTime modificationTime(const QString &path)
{
    return QFileInfo(path).lastModified();
}

void ageFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)
        || !file.setFileTime(QDateTime::currentDateTime().addDays(-3),
                             QFileDevice::FileModificationTime))
        qFatal("cannot age %s", qPrintable(path));
}

SettingsFiles::SettingsFiles()
{
    removeAll();
}

SettingsFiles::~SettingsFiles()
{
    removeAll();
}

QString SettingsFiles::configPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
}

QString SettingsFiles::valuesPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/values.ini");
}

void SettingsFiles::writeConfig(const QByteArray &bytes)
{
    writeBytes(configPath(), bytes);
}

void SettingsFiles::writeValues(const QByteArray &bytes)
{
    writeBytes(valuesPath(), bytes);
}

void SettingsFiles::writeConfig(const QString &directory, const QString &filter,
                                const QString &environment)
{
    QString text = QStringLiteral("MainDir=") + directory + u'\n';
    if (!filter.isNull())
        text += QStringLiteral("FilesFilter=") + filter + u'\n';
    if (!environment.isNull())
        text += QStringLiteral("Environnement=") + environment + u'\n';
    writeConfig(text.toUtf8());
}

void SettingsFiles::writeValues(const QList<QPair<QString, QString>> &pairs)
{
    QString text;
    for (const auto &pair : pairs)
        text += QStringLiteral("prodVal=") + pair.first + QStringLiteral("\ndevVal=") + pair.second
                + u'\n';
    writeValues(text.toUtf8());
}

void SettingsFiles::removeAll()
{
    for (const QString &path : { configPath(), valuesPath() }) {
        if (QFileInfo(path).isDir())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
    }
}

EventLoopWatchdog::EventLoopWatchdog(int timeoutMs)
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        m_fired = true;
        QCoreApplication::exit(99);
    });
    m_timer.start(timeoutMs);
}
