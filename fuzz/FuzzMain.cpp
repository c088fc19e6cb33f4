// libFuzzer driver; FUZZ_ENTRY names the function of FuzzEntries this binary drives.
#include "FuzzEntries.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {

int g_argc = 1;
char g_name[] = "morvaniel_fuzz";
char *g_argv[] = { g_name, nullptr };

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The settings store asks for the application folder, which needs an application object.
    static QCoreApplication app(g_argc, g_argv);
    FuzzEntries::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const QString error = FuzzEntries::FUZZ_ENTRY(input);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "invariant broken: %s\n", error.toLocal8Bit().constData());
        std::abort();
    }
    return 0;
}
