#include "download/DownloadTimings.h"

namespace Morvaniel {

namespace {
DownloadTimings &timings()
{
    static DownloadTimings value;
    return value;
}
} // namespace

const DownloadTimings &DownloadTimings::Current()
{
    return timings();
}

void DownloadTimings::SetForTests(const DownloadTimings &value)
{
    timings() = value;
}

} // namespace Morvaniel
