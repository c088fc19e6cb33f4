#pragma once

#include <QtGlobal>

// MORVANIEL_EXPORT marks the host interface: exported from the shared library,
// imported by hosts. Code linked against the library's static form (the test
// suite, which also reaches internal functions) defines MORVANIEL_STATIC.
#if defined(MORVANIEL_LIBRARY)
#define MORVANIEL_EXPORT Q_DECL_EXPORT
#elif defined(MORVANIEL_STATIC)
#define MORVANIEL_EXPORT
#else
#define MORVANIEL_EXPORT Q_DECL_IMPORT
#endif
