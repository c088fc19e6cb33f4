#include "HttpServer.h"

#include "FaultPlan.h"

namespace HttpTest {

namespace {

QString normalisedPath(const QString &path)
{
    return path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
}

} // namespace

HttpServer::HttpServer(QObject *parent)
    : Http::FileServer(parent)
{
}

void HttpServer::setRule(const QString &path, const HttpFaultRule &rule)
{
    m_pathRules.insert(normalisedPath(path), rule);
}

void HttpServer::setRuleForPathRequest(const QString &path, int nth, const HttpFaultRule &rule)
{
    m_nthRules[normalisedPath(path)].insert(nth, rule);
}

void HttpServer::setRuleForRequest(int index, const HttpFaultRule &rule)
{
    m_indexRules.insert(index, rule);
}

void HttpServer::clearRules()
{
    m_pathRules.clear();
    m_nthRules.clear();
    m_indexRules.clear();
}

std::unique_ptr<Http::ResponsePlan> HttpServer::planResponse(Request &request)
{
    const HttpFaultRule rule = ruleFor(request);
    if (rule.ignoreRange)
        request.headers.remove("range");
    // A redirect to a bare path points at this server.
    const QString location = rule.redirectTo.startsWith(QLatin1Char('/')) ? url(rule.redirectTo) : rule.redirectTo;
    return std::make_unique<FaultPlan>(rule, location);
}

HttpFaultRule HttpServer::ruleFor(const Request &request) const
{
    if (m_indexRules.contains(request.index))
        return m_indexRules.value(request.index);
    // The log holds this request already and, like the n-th count, starts
    // over with resetStatistics().
    int nth = -1;
    for (const Request &r : requests())
        nth += r.path == request.path ? 1 : 0;
    if (m_nthRules.value(request.path).contains(nth))
        return m_nthRules.value(request.path).value(nth);
    return m_pathRules.value(request.path);
}

} // namespace HttpTest
