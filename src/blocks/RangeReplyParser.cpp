#include "blocks/RangeReplyParser.h"

#include <cstring>

namespace Morvaniel {

namespace {

// A part's header lines, and the lines around the parts, are short.
constexpr int MaxLine = 1024;
constexpr int MaxPartHeader = 4096;

bool fail(QString &error, const QString &why)
{
    error = why;
    return false;
}

qint64 parseNumber(const QByteArray &text, bool &ok)
{
    ok = !text.isEmpty() && text.size() <= 18;
    for (const char c : text)
        ok = ok && c >= '0' && c <= '9';
    return ok ? text.toLongLong() : -1;
}

} // namespace

bool RangeReplyParser::parseContentRange(const QByteArray &value, qint64 bundleSize, qint64 &begin, qint64 &end)
{
    const QByteArray v = value.trimmed();
    if (!v.startsWith("bytes "))
        return false;
    const int dash = v.indexOf('-');
    const int slash = v.indexOf('/');
    if (dash < 0 || slash < dash)
        return false;
    bool ok1 = false, ok2 = false, ok3 = true;
    const qint64 first = parseNumber(v.mid(6, dash - 6).trimmed(), ok1);
    const qint64 last = parseNumber(v.mid(dash + 1, slash - dash - 1).trimmed(), ok2);
    const QByteArray total = v.mid(slash + 1).trimmed();
    if (total != "*")
        ok3 = parseNumber(total, ok3) == bundleSize && ok3;
    if (!ok1 || !ok2 || !ok3 || first > last || last >= bundleSize)
        return false;
    begin = first;
    end = last + 1;
    return true;
}

qint64 RangeReplyParser::statedFileSize(int status, const QByteArray &contentRange, qint64 contentLength)
{
    if (status == 200)
        return contentLength >= 0 ? contentLength : -1;
    if (status != 206 && status != 416)
        return -1;
    const QByteArray v = contentRange.trimmed();
    const int slash = v.lastIndexOf('/');
    if (!v.startsWith("bytes ") || slash < 0)
        return -1;
    bool ok = false;
    const qint64 total = parseNumber(v.mid(slash + 1).trimmed(), ok);
    return ok ? total : -1;
}

bool RangeReplyParser::begin(int status, const QByteArray &contentType, const QByteArray &contentRange,
    qint64 contentLength, qint64 bundleSize, qint64 limit, QString &error)
{
    *this = RangeReplyParser();
    m_bundleSize = bundleSize;
    if (status == 200) {
        // The whole file, whatever was asked: it must be the listed one.
        if (contentLength >= 0 && contentLength != bundleSize)
            return fail(error,
                QStringLiteral("the server sent %1 bytes of a %2-byte bundle").arg(contentLength).arg(bundleSize));
        m_kind = Whole;
        m_limit = bundleSize;
        m_left = bundleSize;
        m_offset = 0;
        return true;
    }
    if (status != 206)
        return fail(error, QStringLiteral("the server answered %1").arg(status));
    const QByteArray type = contentType.trimmed().toLower();
    if (type.startsWith("multipart/byteranges")) {
        const int at = type.indexOf("boundary=");
        if (at < 0)
            return fail(error, QStringLiteral("a multipart answer without its boundary"));
        // The boundary keeps its letter case: take it from the original text.
        QByteArray b = contentType.trimmed().mid(at + 9);
        const int semicolon = b.indexOf(';');
        if (semicolon >= 0)
            b.truncate(semicolon);
        b = b.trimmed();
        if (b.size() >= 2 && b.startsWith('"') && b.endsWith('"'))
            b = b.mid(1, b.size() - 2);
        if (b.isEmpty() || b.size() > 70)
            return fail(error, QStringLiteral("a multipart answer with a malformed boundary"));
        m_kind = Multipart;
        m_boundary = "--" + b;
        m_limit = limit;
        m_state = Preamble;
        return true;
    }
    qint64 first = 0, end = 0;
    if (!parseContentRange(contentRange, bundleSize, first, end))
        return fail(error,
            QStringLiteral("the server's range \"%1\" does not fit the bundle")
                .arg(QString::fromLatin1(contentRange.left(100))));
    if (contentLength >= 0 && contentLength != end - first)
        return fail(error, QStringLiteral("the server's length disagrees with its range"));
    m_kind = Single;
    m_offset = first;
    m_left = end - first;
    m_limit = end - first;
    return true;
}

bool RangeReplyParser::complete() const
{
    return m_kind == Multipart ? m_done : m_left == 0;
}

bool RangeReplyParser::feed(const char *data, qint64 length, const Sink &sink, QString &error)
{
    if (length <= 0)
        return true;
    if (m_consumed + length > m_limit)
        return fail(error, QStringLiteral("the server sent more than it announced"));
    m_consumed += length;
    if (m_kind == Multipart)
        return feedMultipart(data, length, sink, error);
    if (length > m_left)
        return fail(error, QStringLiteral("the server sent more than it announced"));
    sink(m_offset, data, length);
    m_offset += length;
    m_left -= length;
    return true;
}

bool RangeReplyParser::takeLine(QByteArray &line)
{
    const int nl = m_pending.indexOf('\n');
    if (nl < 0)
        return false;
    line = m_pending.left(nl);
    if (line.endsWith('\r'))
        line.chop(1);
    m_pending.remove(0, nl + 1);
    return true;
}

bool RangeReplyParser::feedMultipart(const char *data, qint64 length, const Sink &sink, QString &error)
{
    const char *p = data;
    const char *end = data + length;
    while (p < end) {
        if (m_state == PartBody) {
            const qint64 n = qMin<qint64>(m_left, end - p);
            sink(m_offset, p, n);
            m_offset += n;
            m_left -= n;
            p += n;
            if (m_left == 0)
                m_state = AfterBody;
            continue;
        }
        if (m_state == Epilogue) {
            // After the closing line only white space may come; ignore it, bounded by the limit.
            return true;
        }
        // One line at a time, so that a body never lands among the header bytes.
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        const char *stop = nl ? nl + 1 : end;
        m_pending.append(p, int(stop - p));
        p = stop;
        if ((m_state == PartHeaders ? m_pending.size() > MaxPartHeader : m_pending.size() > MaxLine))
            return fail(error, QStringLiteral("a multipart answer with an overlong header"));
        QByteArray line;
        while (m_state != PartBody && takeLine(line)) {
            switch (m_state) {
            case Preamble:
                if (line == m_boundary) {
                    m_state = PartHeaders;
                    m_partRange.clear();
                } else if (!line.trimmed().isEmpty()) {
                    return fail(error, QStringLiteral("a multipart answer that does not start with its boundary"));
                }
                break;
            case PartHeaders:
                if (line.isEmpty()) {
                    qint64 first = 0, last = 0;
                    if (!parseContentRange(m_partRange, m_bundleSize, first, last))
                        return fail(error, QStringLiteral("a part's range does not fit the bundle"));
                    m_offset = first;
                    m_left = last - first;
                    m_state = PartBody;
                } else if (line.toLower().startsWith("content-range:")) {
                    m_partRange = line.mid(14);
                }
                break;
            case AfterBody:
                if (line.isEmpty())
                    break; // the line end that closes the body
                if (line == m_boundary) {
                    m_state = PartHeaders;
                    m_partRange.clear();
                } else if (line == m_boundary + "--") {
                    m_state = Epilogue;
                    m_done = true;
                } else {
                    return fail(error, QStringLiteral("a multipart answer with bytes between its parts"));
                }
                break;
            default:
                break;
            }
        }
    }
    return true;
}

} // namespace Morvaniel
