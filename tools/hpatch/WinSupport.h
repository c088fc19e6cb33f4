#pragma once

// Text and error conversions of the Windows side of the file seam: the tool
// keeps paths as UTF-8, every Win32 and CRT call takes UTF-16.

#include <string>

namespace hpatch {

std::wstring wideText(const std::string &utf8);
std::string utf8Text(const wchar_t *wide);
// A path for Win32 calls: UTF-16, and made absolute with the "\\?\" prefix
// when it is too long for the classic MAX_PATH limit.
std::wstring widePath(const std::string &utf8);
// The seam's error code for a Win32 error: the errno for the failures the exit
// codes tell apart (disk full, out of memory) and the common ones, otherwise
// win32ErrorBase + error.
int errorFromWin32(unsigned long error);
int lastWin32Error();

} // namespace hpatch
