#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// "settings.ini": a "[server]" line, then host, user, password (clear text) and port as typed,
// every line ended by CR LF, text as UTF-8.
struct TServerSettings
{
    QString Host;
    QString User;
    QString Password;
    QString Port;
};

namespace settings_ini {
inline const QString FileName = QStringLiteral("settings.ini");
// Reads line after line; each line equal to "[server]" (case and blanks count) takes the next
// four lines, missing ones empty, a later block winning. Lines end in CR LF, or leniently in LF.
// Without any "[server]" line: nothing.
std::optional<TServerSettings> parse(const QByteArray &content);
QByteArray format(const TServerSettings &settings);
// Reads the file; throws TFileError.
std::optional<TServerSettings> read(const QString &path = FileName);
// Replaces the file whole, readable by its owner only; throws TFileError.
void write(const TServerSettings &settings, const QString &path = FileName);
} // namespace settings_ini
