#pragma once

// What hpatchz and hdiffz need from the operating system before they start:
// ProgramPosix.cpp and ProgramWin.cpp implement it.

#include <string>
#include <vector>

namespace hpatch {

// Makes system failures arrive as error codes: past a file-size limit writes
// fail with EFBIG (reported as a full disk) instead of the process being
// killed by a signal, and Windows shows no error dialogs. Standard output and
// error carry the same bytes on every platform ("\n" stays "\n").
void setUpProcess();

// The command line with argv[0] first, every argument in UTF-8. On Windows it
// is read as UTF-16, as the narrow argv loses what the code page lacks.
std::vector<std::string> programArguments(int argc, char **argv);

} // namespace hpatch
