#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#ifdef Q_OS_LINUX
#include <csignal>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

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

#ifdef Q_OS_LINUX
namespace {

bool capabilities(bool set, __user_cap_data_struct *data)
{
    __user_cap_header_struct header{ _LINUX_CAPABILITY_VERSION_3, 0 };
    return syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

} // namespace
#endif

PermissionsEnforced::PermissionsEnforced()
{
#ifdef Q_OS_LINUX
    if (geteuid() != 0) {
        m_enforced = true;
        return;
    }
    __user_cap_data_struct data[2] = {};
    if (!capabilities(false, data))
        return;
    m_saved[0] = data[0].effective;
    m_saved[1] = data[1].effective;
    data[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    m_dropped = capabilities(true, data);
    m_enforced = m_dropped;
#endif
}

PermissionsEnforced::~PermissionsEnforced()
{
#ifdef Q_OS_LINUX
    if (!m_dropped)
        return;
    __user_cap_data_struct data[2] = {};
    capabilities(false, data);
    data[0].effective = m_saved[0];
    data[1].effective = m_saved[1];
    if (!capabilities(true, data))
        qFatal("cannot give the file capabilities back");
#endif
}

FileSizeLimit::FileSizeLimit(qint64 maxBytes)
{
#ifdef Q_OS_LINUX
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return;
    m_savedSoft = limit.rlim_cur;
    m_savedHard = limit.rlim_max;
    // Past the limit the system sends SIGXFSZ, which would end the process: the write must
    // fail with EFBIG instead, as it does on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = static_cast<rlim_t>(maxBytes);
    m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
#else
    Q_UNUSED(maxBytes);
#endif
}

FileSizeLimit::~FileSizeLimit()
{
#ifdef Q_OS_LINUX
    if (!m_active)
        return;
    rlimit limit{ static_cast<rlim_t>(m_savedSoft), static_cast<rlim_t>(m_savedHard) };
    setrlimit(RLIMIT_FSIZE, &limit);
#endif
}
