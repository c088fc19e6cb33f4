#pragma once

#include <QByteArray>

namespace Publisher {

// A remote-information document with every key the launcher reads, filled with
// sample values, for a server that has no real one yet.
QByteArray sampleRemoteInfo();

} // namespace Publisher
