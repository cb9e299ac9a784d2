#include "link/pidlist.h"

#include "link/commandresponse.h"

namespace vm::link {

QStringList parsePidListing(const QStringList& lines) {
    QStringList pids;
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("DIR")))
            break;
        if (!line.startsWith(QLatin1String("PID")))
            continue;
        const qsizetype colon = line.indexOf(QLatin1Char(':'), 3);
        // The number sits between "PID" and the first ":" after it.
        if (colon > 3)
            pids << line.mid(3, colon - 3);
    }
    return pids;
}

QStringList readStoredPids(CommandResponse& channel, int timeoutMs) {
    const CommandReply reply = channel.SendCommand(QStringLiteral("DIR"), timeoutMs);
    if (!reply.completed)
        return {};
    const int count = channel.Lines().Count();
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        const QString line = channel.ReadLine(timeoutMs);
        if (line.isNull())
            break;
        lines << line;
    }
    return parsePidListing(lines);
}

} // namespace vm::link
