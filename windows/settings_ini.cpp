#include "settings_ini.h"

#include "files.h"

#include <QList>

namespace settings_ini {
namespace {
// The file's lines as a reader that stops at the end sees them: an empty file still reads one
// empty line, and a last line ended by CR LF is not followed by an empty one.
QList<QByteArray> linesOf(const QByteArray &content)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start <= content.size()) {
        const qsizetype end = content.indexOf('\n', start);
        if (end < 0) {
            if (start < content.size() || lines.isEmpty()) lines << content.mid(start);
            break;
        }
        QByteArray line = content.mid(start, end - start);
        if (line.endsWith('\r')) line.chop(1);
        lines << line;
        start = end + 1;
    }
    return lines;
}
} // namespace

std::optional<TServerSettings> parse(const QByteArray &content)
{
    const QList<QByteArray> lines = linesOf(content);
    std::optional<TServerSettings> found;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i] != "[server]") continue;
        auto next = [&](qsizetype k) {
            return k < lines.size() ? QString::fromUtf8(lines[k]) : QString();
        };
        found = TServerSettings{next(i + 1), next(i + 2), next(i + 3), next(i + 4)};
        i += 4;
    }
    return found;
}

QByteArray format(const TServerSettings &s)
{
    QByteArray out;
    for (const QString &line : {QStringLiteral("[server]"), s.Host, s.User, s.Password, s.Port})
        out += line.toUtf8() + "\r\n";
    return out;
}

std::optional<TServerSettings> read(const QString &path)
{
    return parse(files::readAll(path));
}

void write(const TServerSettings &settings, const QString &path)
{
    files::replaceAtomically(path, format(settings), true);
}
} // namespace settings_ini
