// hdiffz [-l<level>] [-s<segment MiB>] [-m<margin MiB>] [-cframe|-cdiff] oldPath newPath diffPath
//
// Creates a patch that hpatchz applies. A missing oldPath counts as empty.
// Each segment takes the smaller of the two codings unless -c names one.

#include "HPatch.h"
#include "Program.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool parseNumber(const std::string &text, uint64_t &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    value = std::strtoull(text.c_str(), &end, 10);
    return end && *end == '\0';
}

void usage()
{
    std::fprintf(stderr,
        "usage: hdiffz [-l<level>] [-s<segment MiB>] [-m<margin MiB>] [-cframe|-cdiff] oldPath newPath diffPath\n");
}

} // namespace

int main(int argc, char **argv)
{
    hpatch::setUpProcess();
    const std::vector<std::string> args = hpatch::programArguments(argc, argv);
    hpatch::CreateOptions options;
    std::vector<std::string> paths;
    bool quiet = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &arg = args[i];
        uint64_t n = 0;
        if (arg.empty() || arg[0] != '-') {
            paths.push_back(arg);
        } else if (arg == "-q") {
            quiet = true;
        } else if (arg == "-cframe") {
            options.coding = hpatch::Coding::Frame;
        } else if (arg == "-cdiff") {
            options.coding = hpatch::Coding::Diff;
        } else if (arg.rfind("-l", 0) == 0 && parseNumber(arg.substr(2), n) && n >= 1 && n <= 22) {
            options.level = static_cast<int>(n);
        } else if (arg.rfind("-s", 0) == 0 && parseNumber(arg.substr(2), n) && n >= 1 && n <= 2048) {
            options.segmentSize = n << 20;
        } else if (arg.rfind("-m", 0) == 0 && parseNumber(arg.substr(2), n) && n <= 2048) {
            options.margin = n << 20;
        } else {
            std::fprintf(stderr, "hdiffz: bad option %s\n", arg.c_str());
            usage();
            return hpatch::Failed;
        }
    }
    if (paths.size() != 3) {
        usage();
        return hpatch::Failed;
    }
    const hpatch::Result r = hpatch::createPatch(paths[0], paths[1], paths[2], options, [quiet](int percent) {
        if (!quiet) {
            std::printf("progress:(%d)\n", percent);
            std::fflush(stdout);
        }
    });
    if (!r.ok()) {
        std::fprintf(stderr, "hdiffz: %s\n", r.message.c_str());
        return r.code;
    }
    return hpatch::Ok;
}
