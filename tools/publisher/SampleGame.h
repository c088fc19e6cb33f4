#pragma once

#include <QString>
#include <QStringList>

namespace Publisher {

// The folder of the sample game's archives ("pak" files), relative to a version root.
QString samplePakFolder();

// "1.0.0.1" for index 0, "1.0.0.2" for index 1, ...
QString sampleVersionName(int index);

// Writes versionCount version folders of a small game (about 3 MB each) under
// root, named by sampleVersionName. The content depends on nothing but the
// version index: every run writes the same bytes. From one version to the next
// files are changed in place (patchable), added, deleted, a whole folder goes,
// and a file is renamed in letter case only; names hold blanks and non-ASCII
// letters. Returns the version names, or an empty list with error set.
QStringList generateSampleGame(const QString &root, int versionCount, QString &error);

} // namespace Publisher
