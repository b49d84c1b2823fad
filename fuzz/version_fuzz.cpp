// Two versions split at the first newline. An order: compare(a, a) is 0, swapping flips the sign.
#include "online/Updater.h"
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype cut = input.indexOf('\n');
    const QString a = QString::fromUtf8(cut < 0 ? input : input.left(cut)), b = QString::fromUtf8(cut < 0 ? QByteArray() : input.mid(cut + 1));
    const int ab = Updater::compare(a, b);
    if (ab < -1 || ab > 1 || ab != -Updater::compare(b, a) || Updater::compare(a, a) != 0)
        std::abort();
    return 0;
}
