#pragma once

#include "HttpFaultRule.h"
#include "ResponsePlan.h"

#include <QString>

namespace HttpTest {

// One response shaped by an HttpFaultRule. The rule's range handling is
// applied to the request before the plan is made (see HttpServer).
class FaultPlan : public Http::ResponsePlan
{
public:
    // location: where a redirecting rule points, as a full URL.
    FaultPlan(const HttpFaultRule &rule, const QString &location);

    int delayMs() const override;
    Reply reply() const override;
    Pace pace(qint64 sent, qint64 elapsedMs) const override;

private:
    HttpFaultRule m_rule;
    QString m_location;
};

} // namespace HttpTest
