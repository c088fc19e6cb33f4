#pragma once

#include "FileServer.h"
#include "HttpFaultRule.h"

#include <QHash>
#include <QMap>
#include <QString>

namespace HttpTest {

// The tests' HTTP server: the file server that misbehaves on demand through
// HttpFaultRule, per path, per n-th request of a path, or per request index.
class HttpServer : public Http::FileServer
{
public:
    explicit HttpServer(QObject *parent = nullptr);

    // Precedence: request index, then n-th request of the path, then the path.
    void setRule(const QString &path, const HttpFaultRule &rule);
    void setRuleForPathRequest(const QString &path, int nth, const HttpFaultRule &rule);
    void setRuleForRequest(int index, const HttpFaultRule &rule);
    void clearRules();

protected:
    std::unique_ptr<Http::ResponsePlan> planResponse(Request &request) override;

private:
    HttpFaultRule ruleFor(const Request &request) const;

    QHash<QString, HttpFaultRule> m_pathRules;
    QHash<QString, QMap<int, HttpFaultRule>> m_nthRules;
    QMap<int, HttpFaultRule> m_indexRules;
};

} // namespace HttpTest
