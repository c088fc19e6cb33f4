#include "Terminal.h"

#include <unistd.h>

bool standardOutputIsTerminal()
{
    return isatty(STDOUT_FILENO) != 0;
}
