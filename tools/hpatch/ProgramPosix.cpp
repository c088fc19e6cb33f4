#include "Program.h"

#include <csignal>

namespace hpatch {

void setUpProcess()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> programArguments(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

} // namespace hpatch
