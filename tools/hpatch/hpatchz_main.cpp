// hpatchz oldPath diffPath outPath [-f] [-s-<mem>] [-C-<checks>] [-c]
//
// The command line the launcher's merge stage uses. Exit codes: 0 success,
// 22 out of memory, 24 disk full, 1 any other failure (with a message on
// standard error). Progress goes to standard output as "progress:(N)" lines.

#include "FileIo.h"
#include "HPatch.h"
#include "Program.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

void usage()
{
    std::fprintf(stderr, "usage: hpatchz oldPath diffPath outPath [-f] [-s-<mem>] [-C-<checks>]\n");
}

} // namespace

int main(int argc, char **argv)
{
    hpatch::setUpProcess();
    const std::vector<std::string> args = hpatch::programArguments(argc, argv);

    std::vector<std::string> paths;
    bool force = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.empty() || arg[0] != '-') {
            paths.push_back(arg);
        } else if (arg == "-f") {
            force = true;
        } else if (arg == "-c") {
            std::fprintf(stderr, "hpatchz: directory patches (-c) are not supported by this tool\n");
            return hpatch::Failed;
        } else if (arg.rfind("-s", 0) == 0 || arg.rfind("-C", 0) == 0) {
            // Memory and checksum choices of other patch tools: this format
            // always streams from mapped files and always checks.
        } else {
            std::fprintf(stderr, "hpatchz: unknown option %s\n", arg.c_str());
            usage();
            return hpatch::Failed;
        }
    }
    if (paths.size() != 3) {
        usage();
        return hpatch::Failed;
    }
    const std::string &oldPath = paths[0];
    const std::string &diffPath = paths[1];
    const std::string &outPath = paths[2];
    if (!force && hpatch::fileExists(outPath) && !hpatch::sameFile(oldPath, outPath)) {
        std::fprintf(stderr, "hpatchz: %s exists; use -f to overwrite it\n", outPath.c_str());
        return hpatch::Failed;
    }

    const hpatch::Result r = hpatch::applyPatch(oldPath, diffPath, outPath, [](int percent) {
        std::printf("progress:(%d)\n", percent);
        std::fflush(stdout);
    });
    if (!r.ok()) {
        std::fprintf(stderr, "hpatchz: %s\n", r.message.c_str());
        return r.code;
    }
    return hpatch::Ok;
}
