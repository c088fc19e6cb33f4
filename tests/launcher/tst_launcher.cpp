// The launcher window end to end against the published sample game on a
// loopback server of the test's own: install from nothing, pause and resume,
// the patch chain (with a game file held open by another program), repair
// after damage, the maintenance switch and the settings. Every state checks
// the main button, the progress bar and that no text is clipped and no
// widgets overlap; the states worth seeing are saved as PNG screenshots.

#include "../host/HostTestSupport.h"
#include "../support/FileHolder.h"
#include "../support/ImmutableFile.h"
#include "LauncherChild.h"

#include "Carousel.h"
#include "ElidedLabel.h"
#include "FileServer.h"
#include "HttpServer.h"
#include "InUseDialog.h"
#include "InstallState.h"
#include "LauncherSettings.h"
#include "LauncherWindow.h"
#include "ProgressPanel.h"
#include "Publisher.h"
#include "SampleGame.h"
#include "SettingsDialog.h"
#include "UpdateFlow.h"

#include "trust/ReleaseKeys.h"
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
#include <QSettings>
#include <QSpinBox>
#include <QTcpServer>
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
    void installByBlocks();
    void updateThroughPatchChain_data();
    void updateThroughPatchChain();
    void repairAfterDamage();
    void maintenanceSwitch();
    void settingsDialog();
    void serverList_data();
    void serverList();
    void closeDuringStage_data();
    void closeDuringStage();
    void stagesShowTheirProgress();
    void playerMessages_data();
    void playerMessages();
    void longMaintenanceText();
    void longPathInAMessage();
    void tamperedSignedServer_data();
    void tamperedSignedServer();
    void launcherChannelMissing();
    void installFolderChangedDuringRun();
    void checkBySizeUnlessInterrupted();

private:
    QString path(const QString &name) const { return m_work.filePath(name); }
    QString version(int i) const { return path(QStringLiteral("versions/")) + Publisher::sampleVersionName(i); }
    QString game(const QString &install) const { return InstallState::gameFolder(path(install)); }
    // A shown window on install, started against server, waited for until its first check ended.
    LauncherWindow *openWindow(const QString &install, const QString &server, int speedLimitKiB = 0);
    LauncherWindow *openWindow(const QString &install, const LauncherSettings &settings);
    void expectState(const QString &label, int minimum, int maximum, int value = -1);
    // Waits until the window rests: no run, and the button offers what comes next.
    void waitForRest();
    // From where the window rests, the update to the newest version, which must end in Play.
    void finishUpdate();
    void screenshot(QWidget *widget, const QString &state);

    QTemporaryDir m_work;
    Http::FileServer m_server;
    std::unique_ptr<LauncherWindow> m_window;
    QString m_scale;
};

void tst_Launcher::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>();
    QVERIFY(m_work.isValid());
    QString error;
    QCOMPARE(Publisher::generateSampleGame(path(QStringLiteral("versions")), 3, error).size(), 3);
    QVERIFY(TestSupport::writeFile(path(QStringLiteral("launcher/1.0.0.2/Launcher.exe")), QByteArray(2048, 'l')));
    Publisher::PublishOptions options;
    options.inputDir = path(QStringLiteral("versions"));
    options.outputDir = path(QStringLiteral("www"));
    options.launcherInputDir = path(QStringLiteral("launcher"));
    options.compressionLevel = 1;
    options.blocks = false; // these runs pin the archive path (tst_hostblocks: the blocks)
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
    return openWindow(install, settings);
}

LauncherWindow *tst_Launcher::openWindow(const QString &install, const LauncherSettings &settings)
{
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

void tst_Launcher::waitForRest()
{
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->flow().running() && m_window->action() != MainAction::Checking
            && m_window->action() != MainAction::Pause && m_window->action() != MainAction::Pausing,
        Slow);
}

void tst_Launcher::finishUpdate()
{
    waitForRest();
    const QString label = m_window->mainButton()->text();
    if (label == QLatin1String("Play"))
        return;
    QVERIFY2(
        QStringList({ QStringLiteral("Install"), QStringLiteral("Update"), QStringLiteral("Resume") }).contains(label),
        qPrintable(label + QLatin1String(": ") + m_window->statusLine()->fullText()));
    QSignalSpy ended(m_window.get(), &LauncherWindow::runEnded);
    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    QVERIFY(ended.wait(Slow));
    QCOMPARE(ended.last().at(1).toInt(), 0);
    expectState(QStringLiteral("Play"), 0, 100, 100);
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
    // No publisher key: the window says that nothing checks the server's signature.
    QVERIFY(m_window->signatureNote()->isVisible());
    QVERIFY2(m_window->signatureNote()->fullText().startsWith(QStringLiteral("Unsigned server")),
        qPrintable(m_window->signatureNote()->fullText()));
    // Both pictures arrived and take turns.
    Carousel *carousel = m_window->carousel();
    QTRY_COMPARE_WITH_TIMEOUT(carousel->pictureCount(), 2, Slow);
    screenshot(m_window.get(), QStringLiteral("unsigned-server"));
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
    // Paused shows what is on disk, and no speed or time left: nothing moves.
    const QString details = m_window->progress()->details()->fullText();
    QVERIFY2(details.startsWith(QStringLiteral("Paused: ")) && details.endsWith(QStringLiteral(" downloaded")),
        qPrintable(details));
    screenshot(m_window.get(), QStringLiteral("paused-partial"));

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

// Where the server keeps a block store, the install goes by blocks: its own
// stage text, the download's byte line and bar, pause and resume.
void tst_Launcher::installByBlocks()
{
    Publisher::PublishOptions options;
    options.inputDir = path(QStringLiteral("versions"));
    options.outputDir = path(QStringLiteral("www-blocks"));
    options.compressionLevel = 1;
    Publisher::PublishReport report;
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
    HttpTest::HttpServer server;
    server.setRoot(path(QStringLiteral("www-blocks")));
    HttpTest::HttpFaultRule paced;
    paced.bytesPerSecond = 384 * 1024;
    for (const QString &bundle : QDir(path(QStringLiteral("www-blocks/game/blocks"))).entryList({ "*.bundle" }))
        server.setRule(QStringLiteral("/game/blocks/") + bundle, paced);
    QVERIFY(server.listen(0));

    openWindow(QStringLiteral("blocks"), server.url(QString()));
    expectState(QStringLiteral("Install"), 0, 100, 0);
    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    expectState(QStringLiteral("Pause"), 0, 100);
    QTRY_COMPARE_WITH_TIMEOUT(
        m_window->statusLine()->fullText(), QStringLiteral("Downloading and writing the game files"), Slow);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->progress()->bar()->value() >= 10, Slow);
    QVERIFY2(m_window->progress()->details()->fullText().contains(QStringLiteral(" left")),
        qPrintable(m_window->progress()->details()->fullText()));
    screenshot(m_window.get(), QStringLiteral("install-blocks-running"));

    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    expectState(QStringLiteral("Resume"), 0, 100);
    QCOMPARE(m_window->statusLine()->fullText(), QStringLiteral("Paused"));
    const QString details = m_window->progress()->details()->fullText();
    QVERIFY2(details.startsWith(QStringLiteral("Paused: ")) && !details.startsWith(QStringLiteral("Paused: 0.00 B"))
            && m_window->progress()->bar()->value() > 0,
        qPrintable(details));
    screenshot(m_window.get(), QStringLiteral("install-blocks-paused"));
    const int paused = m_window->progress()->bar()->value();

    // Opened again, the window finds the paused run and offers to resume it.
    m_window.reset();
    openWindow(QStringLiteral("blocks"), server.url(QString()));
    expectState(QStringLiteral("Resume"), 0, 100, paused);
    QCOMPARE(m_window->progress()->details()->fullText(), details);
    screenshot(m_window.get(), QStringLiteral("install-blocks-reopened"));
    finishUpdate();
    QCOMPARE(treeDifferences(version(2), game(QStringLiteral("blocks"))), QStringList());
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
    QCOMPARE(m_window->notice()->fullText(), QStringLiteral("Back at 18:00"));
    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    QCOMPARE(m_window->action(), MainAction::Maintenance);
    m_window.reset(); // before the server goes
}

void tst_Launcher::serverList_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("servers");
    const QString a = QStringLiteral("http://a.example:8080");
    const QString b = QStringLiteral("https://b.example");
    QTest::newRow("the single key of earlier launchers")
        << QByteArray("[Launcher]\nServer=http://a.example:8080\n") << QStringList{ a };
    QTest::newRow("an INI list") << QByteArray("[Launcher]\nServers=http://a.example:8080, https://b.example\n")
                                 << QStringList{ a, b };
    QTest::newRow("a quoted text with commas")
        << QByteArray("[Launcher]\nServers=\"http://a.example:8080,https://b.example\"\n") << QStringList{ a, b };
    QTest::newRow("the list before the single key")
        << QByteArray("[Launcher]\nServer=http://a.example:8080\nServers=https://b.example\n") << QStringList{ b };
    QTest::newRow("blanks and repeats dropped")
        << QByteArray("[Launcher]\nServers=http://a.example:8080, , http://a.example:8080, https://b.example\n")
        << QStringList{ a, b };
    QTest::newRow("no server") << QByteArray("[Launcher]\nInstallDir=x\n") << QStringList();
}

void tst_Launcher::serverList()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, servers);
    const QString file = path(QStringLiteral("servers-%1.ini").arg(QTest::currentDataTag()).replace(' ', '-'));
    QVERIFY(TestSupport::writeFile(file, ini));
    const QSettings read(file, QSettings::IniFormat);
    QCOMPARE(LauncherSettings::readServers(
                 read.value(QStringLiteral("Launcher/Servers")), read.value(QStringLiteral("Launcher/Server"))),
        servers);

    // Through the program's own settings: the list comes back in order, and
    // the single key keeps the first for a launcher that knows no list.
    const LauncherSettings before = LauncherSettings::load();
    LauncherSettings changed = before;
    changed.servers = servers;
    changed.server = servers.value(0);
    changed.save();
    const LauncherSettings loaded = LauncherSettings::load();
    before.save();
    QCOMPARE(loaded.servers, servers);
    QCOMPARE(loaded.server, servers.value(0));
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

void tst_Launcher::closeDuringStage_data()
{
    QTest::addColumn<QString>("closeAt"); // a stage's name, or "question"
    QTest::addColumn<int>("installed"); // the version installed before: -1 none, 0 the first, 2 the newest
    QTest::addColumn<QString>("hold"); // the tool that holds while the window closes
    QTest::addColumn<int>("limitKiB");
    QTest::addColumn<bool>("fileHeld");
    // What the next start offers: a download the close left in the cache is resumed.
    QTest::addColumn<QString>("next");
    // With the automatic update on, a close during the check must not start one.
    QTest::addColumn<bool>("autoUpdate");
    QTest::newRow("planning") << QStringLiteral("fetch") << -1 << QString() << 0 << false << QStringLiteral("Install")
                              << false;
    QTest::newRow("download") << QStringLiteral("download") << -1 << QString() << 64 << false
                              << QStringLiteral("Resume") << false;
    QTest::newRow("archive check") << QStringLiteral("verify-archives") << -1 << QString() << 0 << false
                                   << QStringLiteral("Resume") << false;
    QTest::newRow("extraction") << QStringLiteral("extract") << -1 << QStringLiteral("7z") << 0 << false
                                << QStringLiteral("Resume") << false;
    QTest::newRow("merge") << QStringLiteral("merge") << 0 << QStringLiteral("hpatchz") << 0 << false
                           << QStringLiteral("Update") << false;
    QTest::newRow("in-use question") << QStringLiteral("question") << 0 << QString() << 0 << true
                                     << QStringLiteral("Update") << false;
    QTest::newRow("check") << QStringLiteral("verify-install") << 2 << QString() << 0 << false << QStringLiteral("Play")
                           << false;
    QTest::newRow("check, automatic update on")
        << QStringLiteral("fetch") << 0 << QString() << 0 << false << QStringLiteral("Update") << true;
}

// The player closes the window while a stage runs: the run stops through the
// library, the process ends within 10 s without a sanitizer's report, and the
// next start finishes the update byte for byte.
void tst_Launcher::closeDuringStage()
{
    QFETCH(QString, closeAt);
    QFETCH(int, installed);
    QFETCH(QString, hold);
    QFETCH(int, limitKiB);
    QFETCH(bool, fileHeld);
    QFETCH(QString, next);
    QFETCH(bool, autoUpdate);
    const QString install = QStringLiteral("close-%1").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), '-');
    if (installed >= 0) {
        QVERIFY(copyTree(version(installed), game(install)));
        QVERIFY(InstallState::writeVersion(path(install), Publisher::sampleVersionName(installed)));
    }
    if (installed == 2) // as after a run that wrote into the game and did not finish
        QSettings(InstallState::statePath(path(install)), QSettings::IniFormat)
            .setValue(QStringLiteral("CheckFilesByMd5"), true);
    TestSupport::FileHolder holder;
    if (fileHeld)
        QVERIFY(holder.hold(game(install) + QStringLiteral("/Morvaniel.exe")));

    LauncherChild::Plan plan;
    plan.server = m_server.url(QString());
    plan.installDir = path(install);
    plan.launcherDir = path(install + QStringLiteral("-launcher"));
    plan.closeAt = closeAt;
    plan.startUpdate = installed != 2 && !autoUpdate;
    plan.autoUpdate = autoUpdate;
    plan.speedLimitKiB = limitKiB;
    plan.hold = hold;
    QProcess child;
    child.setProcessEnvironment(LauncherChild::environment(plan));
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY2(child.waitForStarted(30000), qPrintable(child.errorString()));
    // The child works against this process's server: the event loop runs while it waits.
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT(
        (out += child.readAllStandardOutput()).contains("closing") || child.state() == QProcess::NotRunning, Slow);
    QElapsedTimer sinceClose;
    sinceClose.start();
    if (!out.contains("closing")) {
        child.kill();
        child.waitForFinished(10000);
        QFAIL(qPrintable(QString::fromUtf8(out + child.readAllStandardError())));
    }
    QSignalSpy ended(&child, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    if (child.state() != QProcess::NotRunning && !ended.wait(30000)) {
        child.kill();
        child.waitForFinished(10000);
        QFAIL("the child did not end within 30 s of the close");
    }
    const qint64 closing = sinceClose.elapsed();
    out += child.readAllStandardOutput();
    const QByteArray errors = child.readAllStandardError();
    QVERIFY2(closing < LauncherWindow::CloseDeadlineMs, qPrintable(QStringLiteral("%1 ms").arg(closing)));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.exitCode() == 0, qPrintable(QString::number(child.exitCode()) + QLatin1Char('\n') + errors));
    for (const char *report : { "Sanitizer", "runtime error", "LeakSanitizer" })
        QVERIFY2(!errors.contains(report), errors.constData());
    // The run the close stopped ended as paused, before the window went.
    const QByteArray lastRun = out.mid(out.lastIndexOf("run ended")).trimmed();
    QVERIFY2(lastRun.endsWith(" 130"), out.constData());

    if (autoUpdate) // no update started behind the closed window
        QCOMPARE(treeDifferences(version(installed), game(install)), QStringList());
    holder.release();
    openWindow(install, m_server.url(QString()));
    waitForRest();
    QCOMPARE(m_window->mainButton()->text(), next);
    if (next == QLatin1String("Resume"))
        QVERIFY(m_window->progress()->bar()->value() > 0);
    finishUpdate();
    QCOMPARE(treeDifferences(version(2), game(install)), QStringList());
}

// Extraction and the merge stage each show their own progress while their
// tool runs (the held tool prints 37 % and waits), and a pause ends them at once.
void tst_Launcher::stagesShowTheirProgress()
{
    struct Held
    {
        QString tool;
        int installed;
        QString text;
        QString shot;
    };
    for (const Held &held :
        { Held{ QStringLiteral("7z"), -1, QStringLiteral("Unpacking"), QStringLiteral("extraction-running") },
            Held{ QStringLiteral("hpatchz"), 0, QStringLiteral("Patching"), QStringLiteral("merge-running") } }) {
        const QString install = QStringLiteral("progress-") + held.tool;
        if (held.installed >= 0) {
            QVERIFY(copyTree(version(held.installed), game(install)));
            QVERIFY(InstallState::writeVersion(path(install), Publisher::sampleVersionName(held.installed)));
        }
        qputenv("MORVANIEL_TEST_HOLD", held.tool.toLatin1());
        openWindow(install, m_server.url(QString()));
        waitForRest();
        QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            m_window->progress()->details()->fullText() == held.text && m_window->progress()->bar()->value() > 0, Slow);
        expectState(QStringLiteral("Pause"), 0, 100);
        QCOMPARE(m_window->statusLine()->fullText(),
            held.tool == QLatin1String("7z") ? QStringLiteral("Unpacking the downloaded files")
                                             : QStringLiteral("Patching the game"));
        screenshot(m_window.get(), held.shot);
        // The held tool would wait a minute: the pause ends it now.
        QElapsedTimer clock;
        clock.start();
        QSignalSpy ended(m_window.get(), &LauncherWindow::runEnded);
        QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
        QVERIFY(ended.wait(Slow));
        QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(ended.last().at(1).toInt(), int(HostFlow::UpdateFlow::Paused));
        qunsetenv("MORVANIEL_TEST_HOLD");
        QCOMPARE(m_window->statusLine()->fullText(), QStringLiteral("Paused"));
        finishUpdate();
        QCOMPARE(treeDifferences(version(2), game(install)), QStringList());
        m_window.reset();
    }
}

void tst_Launcher::playerMessages_data()
{
    QTest::addColumn<QString>("server"); // "down": nothing listens; "empty": a server without the game
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("shot");
    QTest::newRow("unreachable server") << QStringLiteral("down") << false
                                        << QStringLiteral("The update server cannot be reached")
                                        << QStringLiteral("unreachable-server");
    QTest::newRow("not on the server") << QStringLiteral("empty") << false
                                       << QStringLiteral("The update server does not have manifest.txt") << QString();
    QTest::newRow("read-only folder") << QString() << true << QStringLiteral("cannot be written")
                                      << QStringLiteral("read-only-folder");
}

// What went wrong, in the player's words; the flow's and the library's own
// texts stay in the tooltip.
void tst_Launcher::playerMessages()
{
    QFETCH(QString, server);
    QFETCH(bool, readOnly);
    QFETCH(QString, expected);
    QFETCH(QString, shot);
    const QString install = QStringLiteral("message-%1").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), '-');
    QString url = m_server.url(QString());
    Http::FileServer empty;
    if (server == QLatin1String("down")) {
        QTcpServer probe; // a port that was free a moment ago: nothing answers there
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        url = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
    } else if (server == QLatin1String("empty")) {
        QVERIFY(QDir().mkpath(path(install + QStringLiteral("-www"))));
        empty.setRoot(path(install + QStringLiteral("-www")));
        QVERIFY(empty.listen(0));
        url = empty.url(QString());
    }
    std::unique_ptr<TestSupport::ImmutableGuard> frozen;
    if (readOnly) {
#ifdef Q_OS_WIN
        QSKIP("a read-only attribute does not keep files out of a Windows folder");
#endif
        QVERIFY(QDir().mkpath(path(install)));
        frozen = std::make_unique<TestSupport::ImmutableGuard>(path(install));
        if (!frozen->ok())
            QVERIFY(QFile::setPermissions(path(install), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        if (QFile(path(install) + QStringLiteral("/probe")).open(QIODevice::WriteOnly)) {
            QFile::remove(path(install) + QStringLiteral("/probe"));
            QSKIP("this user writes into read-only folders (root without chattr)");
        }
    }
    openWindow(install, url);
    waitForRest();
    const QString status = m_window->statusLine()->fullText();
    if (readOnly) {
        QFile::setPermissions(path(install), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        frozen.reset();
    }
    QVERIFY2(status.contains(expected), qPrintable(status));
    if (readOnly)
        QVERIFY2(status.contains(QDir::toNativeSeparators(path(install))), qPrintable(status));
    // No Chinese and no bare error numbers on the line; the details have the rest.
    for (const QChar c : status)
        QVERIFY2(c.unicode() < 0x2e80, qPrintable(status));
    QVERIFY2(!status.contains(QStringLiteral("network error")), qPrintable(status));
    QVERIFY(m_window->statusLine()->toolTip().size() > status.size());
    expectState(QStringLiteral("Install"), 0, 100, 0);
    if (!shot.isEmpty())
        screenshot(m_window.get(), shot);
    m_window.reset(); // before the server goes
}

// A long maintenance text goes into the notice above the pictures, wrapped;
// the button stays short and disabled.
void tst_Launcher::longMaintenanceText()
{
    Http::FileServer maintained;
    maintained.setRoot(path(QStringLiteral("www")));
    QVERIFY(maintained.listen(0));
    QJsonObject info = QJsonDocument::fromJson(TestSupport::readFile(path(QStringLiteral("www/info.json")))).object();
    const QString text = QStringLiteral(
        "The servers are down for the season two update from 14:00 to 18:00 UTC. Downloads resume afterwards; "
        "the launcher keeps what it already fetched. Thank you for your patience while we move the worlds "
        "to new hardware and bring the new season's maps online.");
    info.insert(QStringLiteral("reparing"), true);
    info.insert(QStringLiteral("reparing_tip"), text);
    maintained.addFile(QStringLiteral("/info.json"), QJsonDocument(info).toJson());
    openWindow(QStringLiteral("long-maintenance"), maintained.url(QString()));
    expectState(QStringLiteral("Maintenance"), 0, 100, 0);
    QVERIFY(!m_window->mainButton()->isEnabled());
    QCOMPARE(m_window->notice()->fullText(), text);
    QVERIFY(m_window->notice()->isVisible());
    screenshot(m_window.get(), QStringLiteral("long-maintenance"));
    m_window.reset();
}

// A message that names a file deep below a long install folder: the path is
// one word wider than the line, and must be shortened, not cut off.
void tst_Launcher::longPathInAMessage()
{
    Launcher::ElidedLabel label;
    label.setWordWrap(false);
    label.setLines(2);
    label.resize(360, 80);
    const QString file = QStringLiteral("/tmp/tmp.fMnAuD42rR/tst_launcher-gJEwyr/old-file-in-use,-cancel/"
                                        "MorvanielGame/Morvaniel.exe");
    label.setFullText(file + QStringLiteral(" is in use by another program. Close it and try again."));
    label.show();
    QVERIFY2(label.sizeHint().width() <= label.width(), qPrintable(label.text()));
    QCOMPARE(label.text().count(QLatin1Char('\n')), 1);
    QVERIFY2(label.text().section(QLatin1Char('\n'), 0, 0).endsWith(QStringLiteral("Morvaniel.exe")),
        qPrintable(label.text()));
    QCOMPARE(label.toolTip(), label.fullText());
}

// A server signed by the publisher whose guide an attacker changed after the
// signing: the window that trusts the publisher's key refuses it, says why,
// and leaves the game as it was.
void tst_Launcher::tamperedSignedServer_data()
{
    QTest::addColumn<bool>("keyFile"); // the key from release.pub beside the launcher, else from the settings
    QTest::newRow("key in the settings") << false;
    QTest::newRow("key file beside the launcher") << true;
}

void tst_Launcher::tamperedSignedServer()
{
    QFETCH(bool, keyFile);
    const QString row = keyFile ? QStringLiteral("tampered-file") : QStringLiteral("tampered");
    const QString www = path(row + QStringLiteral("-www"));
    QVERIFY(copyTree(path(QStringLiteral("www")), www));
    QString error;
    const QString keys = path(row + QStringLiteral("-keys"));
    const QString secret = keys + QStringLiteral("/release.key");
    const QString pub = keys + QStringLiteral("/") + LauncherSettings::keyFileName();
    QVERIFY(QDir().mkpath(keys));
    QVERIFY2(Morvaniel::ReleaseKeys::GenerateKeyFiles(secret, pub, error), qPrintable(error));
    Publisher::SigningOptions signing;
    signing.secretKeyFile = secret;
    QVERIFY2(Publisher::writeSignedRelease(www, QStringLiteral("game"), Publisher::sampleVersionName(2), signing,
                 QDateTime::currentDateTimeUtc(), QString(), error),
        qPrintable(error));
    // The patch replaced, and its MD5 in the guide with it: the guide's bytes
    // are no longer the ones the publisher signed.
    const QString patch = www
        + QStringLiteral("/game/%1/patch_%2_%1.7z")
              .arg(Publisher::sampleVersionName(1), Publisher::sampleVersionName(0));
    const QByteArray published = TestSupport::readFile(patch);
    const QByteArray evil(published.size(), 'x');
    QVERIFY(TestSupport::writeFile(patch, evil));
    QByteArray guide = TestSupport::readFile(www + QStringLiteral("/game/manifest.txt"));
    QVERIFY(guide.contains(TestSupport::md5Of(published).toLatin1()));
    QVERIFY(TestSupport::writeFile(www + QStringLiteral("/game/manifest.txt"),
        guide.replace(TestSupport::md5Of(published).toLatin1(), TestSupport::md5Of(evil).toLatin1())));
    Http::FileServer tampered;
    tampered.setRoot(www);
    QVERIFY(tampered.listen(0));

    const QString install = row;
    QVERIFY(copyTree(version(0), game(install)));
    QVERIFY(InstallState::writeVersion(path(install), Publisher::sampleVersionName(0)));
    LauncherSettings settings;
    settings.server = tampered.url(QString());
    settings.installDir = path(install);
    if (keyFile)
        QVERIFY2(settings.readKeyFile(keys, error), qPrintable(error));
    else
        settings.trustedKeys = QStringList{ QString::fromLatin1(TestSupport::readFile(pub)).trimmed() };
    openWindow(install, settings);
    waitForRest();
    // A trusted key: no note on unsigned updates.
    QVERIFY(!m_window->signatureNote()->isVisible());
    const QString status = m_window->statusLine()->fullText();
    QVERIFY2(status.startsWith(QStringLiteral("The update was refused")), qPrintable(status));
    QVERIFY2(m_window->statusLine()->toolTip().contains(QStringLiteral("manifest.txt")),
        qPrintable(m_window->statusLine()->toolTip()));
    // Nothing offers to install what was refused.
    QVERIFY(m_window->action() != MainAction::Update && m_window->action() != MainAction::Play);
    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    waitForRest();
    QCOMPARE(treeDifferences(version(0), game(install)), QStringList());
    QSettings state(InstallState::statePath(path(install)), QSettings::IniFormat);
    QCOMPARE(state.value(QStringLiteral("CurrentGameVersion")).toString(), Publisher::sampleVersionName(0));
    m_window.reset();
}

// No launcher channel on the server: the 404 is an answer, asked once.
void tst_Launcher::launcherChannelMissing()
{
    const QString www = path(QStringLiteral("no-launcher-www"));
    QVERIFY(copyTree(path(QStringLiteral("www/game")), www + QStringLiteral("/game")));
    Http::FileServer server;
    server.setRoot(www);
    QVERIFY(server.listen(0));
    QElapsedTimer clock;
    clock.start();
    openWindow(QStringLiteral("no-launcher"), server.url(QString()));
    expectState(QStringLiteral("Install"), 0, 100, 0);
    QCOMPARE(server.requestCount(QStringLiteral("/Launcher/manifest.txt")), 1);
    QVERIFY(!m_window->launcherBanner()->isVisible());
    m_window.reset();
}

// The install folder changes while a run goes on in the old one: that run
// stops, and the window describes the new folder, which Play then uses.
void tst_Launcher::installFolderChangedDuringRun()
{
    QVERIFY(copyTree(version(2), game(QStringLiteral("moved-to"))));
    QVERIFY(InstallState::writeVersion(path(QStringLiteral("moved-to")), Publisher::sampleVersionName(2)));
    openWindow(QStringLiteral("moved-from"), m_server.url(QString()), 64);
    expectState(QStringLiteral("Install"), 0, 100, 0);
    QTest::mouseClick(m_window->mainButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->progress()->bar()->value() >= 2, Slow);

    QTest::mouseClick(m_window->settingsButton(), Qt::LeftButton);
    QTRY_VERIFY(m_window->settingsDialog() && m_window->settingsDialog()->isVisible());
    m_window->settingsDialog()->installDirEdit()->setText(path(QStringLiteral("moved-to")));
    QTest::mouseClick(m_window->settingsDialog()->saveButton(), Qt::LeftButton);
    expectState(QStringLiteral("Play"), 0, 100, 100);
    QCOMPARE(m_window->versionLine()->text(), QStringLiteral("Installed: 1.0.0.3      Newest: 1.0.0.3"));
    // The old folder keeps its partial download for a later resume.
    QVERIFY(QFileInfo(path(QStringLiteral("moved-from/MorvanielCache/full_1.0.0.3.7z"))).size() > 0);
    QVERIFY(!QFileInfo::exists(game(QStringLiteral("moved-from")) + QStringLiteral("/Morvaniel.exe")));
}

// A normal start compares sizes only; after a run that wrote into the game
// and did not finish, the check goes by MD5 and finds a changed byte.
void tst_Launcher::checkBySizeUnlessInterrupted()
{
    const QString install = QStringLiteral("size-check");
    QVERIFY(copyTree(version(2), game(install)));
    QVERIFY(InstallState::writeVersion(path(install), Publisher::sampleVersionName(2)));
    // The first start has never checked this install: by MD5, and found whole.
    openWindow(install, m_server.url(QString()));
    expectState(QStringLiteral("Play"), 0, 100, 100);
    m_window.reset();

    const QString pak = game(install) + QStringLiteral("/PM/Content/Paks/pakchunk0-WindowsNoEditor.pak");
    QFile f(pak);
    QVERIFY(f.open(QIODevice::ReadWrite));
    f.seek(1000);
    f.write("X");
    f.close();
    openWindow(install, m_server.url(QString()));
    expectState(QStringLiteral("Play"), 0, 100, 100); // same sizes: not looked at
    m_window.reset();

    QSettings(InstallState::statePath(path(install)), QSettings::IniFormat)
        .setValue(QStringLiteral("CheckFilesByMd5"), true);
    openWindow(install, m_server.url(QString()));
    expectState(QStringLiteral("Repair"), 0, 100, 0);
    QCOMPARE(m_window->statusLine()->fullText(), QStringLiteral("1 game file(s) differ from version 1.0.0.3"));
}

int main(int argc, char *argv[])
{
    // The rows of closeDuringStage start this program as the window they close.
    if (LauncherChild::wanted())
        return LauncherChild::run(argc, argv);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    tst_Launcher test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_launcher.moc"
