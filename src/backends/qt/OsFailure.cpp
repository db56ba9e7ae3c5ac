#include "backends/qt/OsFailure.h"

#include <QByteArray>
#include <cstdio>
#include <cstring>

namespace px::qt {

void LogOsFailure(const char* call, long long code, const QString& text)
{
    // One write, so that lines of two threads never interleave.
    const QByteArray line = QByteArray("perennix: ") + call + " failed: " + QByteArray::number(code) + " "
        + text.simplified().toUtf8() + "\n";
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

void LogErrno(const char* call, int error) { LogOsFailure(call, error, QString::fromLocal8Bit(std::strerror(error))); }

}  // namespace px::qt
