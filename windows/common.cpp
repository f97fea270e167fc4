#include "common.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

void quorvaneInitResources();

namespace ui {
namespace {
void defaultBoxShower(QWidget *parent, const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText); // server and user texts are never taken as markup
    box.exec();
}
BoxShower g_boxShower = defaultBoxShower;

void defaultShower(QWidget *parent, const QString &text)
{
    g_boxShower(parent, QStringLiteral("MySQL Quorvane"), text);
}
ErrorShower g_shower = defaultShower;

QString defaultAsker(QWidget *parent, const QString &caption, const QString &text,
                     const QStringList &buttons)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QList<QAbstractButton *> made;
    for (const QString &b : buttons)
        made << box.addButton(b,
                              made.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    if (!made.isEmpty()) box.setDefaultButton(static_cast<QPushButton *>(made.first()));
    box.exec();
    const int chosen = made.indexOf(box.clickedButton());
    return chosen >= 0 ? buttons.value(chosen) : QString();
}
Asker g_asker = defaultAsker;

std::optional<QString> defaultTextAsker(QWidget *parent, const QString &caption,
                                        const QString &label, const QString &initial)
{
    bool ok = false;
    const QString text = QInputDialog::getMultiLineText(parent, caption, label, initial, &ok);
    if (!ok) return std::nullopt;
    return text;
}
TextAsker g_textAsker = defaultTextAsker;

std::optional<QString> defaultSecretAsker(QWidget *parent, const QString &caption,
                                          const QString &prompt, bool *remember)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(caption);
    auto *layout = new QVBoxLayout(&dialog);
    // ssh's prompt may come from the server (keyboard-interactive): never taken as markup.
    auto *label = new QLabel(prompt, &dialog);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    auto *edit = new QLineEdit(&dialog);
    edit->setObjectName(QStringLiteral("Secret_edit"));
    edit->setEchoMode(QLineEdit::Password);
    label->setBuddy(edit);
    layout->addWidget(label);
    layout->addWidget(edit);
    QCheckBox *keep = nullptr;
    if (remember) {
        keep = new QCheckBox(QStringLiteral("&Remember"), &dialog);
        keep->setObjectName(QStringLiteral("Remember_check"));
        keep->setToolTip(QStringLiteral("Keep it in the system keyring"));
        keep->setChecked(*remember);
        layout->addWidget(keep);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    if (remember) *remember = keep->isChecked();
    return edit->text();
}
SecretAsker g_secretAsker = defaultSecretAsker;

void defaultBeeper()
{
    QApplication::beep();
}
Beeper g_beeper = defaultBeeper;

QString defaultSaveDialog(QWidget *parent, const SaveDialogOptions &options)
{
    QFileDialog dialog(parent, options.caption, options.directory, options.filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // An existing file is replaced without a question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setDefaultSuffix(options.defaultSuffix);
    dialog.selectFile(options.fileName);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}
SaveDialog g_saveDialog = defaultSaveDialog;

QString defaultOpenDialog(QWidget *parent, const SaveDialogOptions &options)
{
    QFileDialog dialog(parent, options.caption, options.directory, options.filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.selectFile(options.fileName);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}
OpenDialog g_openDialog = defaultOpenDialog;

QSet<const QObject *> &dialogs()
{
    static QSet<const QObject *> set;
    return set;
}

QAccessibleInterface *dialogFactory(const QString &, QObject *object)
{
    if (!object || !object->isWidgetType() || !dialogs().contains(object)) return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Dialog);
}
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
    window->setWindowIcon(icon(QStringLiteral("quorvane")));
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

void showErrorBox(QWidget *parent, const QString &caption, const QString &text)
{
    g_boxShower(parent, caption, text);
}

BoxShower setBoxShower(BoxShower shower)
{
    BoxShower old = g_boxShower;
    g_boxShower = shower ? shower : defaultBoxShower;
    return old;
}

QString askQuestion(QWidget *parent, const QString &caption, const QString &text,
                    const QStringList &buttons)
{
    return g_asker(parent, caption, text, buttons);
}

Asker setAsker(Asker asker)
{
    Asker old = g_asker;
    g_asker = asker ? asker : defaultAsker;
    return old;
}

std::optional<QString> askText(QWidget *parent, const QString &caption, const QString &label,
                               const QString &initial)
{
    return g_textAsker(parent, caption, label, initial);
}

TextAsker setTextAsker(TextAsker asker)
{
    TextAsker old = g_textAsker;
    g_textAsker = asker ? asker : defaultTextAsker;
    return old;
}

std::optional<QString> askSecret(QWidget *parent, const QString &caption, const QString &prompt,
                                 bool *remember)
{
    return g_secretAsker(parent, caption, prompt, remember);
}

SecretAsker setSecretAsker(SecretAsker asker)
{
    SecretAsker old = g_secretAsker;
    g_secretAsker = asker ? asker : defaultSecretAsker;
    return old;
}

void beep()
{
    g_beeper();
}

Beeper setBeeper(Beeper beeper)
{
    Beeper old = g_beeper;
    g_beeper = beeper ? beeper : defaultBeeper;
    return old;
}

QString getSaveFileName(QWidget *parent, const SaveDialogOptions &options)
{
    return g_saveDialog(parent, options);
}

SaveDialog setSaveDialog(SaveDialog dialog)
{
    SaveDialog old = g_saveDialog;
    g_saveDialog = dialog ? dialog : defaultSaveDialog;
    return old;
}

QString getOpenFileName(QWidget *parent, const SaveDialogOptions &options)
{
    return g_openDialog(parent, options);
}

OpenDialog setOpenDialog(OpenDialog dialog)
{
    OpenDialog old = g_openDialog;
    g_openDialog = dialog ? dialog : defaultOpenDialog;
    return old;
}

void announceAsDialog(QWidget *window)
{
    static const bool installed = [] {
        QAccessible::installFactory(dialogFactory);
        return true;
    }();
    Q_UNUSED(installed);
    dialogs().insert(window);
    QObject::connect(window, &QObject::destroyed, [window] { dialogs().remove(window); });
}
} // namespace ui
