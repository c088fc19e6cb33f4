#pragma once

// The publisher's test: tst_publisher.cpp holds the layout a publication
// writes, tst_publisher_cycle.cpp the release cycle (adding, serials, order, retention,
// upload).

#include "Publisher.h"

#include "../support/TestSupport.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

namespace PublisherTest {

inline QStringList lines(const QString &path)
{
    return QString::fromUtf8(TestSupport::readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Lines of one "--name--" section of a marker-sectioned manifest.
inline QStringList section(const QStringList &all, const QString &marker)
{
    QStringList out;
    bool inside = false;
    for (const QString &l : all) {
        if (l.startsWith(QLatin1String("--")) && l.endsWith(QLatin1String("--")))
            inside = l == marker;
        else if (inside)
            out << l;
    }
    return out;
}

} // namespace PublisherTest

class tst_Publisher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void manifestsMatchTrees();
    void fullPacksExtract_data();
    void fullPacksExtract();
    void patchArchiveLayout();
    void reproducible();
    void refusedNames_data();
    void refusedNames();
    void linksAndSpecialFilesNotFollowed();
    void patchPlanEdgeCases();
    void launcherChannel();
    void commandLine();
    void badOptions();
    void byteSizes_data();
    void byteSizes();
    void growByAdding();
    void serialRules_data();
    void serialRules();
    void safeOrder();
    void retention_data();
    void retention();
    void uploadToS3();

private:
    // Publishes the three-version sample game, with patches when a diff tool is given.
    bool publishSample(const QString &out, qint64 splitSize, const QString &diffTool, Publisher::PublishReport &report);

    // The four-version game published at once, signed, with blocks: the
    // layout the release-cycle tests grow, prune and compare against.
    QString cycleLayout();
    Publisher::PublishOptions cycleOptions(const QString &out) const;

    QTemporaryDir m_dir;
    QString m_games;
    QStringList m_versions;
    QString m_games4;
    QString m_key;
    QString m_cycleLayout;
};
