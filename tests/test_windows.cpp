// The program's window set and the main window's commands that need no server.
#include "Animate.h"
#include "Cologrid.h"
#include "Informacje.h"
#include "common.h"
#include "konsola.h"
#include "login_window.h"
#include "program.h"
#include "server_activity.h"
#include "settings.h"
#include "sql_edit.h"
#include "sql_highlighter.h"
#include "tolvar_window.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolButton>
#include <QTreeWidget>

namespace {
QStringList entries(const QMenu *menu)
{
    QStringList texts;
    for (QAction *a : menu->actions())
        if (!a->isSeparator()) texts << a->text().remove(QLatin1Char('&'));
    return texts;
}
QMenu *topMenu(Ttolvar *w, const QString &title)
{
    for (QAction *a : w->menuBar()->actions())
        if (a->text().remove(QLatin1Char('&')) == title) return a->menu();
    return nullptr;
}
// The start-up step reports the missing "settings.ini" through the application's error box.
QStringList g_errors;
void recordError(QWidget *, const QString &text)
{
    g_errors << text;
}

QMenu *subMenu(QMenu *menu, const QString &title)
{
    for (QAction *a : menu->actions())
        if (a->text() == title) return a->menu();
    return nullptr;
}
} // namespace

class TestWindows : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_oldDir;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        ui::setErrorShower(recordError);
    }
    void cleanupTestCase() { QDir::setCurrent(m_oldDir); }

    void startShowsOnlyTheMainWindowOnWelcome()
    {
        QFile old(QStringLiteral("log.ini"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("left from the last run\r\n");
        old.close();

        TProgram program;
        program.tolvar->show();
        QVERIFY(QTest::qWaitForWindowExposed(program.tolvar.get()));
        Ttolvar *w = program.tolvar.get();
        QCOMPARE(w->windowTitle(), QStringLiteral("MySQL Quorvane"));
        QCOMPARE(w->size(), QSize(699, 480));
        QCOMPARE(w->Notebook->currentWidget()->objectName(), QStringLiteral("Welcome"));
        QCOMPARE(w->Notebook->count(), 10);
        QCOMPARE(w->PanelText(1), QStringLiteral("Disconnected"));
        for (int p = 2; p <= 5; ++p)
            QVERIFY(w->PanelText(p).isEmpty());
        QCOMPARE(w->Tree_view->topLevelItemCount(), 0);
        QVERIFY(w->Server_info->text().isEmpty());
        QVERIFY(w->Host_info->text().isEmpty());
        QCOMPARE(w->Edit1->text(), QStringLiteral("%"));
        QVERIFY(!program.login->isVisible());
        QVERIFY(!program.settings_form->isVisible());
        QVERIFY(!program.console->isVisible());
        QVERIFY(!program.Informacjon->isVisible());
        // The log is created afresh at start.
        QCOMPARE(QFileInfo(QStringLiteral("log.ini")).size(), qint64(0));
        // The client is configured as the window needs it.
        QCOMPARE(w->mysql->Hostname(), QStringLiteral("localhost"));
        QCOMPARE(w->mysql->Database(), QStringLiteral("mysql"));
        QCOMPARE(w->mysql->Port(), 3306);
        QCOMPARE(ClientFlagOf(w->mysql->Capabilities()), 0u);
        QVERIFY(w->mysql->Threaded());
        QVERIFY(w->mysql->BlockOnClose());
        QVERIFY(!w->mysql->ConnectedTimer());
    }

    void windowsAreCreatedInOrderWithTheirFrames()
    {
        TProgram program;
        QCOMPARE(program.login->windowTitle(), QStringLiteral("login"));
        // Grown below the buttons for the connection's protection, saved connections and SSH.
        QCOMPARE(program.login->size(), QSize(379, 396));
        QCOMPARE(program.settings_form->windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(program.settings_form->size(), QSize(537, 318));
        QCOMPARE(program.console->windowTitle(), QStringLiteral("Mysql Console"));
        QCOMPARE(program.console->size(), QSize(505, 232));
        QCOMPARE(program.Informacjon->windowTitle(), QStringLiteral("About"));
        QCOMPARE(program.Informacjon->size(), QSize(359, 132));
        for (QWidget *tool :
             std::initializer_list<QWidget *>{program.login.get(), program.settings_form.get(),
                                              program.console.get(), program.Informacjon.get()})
            QCOMPARE(tool->windowType(), Qt::Tool);
        QCOMPARE(program.login->Host_edit->text(), QStringLiteral("localhost"));
        QCOMPARE(program.login->User_edit->text(), QStringLiteral("root"));
        QCOMPARE(program.login->Password_edit->echoMode(), QLineEdit::Password);
        QCOMPARE(program.login->Password_edit->text().size(), 6);
        QCOMPARE(program.login->Port_edit->text(), QStringLiteral("3306"));
        // Tab order: host, user, port, password.
        QCOMPARE(program.login->Host_edit->nextInFocusChain(), program.login->User_edit);
        QCOMPARE(program.login->User_edit->nextInFocusChain(), program.login->Port_edit);
        QCOMPARE(program.login->Port_edit->nextInFocusChain(), program.login->Password_edit);
        // The specified controls keep their places; the new rows lie below the buttons.
        QCOMPARE(program.login->Host_edit->geometry(), QRect(248, 8, 121, 21));
        QCOMPARE(program.login->Password_edit->geometry(), QRect(248, 72, 121, 21));
        QCOMPARE(program.login->Port_edit->geometry(), QRect(248, 104, 121, 21));
        QCOMPARE(program.login->login_connect->geometry(), QRect(248, 144, 121, 33));
        for (QWidget *added : {static_cast<QWidget *>(program.login->Tls_combo),
                               static_cast<QWidget *>(program.login->Ca_file_edit),
                               static_cast<QWidget *>(program.login->Ca_file_browse)}) {
            QVERIFY(added->geometry().top() > 177);
            QVERIFY(QRect(QPoint(), program.login->size()).contains(added->geometry()));
        }
        // Then the protection, after the password.
        QCOMPARE(program.login->Password_edit->nextInFocusChain(),
                 static_cast<QWidget *>(program.login->Tls_combo));
    }

    void pagesSwitchFromTheirCommands()
    {
        TProgram program;
        Ttolvar *w = program.tolvar.get();
        auto page = [w] { return w->Notebook->currentWidget()->objectName(); };
        w->button(QStringLiteral("SpeedButton11"))->click();
        QCOMPARE(page(), QStringLiteral("Table_Add"));
        w->button(QStringLiteral("SpeedButton7"))->click();
        QCOMPARE(page(), QStringLiteral("Welcome"));
        w->action(QStringLiteral("Add1"))->trigger();
        QCOMPARE(page(), QStringLiteral("Database_Add"));
        w->findChild<QWidget *>(QStringLiteral("Database_Add"))
            ->findChild<QAbstractButton *>(QStringLiteral("SpeedButton1"))
            ->click();
        QCOMPARE(page(), QStringLiteral("Welcome"));
        w->button(QStringLiteral("SpeedButton3"))->click();
        QCOMPARE(page(), QStringLiteral("Database_Add"));
        w->action(QStringLiteral("Create1"))->trigger();
        QCOMPARE(page(), QStringLiteral("Database_Add"));
    }

    void removeConfirmationNamesTheCurrentDatabase()
    {
        TProgram program;
        Ttolvar *w = program.tolvar.get();
        w->action(QStringLiteral("Delete1"))->trigger();
        QCOMPARE(w->Notebook->currentWidget()->objectName(), QStringLiteral("Database_Remove"));
        QCOMPARE(w->Data_name_caption->text(), QStringLiteral(" ?"));
        w->button(QStringLiteral("SpeedButton5"))->click(); // "No"
        QCOMPARE(w->Notebook->currentWidget()->objectName(), QStringLiteral("Welcome"));
        w->setPanelText(2, QStringLiteral("shop"));
        w->button(QStringLiteral("SpeedButton4"))->click();
        QCOMPARE(w->Data_name_caption->text(), QStringLiteral("shop ?"));
        w->action(QStringLiteral("Delate1"))->trigger();
        QCOMPARE(w->Notebook->currentWidget()->objectName(), QStringLiteral("Database_Remove"));
    }

    void menusInTheirOrder()
    {
        TProgram program;
        Ttolvar *w = program.tolvar.get();
        QStringList top;
        for (QAction *a : w->menuBar()->actions())
            top << a->text().remove(QLatin1Char('&'));
        QCOMPARE(top, QStringList({"File", "Servers", "Databases", "Tables"}));
        QCOMPARE(entries(topMenu(w, QStringLiteral("File"))),
                 QStringList({"Connect", "Disconnect", "Settings", "Quit"}));
        QCOMPARE(entries(topMenu(w, QStringLiteral("Servers"))),
                 QStringList({"Console Window", "SQL Editor", "Server Activity"}));
        QCOMPARE(entries(topMenu(w, QStringLiteral("Databases"))),
                 QStringList({"Add", "Delete", "Rename", "Refresh list"}));
        QVERIFY(!w->action(QStringLiteral("Rename1"))->isEnabled());
        QCOMPARE(entries(topMenu(w, QStringLiteral("Tables"))),
                 QStringList(
                     {"Create", "Delete", "Rename", "Empty\u2026", "Structure", "Export\u2026"}));
        QCOMPARE(entries(w->Table_List_popup), entries(topMenu(w, QStringLiteral("Tables"))));
        for (QAction *a : topMenu(w, QStringLiteral("File"))->actions())
            QVERIFY(!a->icon().isNull());

        QCOMPARE(entries(w->Tree_view_popup), QStringList({"Refresh", "Databases", "Tables"}));
        QMenu *databases = subMenu(w->Tree_view_popup, QStringLiteral("Databases"));
        QCOMPARE(entries(databases), QStringList({"Create", "Remove", "Export list of databases"}));
        QCOMPARE(entries(subMenu(databases, QStringLiteral("Export list of databases"))),
                 QStringList({"To TXT file"}));
        QCOMPARE(entries(subMenu(w->Tree_view_popup, QStringLiteral("Tables"))),
                 QStringList({"Create", "Delete"}));
    }

    void toolbarGroupsAndGlyphs()
    {
        TProgram program;
        Ttolvar *w = program.tolvar.get();
        QStringList order;
        int separators = 0;
        for (QObject *child : w->panel_toolbar->children()) {
            if (auto *b = qobject_cast<QToolButton *>(child))
                order << b->objectName();
            else if (auto *f = qobject_cast<QFrame *>(child); f && f->frameShape() == QFrame::VLine)
                ++separators;
        }
        QCOMPARE(order,
                 QStringList({"SpeedButton7", "SpeedButton9", "SpeedButton10", "Stop_button",
                              "SpeedButton18", "SpeedButton22", "SpeedButton19", "SpeedButton12",
                              "SpeedButton13", "SpeedButton11", "SpeedButton14", "SpeedButton20",
                              "informacje", "pomoc", "Exit_button"}));
        QCOMPARE(separators, 4);
        // Nothing is being read: Stop waits for a table.
        QCOMPARE(w->button(QStringLiteral("Stop_button"))->toolTip(), QStringLiteral("Stop"));
        QCOMPARE(w->button(QStringLiteral("Stop_button"))->accessibleName(),
                 QStringLiteral("Stop"));
        QVERIFY(!w->button(QStringLiteral("Stop_button"))->isEnabled());
        QCOMPARE(w->button(QStringLiteral("SpeedButton7"))->toolTip(),
                 QStringLiteral("Splash screen"));
        for (const char *name :
             {"SpeedButton7", "SpeedButton9", "SpeedButton10", "Stop_button", "SpeedButton18",
              "SpeedButton22", "SpeedButton19", "SpeedButton11", "informacje", "Exit_button"}) {
            QAbstractButton *b = w->button(QString::fromLatin1(name));
            QVERIFY2(b, name);
            QCOMPARE(b->size(), QSize(33, 33));
            QVERIFY2(!b->icon().pixmap(24, 24).isNull(), name);
        }
    }

    void statusPanels()
    {
        TProgram program;
        Ttolvar *w = program.tolvar.get();
        const int widths[5] = {100, 100, 100, 100, 50};
        for (int p = 1; p <= 5; ++p)
            QCOMPARE(w->StatusPanel(p)->width(), widths[p - 1]);
        QVERIFY(w->StatusPanel(5)->alignment() & Qt::AlignHCenter);
        QCOMPARE(w->StatusPanel(5)->frameShadow(), QFrame::Raised);
    }

    void commandsShowTheirWindows()
    {
        TProgram program;
        Ttolvar *w = program.tolvar.get();
        w->show();
        w->button(QStringLiteral("SpeedButton9"))->click();
        QVERIFY(program.login->isVisible());
        QVERIFY(!program.login->isModal());
        program.login->login_cancel->click();
        QVERIFY(!program.login->isVisible());
        w->action(QStringLiteral("Settings1"))->trigger();
        QVERIFY(program.settings_form->isVisible());
        program.settings_form->CheckBox1->setChecked(true);
        program.settings_form->SpeedButton1->click(); // "Update" leaves it open
        QVERIFY(program.settings_form->isVisible());
        program.settings_form->SpeedButton2->click();
        QVERIFY(!program.settings_form->isVisible());
        QVERIFY(program.settings_form->CheckBox1->isChecked()); // kept between showings
        w->button(QStringLiteral("SpeedButton18"))->click();
        QVERIFY(program.console->isVisible());
        program.console->close(); // the close box hides; the transcript stays
        program.console->appendLine(QStringLiteral("line"));
        QCOMPARE(program.console->Memo1->toPlainText(), QStringLiteral("line"));
        w->button(QStringLiteral("informacje"))->click();
        QVERIFY(program.Informacjon->isVisible());
        program.Informacjon->SpeedButton1->click();
        QVERIFY(!program.Informacjon->isVisible());
        w->button(QStringLiteral("Exit_button"))->click();
        QVERIFY(!w->isVisible());
    }

    void addFieldLines()
    {
        TProgram program;
        Ttolvar *w = program.tolvar.get();
        QCOMPARE(w->TC_F_TYPE->currentText(), QStringLiteral("CHAR"));
        QCOMPARE(w->TC_F_TYPE->count(), 10);
        QCOMPARE(w->TC_F_SIZE->text(), QStringLiteral("255"));
        w->TC_F_Name->setText(QStringLiteral("name"));
        w->button(QStringLiteral("SpeedButton16"))->click();
        w->TC_F_Name->setText(QStringLiteral("id"));
        w->TC_F_TYPE->setCurrentText(QStringLiteral("INT"));
        w->button(QStringLiteral("SpeedButton16"))->click();
        w->TC_F_Name->setText(QStringLiteral("note"));
        w->TC_F_TYPE->setEditText(QStringLiteral("char"));
        w->button(QStringLiteral("SpeedButton16"))->click();
        QStringList lines;
        for (int i = 0; i < w->TC_FIELDS->count(); ++i)
            lines << w->TC_FIELDS->item(i)->text();
        QCOMPARE(lines, QStringList({"name CHAR (255)", "id INT", "note char"}));
        QCOMPARE(w->TC_F_Name->text(), QStringLiteral("note")); // the edits keep their texts
    }

    void selectingAGridCellCapturesItsRow()
    {
        TProgram program;
        Ttolvar *w = program.tolvar.get();
        w->show();
        w->ShowPage(Ttolvar::Table_View);
        TMgrid *grid = w->Mgrid;
        grid->setColCount(2);
        grid->setRowCount(4);
        grid->setFixedRows(1);
        grid->setCells(0, 0, QStringLiteral("id"));
        grid->setCells(1, 0, QStringLiteral("name"));
        grid->setCells(0, 2, QStringLiteral("2"));
        grid->setCells(1, 2, QStringLiteral("Groß"));
        QVERIFY(grid->MoveTo(1, 2));
        QCOMPARE(w->haderModel->columnCount(), 2);
        QCOMPARE(w->haderModel->headerData(0, Qt::Horizontal).toString(), QStringLiteral("2"));
        QCOMPARE(w->haderModel->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Groß"));
        QCOMPARE(grid->BorderColor(), TColor(16744576));
        QCOMPARE(grid->EvenRowColor(), TColor(13828095));
        QCOMPARE(grid->DefaultColWidth(), 128);
        QCOMPARE(grid->GridLineWidth(), 0);
    }

    void everyControlIsNamedForScreenReaders()
    {
        TProgram program;
        const QList<QWidget *> windows = {program.tolvar.get(),        program.login.get(),
                                          program.settings_form.get(), program.console.get(),
                                          program.Informacjon.get(),   program.activity.get()};
        for (QWidget *window : windows) {
            QHash<QWidget *, QLabel *> buddies;
            for (QLabel *l : window->findChildren<QLabel *>())
                if (l->buddy()) buddies.insert(l->buddy(), l);
            for (QLineEdit *e : window->findChildren<QLineEdit *>()) {
                if (qobject_cast<QComboBox *>(e->parentWidget())) continue;
                if (qobject_cast<QAbstractSpinBox *>(e->parentWidget())) continue;
                QVERIFY2(buddies.contains(e) || !e->accessibleName().isEmpty(),
                         qPrintable(e->objectName()));
            }
            for (QAbstractSpinBox *c : window->findChildren<QAbstractSpinBox *>())
                QVERIFY2(buddies.contains(c) || !c->accessibleName().isEmpty(),
                         qPrintable(c->objectName()));
            for (QComboBox *c : window->findChildren<QComboBox *>())
                QVERIFY2(buddies.contains(c) || !c->accessibleName().isEmpty(),
                         qPrintable(c->objectName()));
            for (QAbstractButton *b : window->findChildren<QAbstractButton *>()) {
                if (b->parent() && b->parent()->inherits("QTabBar")) continue;
                if (b->objectName().startsWith(QLatin1String("qt_"))) continue;
                if (b->text().isEmpty()) {
                    QVERIFY2(!b->accessibleName().isEmpty(), qPrintable(b->objectName()));
                    QVERIFY2(!b->toolTip().isEmpty(), qPrintable(b->objectName()));
                }
            }
        }
        Ttolvar *w = program.tolvar.get();
        QCOMPARE(w->Tree_view->accessibleName(), QStringLiteral("Tree_view"));
        QCOMPARE(w->Table_list->accessibleName(), QStringLiteral("Table_list"));
        QCOMPARE(w->Mgrid->accessibleName(), QStringLiteral("Mgrid"));
        QCOMPARE(program.console->Memo1->accessibleName(), QStringLiteral("Memo1"));
        QVERIFY(w->StatusPanel(1)->accessibleName().isEmpty()); // read by its text
        // The activity window's tables and charts have no text of their own.
        for (const char *name : {"Process_view", "Status_view", "Variables_view", "Queries_chart",
                                 "Connections_chart", "Traffic_chart"}) {
            const auto *view = program.activity->findChild<QWidget *>(QString::fromLatin1(name));
            QVERIFY2(view, name);
            QCOMPARE(view->accessibleName(), view->objectName());
        }
        QCOMPARE(w->button(QStringLiteral("SpeedButton9"))->accessibleName(),
                 QStringLiteral("Connect"));
    }

    void picturesDecode()
    {
        QCOMPARE(ui::picture(QStringLiteral("logo")).size(), QSize(146, 121));
        QVERIFY(!ui::picture(QStringLiteral("welcome")).isNull());
        QVERIFY(!ui::icon(QStringLiteral("database")).pixmap(32, 32).isNull());
        QVERIFY(!ui::icon(QStringLiteral("table")).pixmap(32, 32).isNull());
    }

    void errorTextFullStopRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "File not found"
                                << "File not found.";
        QTest::newRow("digit") << "I/O error 5"
                               << "I/O error 5.";
        QTest::newRow("full stop") << "Done."
                                   << "Done.";
        QTest::newRow("bracket sorts before") << "value (x)"
                                              << "value (x)";
        QTest::newRow("empty") << ""
                               << "";
    }
    void errorTextFullStopRule()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(ui::errorText(text), shown);
    }

    // The editor's colours follow the lexer across lines: a string and a block comment that go
    // on over a line end, a DELIMITER line, keywords only outside quotes.
    void sqlColoursFollowTheLexer()
    {
        QTextDocument document(QStringLiteral("SELECT 'from\nwhere' /* select\n*/ `fr\u00f3m` 12;\n"
                                              "DELIMITER $$\nselect 1$$"));
        TSqlHighlighter highlighter(&document);
        highlighter.rehighlight();
        // Each expected span: line, first position, length, format.
        auto formatAt = [&](int line, int position) {
            const QTextBlock block = document.findBlockByNumber(line);
            for (const QTextLayout::FormatRange &range : block.layout()->formats())
                if (position >= range.start && position < range.start + range.length)
                    return range.format;
            return QTextCharFormat();
        };
        QCOMPARE(formatAt(0, 0), highlighter.Keyword);    // SELECT
        QCOMPARE(formatAt(0, 8), highlighter.String);     // from, inside the quote
        QCOMPARE(formatAt(1, 0), highlighter.String);     // where, the quote still open
        QCOMPARE(formatAt(1, 9), highlighter.Comment);    // select, inside the comment
        QCOMPARE(formatAt(2, 0), highlighter.Comment);    // the comment's end
        QCOMPARE(formatAt(2, 4), highlighter.Identifier); // `fróm`
        QCOMPARE(formatAt(2, 11), highlighter.Number);    // 12, after a two-byte character
        QCOMPARE(formatAt(3, 0), highlighter.DelimiterLine);
        QCOMPARE(formatAt(4, 0), highlighter.Keyword); // select under the new delimiter
        QCOMPARE(formatAt(4, 7), highlighter.Number);  // 1, ended by $$
    }

    // A long text is coloured where it is shown: a line never shown carries its state but no
    // formats; lines scrolled to are coloured; a change at the top recolours what is in view.
    void longSqlColouredWhereShown()
    {
        TSqlEdit edit;
        edit.resize(500, 300);
        QString text = QStringLiteral("SELECT 'open\nstill open', 1;\n");
        for (int i = 0; i < TSqlHighlighter::LazyFrom; ++i)
            text += QStringLiteral("SELECT 42;\n");
        edit.setPlainText(text);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        QCoreApplication::processEvents();
        QTextDocument *doc = edit.document();
        auto formats = [&](int line) { return doc->findBlockByNumber(line).layout()->formats(); };
        const TSqlHighlighter *h = edit.Highlighter();
        QVERIFY(!formats(1).isEmpty() && formats(1).first().format == h->String);
        QVERIFY(formats(3000).isEmpty());
        QCOMPARE(doc->findBlockByNumber(3000).userState(), doc->findBlockByNumber(2).userState());
        edit.moveCursor(QTextCursor::End);
        edit.ensureCursorVisible();
        QCoreApplication::processEvents();
        const int last = doc->blockCount() - 2;
        QVERIFY(!formats(last).isEmpty() && formats(last).first().format == h->Keyword);
        QTextCursor top(doc);
        top.insertText(QStringLiteral("/* "));
        QCoreApplication::processEvents();
        QVERIFY(!formats(last).isEmpty() && formats(last).first().format == h->Comment);
        QVERIFY(formats(3000).isEmpty());
    }

    // What the editor hands over to run: the statement at the cursor (positions counted past
    // non-ASCII text), every statement a selection touches, all of them, each with its first
    // line; the line-number margin grows with the lines.
    void sqlEditHandsOverStatements()
    {
        TSqlEdit edit;
        const QString text =
            QStringLiteral("SELECT '\u017c\u00f3\u0142w';\n\nSELECT 2;\nSELECT\n  3;");
        edit.setPlainText(text);
        auto described = [](const std::vector<TSqlEdit::Piece> &pieces) {
            QStringList out;
            for (const TSqlEdit::Piece &p : pieces)
                out << QStringLiteral("%1: %2").arg(p.FirstLine).arg(p.Text);
            return out;
        };
        QTextCursor cursor = edit.textCursor();
        cursor.setPosition(int(text.indexOf(QStringLiteral("SELECT 2"))));
        edit.setTextCursor(cursor);
        QCOMPARE(described(edit.StatementsToRun()), QStringList{QStringLiteral("3: SELECT 2")});
        cursor.setPosition(int(text.indexOf(QChar(0x00f3))));
        cursor.setPosition(int(text.indexOf(QStringLiteral("3;"))), QTextCursor::KeepAnchor);
        edit.setTextCursor(cursor);
        QCOMPARE(described(edit.StatementsToRun()),
                 (QStringList{QStringLiteral("1: SELECT '\u017c\u00f3\u0142w'"),
                              QStringLiteral("3: SELECT 2"), QStringLiteral("4: SELECT\n  3")}));
        QCOMPARE(edit.AllStatements().size(), std::size_t(3));
        QCOMPARE(edit.accessibleName(), QStringLiteral("SQL_edit"));
        const int narrow = edit.LineNumberWidth();
        edit.setPlainText(QStringLiteral("x\n").repeated(1000));
        QVERIFY(edit.LineNumberWidth() > narrow);
    }

    void deleteAnimationStopsAfterItsLastFrame()
    {
        TAnimate animation;
        animation.FrameInterval = 1;
        int stops = 0;
        animation.OnStop = [&](QObject *sender) {
            ++stops;
            QCOMPARE(sender, &animation);
        };
        animation.Play(1, 24, 1);
        QVERIFY(animation.Active());
        QTRY_COMPARE(stops, 1);
        QCOMPARE(animation.CurrentFrame(), 24);
        QVERIFY(!animation.Active());
        QTest::qWait(20);
        QCOMPARE(stops, 1);
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
