// The launcher window end to end against the published sample game on a
// loopback server of the test's own: install from nothing, pause and resume,
// the patch chain (with a game file held open by another program), repair
// after damage, the maintenance switch and the settings. Every state checks
// the main button, the progress bar and that no text is clipped and no
// widgets overlap; the states worth seeing are saved as PNG screenshots.

#include "../host/HostTestSupport.h"
#include "../support/FileHolder.h"

#include "Carousel.h"
#include "ElidedLabel.h"
#include "FileServer.h"
#include "InUseDialog.h"
#include "InstallState.h"
#include "LauncherSettings.h"
#include "LauncherWindow.h"
#include "ProgressPanel.h"
#include "Publisher.h"
#include "SampleGame.h"
#include "SettingsDialog.h"

#include "util/QtUtil.h"

#include <QCheckBox>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Launcher;
using HostFlow::InstallState;
using HostTest::treeDifferences;
using TestSupport::copyTree;

namespace {

// Generous: a busy machine shares two cores among several builds.
constexpr int Slow = 90000;

QByteArray picture(const QColor &colour, const QString &text)
{
    QImage image(640, 320, QImage::Format_RGB32);
    image.fill(colour);
    QPainter painter(&image);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(48);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, text);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Which of the visible widgets below root show clipped text or overlap a
// visible sibling; empty when none does.
QStringList layoutFaults(QWidget *root)
{
    QStringList faults;
    QList<QWidget *> all = root->findChildren<QWidget *>();
    all.prepend(root);
    for (QWidget *w : qAsConst(all)) {
        if (!w->isVisibleTo(root) && w != root)
            continue;
        const QString name
            = w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName();
        if (auto *label = qobject_cast<QLabel *>(w)) {
            if (label->text().isEmpty() || !label->pixmap(Qt::ReturnByValue).isNull())
                continue;
            if (label->wordWrap() ? label->heightForWidth(label->width()) > label->height()
                                  : label->sizeHint().width() > label->width())
                faults << QStringLiteral("%1 clips \"%2\"").arg(name, label->text());
        } else if (auto *button = qobject_cast<QPushButton *>(w)) {
            if (button->sizeHint().width() > button->width() || button->sizeHint().height() > button->height())
                faults << QStringLiteral("%1 clips \"%2\" (needs %3x%4, has %5x%6)")
                              .arg(name, button->text())
                              .arg(button->sizeHint().width())
                              .arg(button->sizeHint().height())
                              .arg(button->width())
                              .arg(button->height());
        }
    }
    // Siblings in the containers of the window's own layout (not inside Qt's compound widgets).
    for (QWidget *parent : qAsConst(all)) {
        if (qobject_cast<QAbstractScrollArea *>(parent) || qobject_cast<QAbstractSpinBox *>(parent)
            || qobject_cast<QProgressBar *>(parent) || (!parent->isVisibleTo(root) && parent != root))
            continue;
        QList<QWidget *> kids;
        for (QWidget *kid : parent->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (kid->isVisibleTo(root) && !kid->isWindow())
                kids << kid;
        for (int i = 0; i < kids.size(); ++i)
            for (int j = i + 1; j < kids.size(); ++j)
                if (kids[i]->geometry().intersects(kids[j]->geometry()))
                    faults << QStringLiteral("%1 overlaps %2").arg(kids[i]->objectName(), kids[j]->objectName());
    }
    return faults;
}

} // namespace

class tst_Launcher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void installFromNothing();
    void pauseAndResume();
    void updateThroughPatchChain_data();
    void updateThroughPatchChain();
    void repairAfterDamage();
    void maintenanceSwitch();
    void settingsDialog();

private:
    QString path(const QString &name) const { return m_work.filePath(name); }
    QString version(int i) const { return path(QStringLiteral("versions/")) + Publisher::sampleVersionName(i); }
    QString game(const QString &install) const { return InstallState::gameFolder(path(install)); }
    // A shown window on install, started against server, waited for until its first check ended.
    LauncherWindow *openWindow(const QString &install, const QString &server, int speedLimitKiB = 0);
    void expectState(const QString &label, int minimum, int maximum, int value = -1);
    void screenshot(QWidget *widget, const QString &state);

    QTemporaryDir m_work;
    Http::FileServer m_server;
    std::unique_ptr<LauncherWindow> m_window;
    QString m_scale;
};

void tst_Launcher::initTestCase()
{
    QVERIFY(m_work.isValid());
    QString error;
    QCOMPARE(Publisher::generateSampleGame(path(QStringLiteral("versions")), 3, error).size(), 3);
    QVERIFY(TestSupport::writeFile(path(QStringLiteral("launcher/1.0.0.2/Launcher.exe")), QByteArray(2048, 'l')));
    Publisher::PublishOptions options;
    options.inputDir = path(QStringLiteral("versions"));
    options.outputDir = path(QStringLiteral("www"));
    options.launcherInputDir = path(QStringLiteral("launcher"));
    options.compressionLevel = 1;
    Publisher::PublishReport report;
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));

    m_server.setRoot(path(QStringLiteral("www")));
    QVERIFY(m_server.listen(0));
    // The sample's news with two pictures of the server's own, switched quickly.
    QJsonObject info = QJsonDocument::fromJson(TestSupport::readFile(path(QStringLiteral("www/info.json")))).object();
    m_server.addFile(QStringLiteral("/pics/one.png"), picture(QColor(0x2f, 0x6d, 0xb5), QStringLiteral("Season one")));
    m_server.addFile(QStringLiteral("/pics/two.png"), picture(QColor(0xb5, 0x5a, 0x2f), QStringLiteral("Season two")));
    info.insert(QStringLiteral("carousel"),
        QJsonArray{ QJsonObject{ { QStringLiteral("url"), m_server.url(QStringLiteral("/pics/one.png")) } },
            QJsonObject{ { QStringLiteral("url"), m_server.url(QStringLiteral("/pics/two.png")) } } });
    info.insert(QStringLiteral("carousel_time"), 300);
    m_server.addFile(QStringLiteral("/info.json"), QJsonDocument(info).toJson());

    QDir().mkpath(QStringLiteral(MORVANIEL_SCREENSHOT_DIR));
    const QScreen *screen = QGuiApplication::primaryScreen();
    m_scale = QString::number(qRound(screen->devicePixelRatio() * 100));
}

void tst_Launcher::cleanup()
{
    m_window.reset();
}

LauncherWindow *tst_Launcher::openWindow(const QString &install, const QString &server, int speedLimitKiB)
{
    LauncherSettings settings;
    settings.server = server;
    settings.installDir = path(install);
    settings.speedLimitKiB = speedLimitKiB;
    LauncherPlace place;
    place.launcherDir = path(install + QStringLiteral("-launcher"));
    place.launcherVersion = QStringLiteral("1.0.0.1");
    m_window = std::make_unique<LauncherWindow>(settings, place);
    QtUtil::ApplyQSS(m_window.get(), QStringLiteral("launcher.qss"));
    m_window->resize(1040, 640);
    m_window->show();
    m_window->start();
    return m_window.get();
}

// The main button reads label, the bar has the range and (unless -1) the
// value, and nothing of the window is clipped or overlaps.
void tst_Launcher::expectState(const QString &label, int minimum, int maximum, int value)
{
    QTRY_COMPARE_WITH_TIMEOUT(m_window->mainButton()->text(), label, Slow);
    const QProgressBar *bar = m_window->progress()->bar();
    QCOMPARE(bar->minimum(), minimum);
    QCOMPARE(bar->maximum(), maximum);
    if (value >= 0)
        QCOMPARE(bar->value(), value);
    const QStringList faults = layoutFaults(m_window.get());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
}

void tst_Launcher::screenshot(QWidget *widget, const QString &state)
{
    const QString file = QStringLiteral(MORVANIEL_SCREENSHOT_DIR "/launcher-%1-%2.png").arg(state, m_scale);
    QVERIFY2(widget->grab().save(file), qPrintable(file));
}

void tst_Launcher::installFromNothing()
{
    openWindow(QStringLiteral("fresh"), m_server.url(QString()));
    expectState(QStringLiteral("Install"), 0, 100, 0);
    QCOMPARE(m_window->versionLine()->text(), QStringLiteral("Installed: none      Newest: 1.0.0.3"));
    QCOMPARE(m_window->announcements()->item(0)->text(), QStringLiteral("01-01   Sample announcement"));
    // The launcher's channel offers 1.0.0.2 to this 1.0.0.1.
    QVERIFY(m_window->launcherBanner()->isVisible());
    // Both pictures arrived and take turns.
    Carousel *carousel = m_window->carousel();
    QTRY_COMPARE_WITH_TIMEOUT(carousel->pictureCount(), 2, Slow);
    QCOMPARE(carousel->interval(), 300);
    QSignalSpy switched(carousel, &Carousel::switched);
    QVERIFY(switched.wait(10000));
    QVERIFY(!carousel->pixmap(Qt::ReturnByValue).isNull());

    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    QSignalSpy ended(m_window.get(), &LauncherWindow::runEnded);
    QVERIFY(ended.wait(Slow));
    QCOMPARE(ended.last().at(1).toInt(), 0);
    expectState(QStringLiteral("Play"), 0, 100, 100);
    QCOMPARE(m_window->versionLine()->text(), QStringLiteral("Installed: 1.0.0.3      Newest: 1.0.0.3"));
    QCOMPARE(treeDifferences(version(2), game(QStringLiteral("fresh"))), QStringList());
}

// A throttled install paused half-way keeps its partial download and
// continues it from there, at full speed once the settings lift the limit.
void tst_Launcher::pauseAndResume()
{
    openWindow(QStringLiteral("paused"), m_server.url(QString()), 64);
    expectState(QStringLiteral("Install"), 0, 100, 0);
    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    expectState(QStringLiteral("Pause"), 0, 100);
    QProgressBar *bar = m_window->progress()->bar();
    QTRY_VERIFY_WITH_TIMEOUT(bar->value() >= 3, Slow);
    QVERIFY(m_window->progress()->details()->fullText().contains(QStringLiteral(" left")));
    screenshot(m_window.get(), QStringLiteral("install-running"));

    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    expectState(QStringLiteral("Resume"), 0, 100);
    const int pausedAt = bar->value();
    QVERIFY2(pausedAt > 0 && pausedAt < 100, qPrintable(QString::number(pausedAt)));
    const QString pack = path(QStringLiteral("paused/MorvanielCache/full_1.0.0.3.7z"));
    const qint64 partial = QFileInfo(pack).size();
    QVERIFY(partial > 0);
    QCOMPARE(m_window->statusLine()->fullText(), QStringLiteral("Paused"));

    QTest::mouseClick(m_window->settingsButton(), Qt::LeftButton);
    QTRY_VERIFY(m_window->settingsDialog() && m_window->settingsDialog()->isVisible());
    m_window->settingsDialog()->speedLimitBox()->setValue(0);
    QTest::mouseClick(m_window->settingsDialog()->saveButton(), Qt::LeftButton);
    QCOMPARE(m_window->settings().speedLimitKiB, 0);

    m_server.resetStatistics();
    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    expectState(QStringLiteral("Play"), 0, 100, 100);
    QCOMPARE(treeDifferences(version(2), game(QStringLiteral("paused"))), QStringList());
    // The resumed run asked only for what the pause left missing.
    bool ranged = false;
    for (const Http::FileServer::Request &r : m_server.requests())
        ranged = ranged
            || (r.path.endsWith(QStringLiteral("full_1.0.0.3.7z")) && r.headers.value("range").startsWith("bytes=")
                && r.headers.value("range").mid(6).split('-').first().toLongLong() >= partial);
    QVERIFY(ranged);
}

void tst_Launcher::updateThroughPatchChain_data()
{
    QTest::addColumn<QString>("holdOpen"); // empty: no file in use
    QTest::addColumn<bool>("retry");
    QTest::newRow("nothing in use") << QString() << true;
    QTest::newRow("file in use, retry") << QStringLiteral("Morvaniel.exe") << true;
    QTest::newRow("file in use, cancel") << QStringLiteral("Morvaniel.exe") << false;
}

void tst_Launcher::updateThroughPatchChain()
{
    QFETCH(QString, holdOpen);
    QFETCH(bool, retry);
    const QString install = QStringLiteral("old-%1").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), '-');
    QVERIFY(copyTree(version(0), game(install)));
    InstallState::writeVersion(path(install), Publisher::sampleVersionName(0));
    openWindow(install, m_server.url(QString()));
    expectState(QStringLiteral("Update"), 0, 100, 0);
    QCOMPARE(m_window->versionLine()->text(), QStringLiteral("Installed: 1.0.0.1      Newest: 1.0.0.3"));

    // Another program holds a game file open.
    TestSupport::FileHolder holder;
    const QString held = game(install) + QLatin1Char('/') + holdOpen;
    if (!holdOpen.isEmpty())
        QVERIFY(holder.hold(held));
    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    if (!holdOpen.isEmpty()) {
        InUseDialog *dialog = m_window->inUseDialog();
        QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), Slow);
        QCOMPARE(dialog->files(), QStringList{ QDir::toNativeSeparators(held) });
        expectState(QStringLiteral("Pause"), 0, 100);
        QVERIFY2(layoutFaults(dialog).isEmpty(), qPrintable(layoutFaults(dialog).join(QStringLiteral("; "))));
        // Nothing of the game was touched while the question is open.
        QCOMPARE(treeDifferences(version(0), game(install)), QStringList());
        if (retry)
            screenshot(dialog, QStringLiteral("in-use-dialog"));
        if (retry)
            holder.release();
        QTest::mouseClick(retry ? dialog->retryButton() : dialog->cancelButton(), Qt::LeftButton);
    }
    QSignalSpy ended(m_window.get(), &LauncherWindow::runEnded);
    QVERIFY(ended.wait(Slow));
    if (!retry) {
        QCOMPARE(ended.last().at(1).toInt(), 1);
        expectState(QStringLiteral("Update"), 0, 100, 0);
        QVERIFY2(m_window->statusLine()->fullText().contains(QStringLiteral("is in use by another program")),
            qPrintable(m_window->statusLine()->fullText()));
        QCOMPARE(treeDifferences(version(0), game(install)), QStringList());
        return;
    }
    QCOMPARE(ended.last().at(1).toInt(), 0);
    expectState(QStringLiteral("Play"), 0, 100, 100);
    QCOMPARE(m_window->versionLine()->text(), QStringLiteral("Installed: 1.0.0.3      Newest: 1.0.0.3"));
    QCOMPARE(treeDifferences(version(2), game(install)), QStringList());
    if (holdOpen.isEmpty())
        screenshot(m_window.get(), QStringLiteral("update-done"));
}

void tst_Launcher::repairAfterDamage()
{
    QVERIFY(copyTree(version(2), game(QStringLiteral("damaged"))));
    InstallState::writeVersion(path(QStringLiteral("damaged")), Publisher::sampleVersionName(2));
    const QString pak
        = game(QStringLiteral("damaged")) + QStringLiteral("/PM/Content/Paks/pakchunk0-WindowsNoEditor.pak");
    QFile f(pak);
    QVERIFY(f.open(QIODevice::ReadWrite));
    f.seek(1000);
    f.write("broken");
    f.close();
    openWindow(QStringLiteral("damaged"), m_server.url(QString()));
    expectState(QStringLiteral("Repair"), 0, 100, 0);
    QVERIFY(m_window->statusLine()->fullText().startsWith(QStringLiteral("1 game file(s) differ")));
    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    QSignalSpy ended(m_window.get(), &LauncherWindow::runEnded);
    QVERIFY(ended.wait(Slow));
    QCOMPARE(ended.last().at(1).toInt(), 0);
    expectState(QStringLiteral("Play"), 0, 100, 100);
    QCOMPARE(treeDifferences(version(2), game(QStringLiteral("damaged"))), QStringList());
}

// The server's maintenance switch disables the button with the server's text.
void tst_Launcher::maintenanceSwitch()
{
    Http::FileServer maintained;
    maintained.setRoot(path(QStringLiteral("www")));
    QVERIFY(maintained.listen(0));
    QJsonObject info = QJsonDocument::fromJson(TestSupport::readFile(path(QStringLiteral("www/info.json")))).object();
    info.insert(QStringLiteral("reparing"), true);
    info.insert(QStringLiteral("reparing_tip"), QStringLiteral("Back at 18:00"));
    maintained.addFile(QStringLiteral("/info.json"), QJsonDocument(info).toJson());
    openWindow(QStringLiteral("maintenance"), maintained.url(QString()));
    expectState(QStringLiteral("Maintenance"), 0, 100, 0);
    QVERIFY(!m_window->mainButton()->isEnabled());
    QVERIFY(m_window->notice()->isVisible());
    QVERIFY2(
        m_window->notice()->text().startsWith(QStringLiteral("Back at 18:00")), qPrintable(m_window->notice()->text()));
    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    QCOMPARE(m_window->action(), MainAction::Maintenance);
    m_window.reset(); // before the server goes
}

void tst_Launcher::settingsDialog()
{
    openWindow(QStringLiteral("settings"), m_server.url(QString()));
    expectState(QStringLiteral("Install"), 0, 100, 0);
    QTest::mouseClick(m_window->settingsButton(), Qt::LeftButton);
    QTRY_VERIFY(m_window->settingsDialog() && m_window->settingsDialog()->isVisible());
    SettingsDialog *dialog = m_window->settingsDialog();
    QCOMPARE(dialog->installDirEdit()->text(), path(QStringLiteral("settings")));
    dialog->speedLimitBox()->setValue(2048);
    dialog->autoUpdateBox()->setChecked(true);
    dialog->musicBox()->setChecked(false);
    QVERIFY2(layoutFaults(dialog).isEmpty(), qPrintable(layoutFaults(dialog).join(QStringLiteral("; "))));
    screenshot(dialog, QStringLiteral("settings-dialog"));
    QSignalSpy saved(m_window.get(), &LauncherWindow::settingsSaved);
    QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
    // Saved at once, on the GUI thread, through the library's settings store.
    QCOMPARE(saved.count(), 1);
    const LauncherSettings stored = LauncherSettings::load();
    QCOMPARE(stored.speedLimitKiB, 2048);
    QCOMPARE(stored.autoUpdate, true);
    QCOMPARE(stored.backgroundMusic, false);
    QCOMPARE(stored.installDir, path(QStringLiteral("settings")));
}

QTEST_MAIN(tst_Launcher)
#include "tst_launcher.moc"
