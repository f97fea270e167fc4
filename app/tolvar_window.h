#pragma once

#include "Pace.h"
#include "files.h"
#include "mySQLClient.h"
#include "row_delete.h"
#include "table_statements.h"

#include <QFile>
#include <QFrame>
#include <QListWidget>
#include <QMainWindow>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;

class QHeaderView;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QStackedWidget;
class QStandardItemModel;
class QTreeWidget;
class TStringGrid;
class QTreeWidgetItem;
class QListWidgetItem;
class QAbstractButton;
class QToolButton;
class TAnimate;
class TMgrid;
class Tlogin;
class Tsettings_form;
class Tconsole;
class TInformacjon;
class TSqlEditor;
class TServerActivity;
class TGridEdit;
class TTableStructure;
class TTableExport;

// A list whose inner border keeps its items away from its edges.
class TListWidget : public QListWidget
{
public:
    using QListWidget::QListWidget;
    using QListWidget::setViewportMargins;
};

// A panel with a picture at its left and a caption beside it.
class TCaptionPanel : public QFrame
{
public:
    TCaptionPanel(const QString &objectName, const QString &caption, const QString &pictureName,
                  QWidget *parent = nullptr);
    QString Caption() const;
    void setCaption(const QString &text);
    QLabel *CaptionLabel() const { return m_caption; }

private:
    QLabel *m_caption;
};

// The main window: toolbar, database tree, page stack and status bar.
class Ttolvar : public QMainWindow
{
    Q_OBJECT
public:
    enum Page
    {
        Table_View = 0,
        Database_Add = 1,
        Database_Remove = 2,
        Table_Add = 3,
        Table_Remove = 4,
        Table_Rename = 5,
        Welcome = 6,
        Table_List = 7,
        Database_Deleted = 8,
        Table_Structure = 9
    };

    explicit Ttolvar(QWidget *parent = nullptr);
    ~Ttolvar() override;

    // The other windows exist only after this one; the program hands them over once made.
    void attachWindows(Tlogin *login, Tsettings_form *settings, Tconsole *console,
                       TInformacjon *about);
    // The SQL editor, opened from the Servers menu and the toolbar; it closes its connection
    // with the main one.
    void attachEditor(TSqlEditor *editor) { m_editor = editor; }
    // The server activity window, opened from the Servers menu; its connection closes with the
    // main one.
    void attachActivity(TServerActivity *activity) { m_activity = activity; }

    TmySQLClient *mysql = nullptr;
    QTimer Autol;

    // Controls named as in the layout.
    QFrame *CoolBar1 = nullptr;
    QWidget *panel_toolbar = nullptr;
    QFrame *Panel14 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QTreeWidget *Tree_view = nullptr;
    QStackedWidget *Notebook = nullptr;
    TCaptionPanel *Panel5 = nullptr;
    TMgrid *Mgrid = nullptr;
    QHeaderView *hader = nullptr;
    QStandardItemModel *haderModel = nullptr;
    QLineEdit *data_name_text = nullptr;
    QLabel *Data_name_caption = nullptr;
    TAnimate *Usuwaj = nullptr;
    QListWidget *TC_FIELDS = nullptr;
    QLineEdit *TC_Name = nullptr;
    QLineEdit *TC_F_Name = nullptr;
    QComboBox *TC_F_TYPE = nullptr;
    QLineEdit *TC_F_SIZE = nullptr;
    QLabel *Server_info = nullptr;
    QLabel *Host_info = nullptr;
    QLabel *Tls_info = nullptr; // the protocol and cipher negotiated, or "Not encrypted"
    TCaptionPanel *Panel6 = nullptr;
    QLabel *Label2 = nullptr;
    TListWidget *Table_list = nullptr;
    QMenu *Tree_view_popup = nullptr;
    QMenu *Table_List_popup = nullptr;

    QString PanelText(int panel) const; // status panels counted from 1
    void setPanelText(int panel, const QString &text);
    QLabel *StatusPanel(int panel) const;
    QAbstractButton *button(const QString &objectName) const;
    QAction *action(const QString &objectName) const;

    // Commands that need no server.
    void ShowPage(Page page);
    void Connect1Click();
    void Settings1Click();
    void Quit1Click();
    void ConsoleWindow1Click();
    void SqlEditor1Click();
    // ssh ended under the connection.
    void tunnelLost(const QString &message);
    void ServerActivity1Click();
    void Add1Click();
    void Delete1Click();
    void SpeedButton7Click();
    void SpeedButton11Click();
    void informacjeClick();

    // Changing the server (tolvar_changes.cpp).
    void SpeedButton2Click();
    void SpeedButton4Click() { Delete1Click(); }
    void Delate1Click() { Delete1Click(); }
    void SpeedButton6Click();
    void UsuwajStop(QObject *Sender);
    void SpeedButton16Click();
    void SpeedButton15Click();
    void MgridSelectCell(int ACol, int ARow, bool &CanSelect);
    void SpeedButton17Click();
    // Table commands (tolvar_tables.cpp): on the table chosen last in the tree or the table
    // list (or under the context menu).
    struct TableRef
    {
        QString Database;
        QString Table;
        bool operator==(const TableRef &other) const = default;
    };
    TableRef currentTable() const { return m_currentTable; }
    // The table named on the remove page; the drop goes there and nowhere else.
    TableRef confirmedTable() const { return m_confirmTable; }
    const tablesql::View &tableView() const { return m_view; }
    void TablesCreateClick();
    void TablesDeleteClick();
    void TablesRenameClick();
    void TablesEmptyClick();
    void TablesStructureClick();
    // The export dialog, then the whole table streamed to the file, or the rows shown.
    // Rows of another window's grid (an SQL editor result) to a file: the export dialog with
    // only "the rows shown" to choose.
    void exportRows(const TStringGrid *grid, const std::vector<TmySQLFieldInfo> &fields,
                    const QString &name);
    void TablesExportClick();
    TTableExport *tableExport() const { return m_export; }
    void TableRemoveYesClick();
    void TableAnimationStop(QObject *Sender);
    void TableRenameClick();
    // A header click sorts on the server; Enter in the filter edit filters there.
    void sortByColumn(int col);
    void applyFilter();
    QLabel *Table_name_caption = nullptr;
    QLabel *Table_old_name = nullptr;
    QLineEdit *Table_new_name = nullptr;
    TAnimate *Table_animation = nullptr;
    TTableStructure *Table_structure = nullptr;
    QLineEdit *Where_edit = nullptr;
    QMenu *Tables_menu = nullptr;

    // Export of the database list (tolvar_export.cpp).
    void oTXTfile1Click();
    // The database the confirmation page names; the drop goes there and nowhere else.
    QString confirmedDatabase() const { return m_confirmDatabase; }
    // The grid row captured by the last cell selection, -1 when none for the rows shown now.
    int capturedRow() const;
    void syncHader();

    // Connection lifecycle and the activity log (tolvar_connection.cpp).
    void AutolTimer();
    void Disconnect1Click();
    void SpeedButton10Click() { Disconnect1Click(); }
    void mysqlConnect(QObject *Sender);
    void mysqlClose(QObject *Sender);
    void mysqlConnectError(QObject *Sender, const QString &Msg);
    // The command line the start-up step reads; the program's own unless a test sets another.
    void setArguments(const QStringList &arguments) { m_arguments = arguments; }
    // One line of "log.ini", on disk when this returns. A log that cannot be written is reported
    // once and never stops the caller.
    void appendLog(const QString &line);
    // What the connection made says of its encryption, for the Welcome page and the log.
    QString encryptionText() const;

    // Browsing and the result dispatch (tolvar_browse.cpp).
    void Refreshlist1Click();
    void Refresh1Click() { Refreshlist1Click(); }
    void SpeedButton8Click() { Refreshlist1Click(); }
    void SpeedButton19Click() { Refreshlist1Click(); }
    void SpeedButton21Click() { Refreshlist1Click(); }
    void Tree_viewChange(QTreeWidgetItem *Node);
    void Table_listChange(QListWidgetItem *Item);
    void mysqlSelectDatabase(QObject *Sender);
    void mysqlQuery(QObject *Sender);
    void mysqlQueryError(QObject *Sender, const QString &Msg);
    // Stops the table being read (the toolbar's "Stop", Esc in the grid); its rows stay shown.
    void StopClick();

    // Where the grid's rows came from: the database and table of the request that filled it,
    // the columns' descriptions, and a count that every fill raises.
    struct GridOrigin
    {
        QString Database;
        QString Table;
        std::vector<TmySQLFieldInfo> Fields;
        quint64 Fill = 0;
        // The key that names the table's rows and the result's character set, asked right before
        // the rows.
        rowdelete::Key TableKey;
    };
    const GridOrigin &gridOrigin() const { return m_grid; }
    // Changes made in the grid, kept until applied or discarded.
    TGridEdit *gridEdit() const { return m_edit; }
    // The database whose tables the table list shows.
    QString listDatabase() const { return m_listDatabase; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void FormClose();
    // A command that needs a connection says so in status panel 5 when there is none.
    bool requireConnection();
    void appendConsole(const QString &line);
    void reportLater(const QString &text);
    void submitViewTable(const QString &database, const QString &table);
    // The grid shows nothing while a table is read, so no command acts on rows of another.
    void showLoading(const QString &table, bool keepRows = false);
    void requestTables(const QString &database);
    // The result dispatch, with the database its request carried.
    void dispatch(TmySQLClientQuery *q, const QString &database);
    // A table's rows as they arrive, and its end (with the error that ended it, if any).
    void rowsArrived(TmySQLRowBatch &batch, const QString &database, const QString &table,
                     quint64 view);
    void readFinished(TmySQLClientQuery *q, quint64 view, const QString &error);
    // "Stop" can be pressed while a table is being read, and only then.
    void updateStopButton();
    // "1 row", "2 rows": the row count as panel 4 says it.
    static QString rowsText(qint64 rows);
    void RebuildTree(TmySQLClientQuery *q);
    void FillTableList(TmySQLClientQuery *q, const QString &database);
    void buildMenu();
    void buildToolbar(QWidget *parent);
    QWidget *buildLeftColumn();
    void buildPages();
    void buildTablePages(QWidget *remove, QWidget *rename, QWidget *structure);
    void addTableCommands(QMenu *menu, bool all);
    // A table command's statement; done runs once it succeeded, a failure goes to panel 5, the
    // log and the console.
    void submitTableChange(TmySQLStatement statement, const char *name, std::function<void()> done);
    // "12 rows", "1,204 rows (filtered)": what panel 4 says of the rows shown.
    QString rowsShownText(qint64 rows) const;
    void buildStatusBar();
    QAction *addAction(QMenu *menu, const QString &objectName, const QString &text,
                       const QString &iconName, void (Ttolvar::*handler)() = nullptr);
    QToolButton *toolButton(QWidget *parent, const QString &objectName, const QString &iconName,
                            const QString &command, void (Ttolvar::*handler)() = nullptr,
                            int size = 33);

    Tlogin *m_login = nullptr;
    Tsettings_form *m_settings = nullptr;
    Tconsole *m_console = nullptr;
    TInformacjon *m_about = nullptr;
    TSqlEditor *m_editor = nullptr;
    QString m_lostNote; // panel 1's text when the connection closes, if it was lost
    TServerActivity *m_activity = nullptr;
    TGridEdit *m_edit = nullptr;
    TTableExport *m_export = nullptr;
    QLabel *m_panels[5] = {};
    TLineFile m_log;
    bool m_logReported = false;
    QStringList m_arguments;
    QString m_listDatabase;
    GridOrigin m_grid;
    // Every "View Table" request is numbered; only the latest one's answers are shown.
    quint64 m_viewRequest = 0;
    // The request whose rows the grid holds (its first rows arrived), and tables still being
    // read (asked for and not yet ended: a newer choice stops the older ones).
    quint64 m_shownView = 0;
    int m_readsRunning = 0;
    // Panel 4 counts a read's rows a few times a second: relaid out and repainted at every
    // batch of a long read, it cost the window thread more than taking the rows.
    TPace m_loadingPace{100};
    // The last key answer and the request it was asked for.
    quint64 m_keyView = 0;
    rowdelete::Key m_key;
    QString m_confirmDatabase;
    bool m_dropArmed = false;
    struct Field
    {
        QString Name;
        QString Type;
        QString Size;
        bool Sized;
    };
    std::vector<Field> m_fields; // beside the lines of TC_FIELDS, one each
    TableRef m_currentTable;
    TableRef m_confirmTable;
    bool m_tableDropArmed = false;
    tablesql::View m_view;
    // The grid's origin before a re-read of the same table (sorted or filtered anew): a
    // condition the server rejects leaves the rows and what is known of them as they were.
    GridOrigin m_previousGrid;
    tablesql::View m_readView; // the sort and filter the rows shown were read with
    quint64 m_capturedFill = 0;
    int m_capturedRow = -1;
};
