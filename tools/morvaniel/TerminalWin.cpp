#include "Terminal.h"

#include <cstdio>
#include <io.h>

bool standardOutputIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}
