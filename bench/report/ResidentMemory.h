// The resident memory of this process, for the benchmarks that show memory stays flat.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace lv26::bench {

// VmRSS of /proc/self/status in KiB, or -1 when it cannot be read.
inline long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

} // namespace lv26::bench
