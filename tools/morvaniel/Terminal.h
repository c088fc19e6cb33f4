#pragma once

// Whether standard output is a terminal (a progress line that redraws itself
// makes sense) rather than a file or a pipe. One implementation per system.
bool standardOutputIsTerminal();
