#include "Colors.h"

#include <QGuiApplication>
#include <QPalette>

QColor Colors::toQColor(TColor c)
{
    if (!isSystem(c)) return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    const QPalette palette = QGuiApplication::palette();
    switch (c & 0xFF) {
    case 0x05:
        return palette.color(QPalette::Base); // window background
    case 0x08:
        return palette.color(QPalette::Text); // window text
    case 0x0D:
        return palette.color(QPalette::Highlight);
    case 0x0E:
        return palette.color(QPalette::HighlightedText);
    case 0x0F:
        return palette.color(QPalette::Button); // button face
    case 0x12:
        return palette.color(QPalette::ButtonText);
    case 0x10:
        return palette.color(QPalette::Dark); // button shadow
    case 0x14:
        return palette.color(QPalette::Light); // button highlight
    case 0x17:
        return palette.color(QPalette::ToolTipText);
    case 0x18:
        return palette.color(QPalette::ToolTipBase);
    default:
        return palette.color(QPalette::Window);
    }
}
