#pragma once

class QTcpSocket;

namespace Http {

// Makes the socket's next close a reset (RST) instead of an orderly end: the
// peer sees "connection reset". Where the system offers no such switch the
// close stays as it is.
void setResetOnClose(QTcpSocket *socket);

} // namespace Http
