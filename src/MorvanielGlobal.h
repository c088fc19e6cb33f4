#pragma once

#include <QtGlobal>

#if defined(MORVANIEL_LIBRARY)
#define MORVANIEL_EXPORT Q_DECL_EXPORT
#else
#define MORVANIEL_EXPORT Q_DECL_IMPORT
#endif

// Internal functions that only the test suite calls across the library boundary.
#if defined(MORVANIEL_BUILD_TESTS)
#define MORVANIEL_AUTOTEST_EXPORT MORVANIEL_EXPORT
#else
#define MORVANIEL_AUTOTEST_EXPORT
#endif
