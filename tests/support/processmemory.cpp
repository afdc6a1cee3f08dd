#include "tests/support/processmemory.h"

#include <QByteArray>
#include <QFile>

namespace {

qint64 statusField(const QByteArray &name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace

namespace TestSupport {

qint64 residentKiB()
{
    return statusField("VmRSS:");
}

int threadCount()
{
    return int(statusField("Threads:"));
}

} // namespace TestSupport
