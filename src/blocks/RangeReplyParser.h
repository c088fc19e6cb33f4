#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace Morvaniel {

// Reads the body of an answer to a ranged request for a bundle and hands on
// runs of the bundle's bytes with their offsets: a 206 with one
// Content-Range, a 206 of several parts (multipart/byteranges), or a 200
// with the whole file from its first byte (a server that ignores Range).
// Every size the server states is checked against the bundle's listed size
// before it is believed, and the parser takes no more body bytes than its
// limit, so a hostile answer costs at most that.
class RangeReplyParser
{
public:
    enum Kind { Single, Multipart, Whole };
    using Sink = std::function<void(qint64 offset, const char *data, qint64 length)>;

    // From the status line and headers (contentLength -1 when absent). limit
    // bounds the body bytes of a 206 of several parts; the other kinds are
    // bounded by their stated length. False with error set when the answer
    // cannot be used.
    bool begin(int status, const QByteArray &contentType, const QByteArray &contentRange, qint64 contentLength,
        qint64 bundleSize, qint64 limit, QString &error);
    // False with error set on anything malformed or beyond the limit; the
    // runs handed on before stay valid.
    bool feed(const char *data, qint64 length, const Sink &sink, QString &error);
    // True once a complete answer was read (all parts of a multipart body and its closing line).
    bool complete() const;

    Kind kind() const { return m_kind; }
    qint64 consumed() const { return m_consumed; }

    // "bytes a-b/total" (total may be "*"): the range [a, b + 1); false when
    // malformed or outside a file of size bundleSize.
    static bool parseContentRange(const QByteArray &value, qint64 bundleSize, qint64 &begin, qint64 &end);
    // The length of the whole file an answer states: the total of a 206's or
    // a 416's Content-Range, a 200's Content-Length; -1 when it states none.
    static qint64 statedFileSize(int status, const QByteArray &contentRange, qint64 contentLength);

private:
    enum State { Preamble, PartHeaders, PartBody, AfterBody, Epilogue };

    bool feedMultipart(const char *data, qint64 length, const Sink &sink, QString &error);
    bool takeLine(QByteArray &line);

    Kind m_kind = Single;
    State m_state = Preamble;
    qint64 m_bundleSize = 0;
    qint64 m_limit = 0;
    qint64 m_consumed = 0;
    qint64 m_offset = 0; // bundle offset of the next body byte
    qint64 m_left = 0; // body bytes left in the current run
    QByteArray m_boundary; // "--" + boundary
    QByteArray m_pending; // header bytes not yet a whole line
    QByteArray m_partRange;
    bool m_done = false;
};

} // namespace Morvaniel
