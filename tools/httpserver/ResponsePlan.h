#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <limits>

namespace Http {

// How the server answers one request. This base class serves plainly: at once,
// the file as asked, the body as fast as the socket takes it. FileServer asks
// its planResponse() for one plan per request, so a subclass of the server can
// answer later, with a reply of its own, or pace and end the body its own way.
class ResponsePlan
{
public:
    // A complete answer sent instead of the file.
    struct Reply
    {
        int status = 0; // 0: no reply of its own, the file is served
        QByteArray headers; // extra header lines, each ending in "\r\n"
        QByteArray body;
    };

    // What the connection does once the body bytes a Pace allowed are out and
    // more of the body remains.
    enum class Then {
        Wait, // ask again after waitMs
        Hold, // send nothing more, keep the connection open
        Drop, // close the connection in mid-body, once the bytes given are out
        Reset, // the same with a reset (RST) instead of an orderly close
    };

    struct Pace
    {
        qint64 budget = std::numeric_limits<qint64>::max(); // body bytes that may go out now
        Then then = Then::Hold;
        int waitMs = 0;
    };

    ResponsePlan() = default;
    virtual ~ResponsePlan() = default;
    Q_DISABLE_COPY(ResponsePlan)

    // Milliseconds to wait before the status line; negative: never answer.
    virtual int delayMs() const { return 0; }
    virtual Reply reply() const { return Reply(); }
    // Asked whenever the connection may send body bytes: sent is how many went
    // out so far, elapsedMs the time since the body started.
    virtual Pace pace(qint64 sent, qint64 elapsedMs) const
    {
        Q_UNUSED(sent)
        Q_UNUSED(elapsedMs)
        return Pace();
    }
};

} // namespace Http
