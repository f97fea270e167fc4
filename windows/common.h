#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <QString>

#include <optional>

class QWidget;
class QAbstractButton;

// Helpers the windows share: the look of the classic layouts, pictures from the resources, and the
// application's error message box.
namespace ui {
// "MS Sans Serif" 8 pt (11 pixels) where installed, a plain sans-serif elsewhere.
QFont windowFont(int pixelSize = 11);
QIcon icon(const QString &name);      // an SVG glyph from resources/icons
QPixmap picture(const QString &name); // a JPEG picture from resources/pictures
// The frame shared by the secondary windows: a tool window of fixed client size at a fixed screen
// position, in the window font, on the given background (the button face when invalid).
void setUpToolWindow(QWidget *window, const QString &objectName, const QString &caption,
                     QSize clientSize, QPoint position, const QColor &background = QColor());
// Places a control at a fixed position; the width grows when the local font needs more room,
// so that no caption is clipped.
void place(QWidget *widget, int left, int top, int width = -1, int height = -1);
// A flat button; one without visible text is named for screen readers by its command.
QAbstractButton *flatButton(QWidget *parent, const QString &objectName, const QString &text,
                            const QString &iconName = QString(),
                            const QString &command = QString());
// The error text as the application's error box shows it: a full stop is added when the last
// character sorts after '.'.
QString errorText(const QString &text);
// The application's modal error message box, caption "MySQL Quorvane". Tests replace the
// shower to see what would have been shown.
void showAppError(QWidget *parent, const QString &text);
using ErrorShower = void (*)(QWidget *parent, const QString &text);
ErrorShower setErrorShower(ErrorShower shower);
// Any other modal box with the error icon and one OK button (the failed connect's "Error"
// box). Its text is plain text, never rich text. Replaceable like the error box.
void showErrorBox(QWidget *parent, const QString &caption, const QString &text);
using BoxShower = void (*)(QWidget *parent, const QString &caption, const QString &text);
BoxShower setBoxShower(BoxShower shower);
// A question with buttons of the given texts, the first the default: the text of the one chosen,
// or empty when the box was closed. Plain text, replaceable like the error box.
QString askQuestion(QWidget *parent, const QString &caption, const QString &text,
                    const QStringList &buttons);
using Asker = QString (*)(QWidget *parent, const QString &caption, const QString &text,
                          const QStringList &buttons);
Asker setAsker(Asker asker);
// A line of text asked for, several lines allowed: the text, or none when cancelled.
// Replaceable like the error box.
std::optional<QString> askText(QWidget *parent, const QString &caption, const QString &label,
                               const QString &initial);
using TextAsker = std::optional<QString> (*)(QWidget *parent, const QString &caption,
                                             const QString &label, const QString &initial);
TextAsker setTextAsker(TextAsker asker);
// A secret asked for (a key's passphrase, a password): typed unseen; none when cancelled.
// remember, when given, offers a "Remember" box starting as *remember and receives its state.
// Replaceable like the error box.
std::optional<QString> askSecret(QWidget *parent, const QString &caption, const QString &prompt,
                                 bool *remember = nullptr);
using SecretAsker = std::optional<QString> (*)(QWidget *parent, const QString &caption,
                                               const QString &prompt, bool *remember);
SecretAsker setSecretAsker(SecretAsker asker);
// The system's default beep, replaceable for tests.
void beep();
using Beeper = void (*)();
Beeper setBeeper(Beeper beeper);
// The save-file dialog: a file name, or empty when the user cancels. Replaceable for tests.
struct SaveDialogOptions
{
    QString caption;
    QString directory;
    QString fileName;
    QString filter; // "Text File (*.txt)"
    QString defaultSuffix;
};
QString getSaveFileName(QWidget *parent, const SaveDialogOptions &options);
using SaveDialog = QString (*)(QWidget *parent, const SaveDialogOptions &options);
SaveDialog setSaveDialog(SaveDialog dialog);
// The open-file dialog (an existing file), with the same options; replaceable like the save one.
QString getOpenFileName(QWidget *parent, const SaveDialogOptions &options);
using OpenDialog = QString (*)(QWidget *parent, const SaveDialogOptions &options);
OpenDialog setOpenDialog(OpenDialog dialog);
// Screen readers announce these windows as dialogs, not as plain fillers.
void announceAsDialog(QWidget *window);
} // namespace ui
