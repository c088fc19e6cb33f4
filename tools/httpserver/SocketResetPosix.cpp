#include "SocketReset.h"

#include <QTcpSocket>

#include <sys/socket.h>

namespace Http {

void setResetOnClose(QTcpSocket *socket)
{
    // A zero linger turns the close into a RST.
    const linger hard{ 1, 0 };
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

} // namespace Http
