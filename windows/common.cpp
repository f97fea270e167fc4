#include "common.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QToolButton>
#include <QWidget>

void quorvaneInitResources();

namespace ui {
namespace {
void defaultShower(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("MySQL Quorvane"), text, QMessageBox::Ok,
                    parent);
    box.exec();
}
ErrorShower g_shower = defaultShower;
} // namespace

QFont windowFont(int pixelSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    return font;
}

QIcon icon(const QString &name)
{
    quorvaneInitResources();
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(name));
}

QPixmap picture(const QString &name)
{
    quorvaneInitResources();
    return QPixmap(QStringLiteral(":/pictures/%1.jpg").arg(name));
}

void setUpToolWindow(QWidget *window, const QString &objectName, const QString &caption,
                     QSize clientSize, QPoint position, const QColor &background)
{
    window->setObjectName(objectName);
    window->setWindowTitle(caption);
    window->setFont(windowFont());
    if (background.isValid()) {
        QPalette palette = window->palette();
        palette.setColor(QPalette::Window, background);
        window->setPalette(palette);
    } else {
        window->setBackgroundRole(QPalette::Button);
    }
    window->setAutoFillBackground(true);
    window->setFixedSize(clientSize);
    window->move(position);
}

void place(QWidget *widget, int left, int top, int width, int height)
{
    const QSize hint = widget->sizeHint();
    if (width < 0) width = hint.width();
    if (height < 0) height = hint.height();
    widget->setGeometry(left, top, std::max(width, hint.width()), height);
}

QAbstractButton *flatButton(QWidget *parent, const QString &objectName, const QString &text,
                            const QString &iconName, const QString &command)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setText(text);
    if (!iconName.isEmpty()) {
        button->setIcon(icon(iconName));
        button->setToolButtonStyle(text.isEmpty() ? Qt::ToolButtonIconOnly
                                                  : Qt::ToolButtonTextBesideIcon);
    }
    if (!command.isEmpty()) {
        button->setToolTip(command);
        if (text.isEmpty()) button->setAccessibleName(command);
    }
    return button;
}

QString errorText(const QString &text)
{
    if (text.isEmpty() || text.back() <= QLatin1Char('.')) return text;
    return text + QLatin1Char('.');
}

void showAppError(QWidget *parent, const QString &text)
{
    g_shower(parent, errorText(text));
}

ErrorShower setErrorShower(ErrorShower shower)
{
    ErrorShower old = g_shower;
    g_shower = shower ? shower : defaultShower;
    return old;
}
} // namespace ui
