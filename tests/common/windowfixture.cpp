#include "windowfixture.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

void WindowFixture::initFixture(const QString &treeName)
{
    m_treeName = treeName.isEmpty() ? QString() : u'/' + treeName;
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
    QVERIFY(QDir().mkpath(tree()));
    m_settings = std::make_unique<SettingsFiles>();
    m_boxes = std::make_unique<MessageBoxWatcher>();
}

void WindowFixture::cleanupFixture()
{
    m_window.reset();
    m_boxes.reset();
    m_settings.reset();
    m_dir.reset();
}

void WindowFixture::startWindow()
{
    m_window = std::make_unique<MainWindow>();
    if (!m_window->startupFailed())
        return;
    const EventLoopWatchdog watchdog;
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY2(!watchdog.fired(), "the event loop did not end by itself");
    QVERIFY(!m_window->isVisible());
}

void WindowFixture::makeWindow()
{
    m_window = std::make_unique<MainWindow>();
    QVERIFY(!m_window->startupFailed());
}

void WindowFixture::click()
{
    QTest::mouseClick(switchButton(), Qt::LeftButton);
}

QStringList WindowFixture::journalLines() const
{
    const QString text = journal()->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

QPushButton *WindowFixture::switchButton() const
{
    return child<QPushButton>("pushButton");
}

QLineEdit *WindowFixture::filterField() const
{
    return child<QLineEdit>("leFilterFiles");
}

QPlainTextEdit *WindowFixture::journal() const
{
    return child<QPlainTextEdit>("teJournal");
}

QCheckBox *WindowFixture::caseBox() const
{
    return child<QCheckBox>("cbSensitive");
}

QCheckBox *WindowFixture::subdirsBox() const
{
    return child<QCheckBox>("cbSubdirs");
}
