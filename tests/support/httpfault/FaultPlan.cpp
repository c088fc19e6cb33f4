#include "FaultPlan.h"

namespace HttpTest {

namespace {

// How often a rate-limited body looks whether it has earned more bytes.
constexpr int kRateTickMs = 10;

} // namespace

FaultPlan::FaultPlan(const HttpFaultRule &rule, const QString &location)
    : m_rule(rule)
    , m_location(location)
{
}

int FaultPlan::delayMs() const
{
    if (m_rule.silent)
        return -1;
    return qMax(0, m_rule.headerDelayMs);
}

FaultPlan::Reply FaultPlan::reply() const
{
    Reply reply;
    if (m_rule.status != 0) {
        reply.status = m_rule.status;
        reply.headers = "Content-Type: text/html\r\n" + m_rule.extraHeaders;
        reply.body = m_rule.body;
    } else if (!m_rule.redirectTo.isEmpty()) {
        reply.status = 302;
        reply.headers = "Location: " + m_location.toUtf8() + "\r\n";
    }
    return reply;
}

FaultPlan::Pace FaultPlan::pace(qint64 sent, qint64 elapsedMs) const
{
    // The tightest limit decides what follows once its bytes are out; on a tie
    // a reset comes before a stall, and a stall before the rate.
    Pace pace;
    if (m_rule.bytesPerSecond > 0) {
        // A small initial allowance so that a slow file starts at once.
        const qint64 earned = m_rule.bytesPerSecond * (elapsedMs + 20) / 1000;
        pace.budget = earned - sent;
        pace.then = Then::Wait;
        pace.waitMs = kRateTickMs;
    }
    if (m_rule.stallAfter >= 0 && m_rule.stallAfter - sent <= pace.budget) {
        pace.budget = m_rule.stallAfter - sent;
        pace.then = Then::Hold; // the connection stays open and silent
    }
    if (m_rule.resetAfter >= 0 && m_rule.resetAfter - sent <= pace.budget) {
        pace.budget = m_rule.resetAfter - sent;
        pace.then = m_rule.hardReset ? Then::Reset : Then::Drop;
    }
    return pace;
}

} // namespace HttpTest
