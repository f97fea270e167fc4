#include "tolvar_window.h"

#include "Animate.h"
#include "Cologrid.h"
#include "Informacje.h"
#include "common.h"
#include "grid_edit.h"
#include "konsola.h"
#include "login_window.h"
#include "result_grid.h"
#include "server_activity.h"
#include "settings.h"
#include "sql_editor.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
QFrame *separator(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameStyle(QFrame::VLine | QFrame::Raised);
    line->setLineWidth(1);
    line->setFixedWidth(6);
    return line;
}

QLabel *pictureLabel(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setPixmap(ui::picture(name));
    label->setAccessibleName(QStringLiteral("Picture"));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

void setBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}
} // namespace

TCaptionPanel::TCaptionPanel(const QString &objectName, const QString &caption,
                             const QString &pictureName, QWidget *parent)
    : QFrame(parent)
{
    setObjectName(objectName);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    if (!pictureName.isEmpty()) layout->addWidget(pictureLabel(pictureName, this));
    m_caption = new QLabel(caption, this);
    m_caption->setObjectName(objectName + QStringLiteral("_caption"));
    layout->addWidget(m_caption, 1);
}

QString TCaptionPanel::Caption() const
{
    return m_caption->text();
}
void TCaptionPanel::setCaption(const QString &text)
{
    m_caption->setText(text);
}

Ttolvar::Ttolvar(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("tolvar"));
    setWindowTitle(QStringLiteral("MySQL Quorvane"));
    setWindowIcon(ui::icon(QStringLiteral("quorvane")));
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPointSize(8);
    setFont(font);
    resize(699, 480);

    mysql = new TmySQLClient(this);
    mysql->setObjectName(QStringLiteral("mysql"));
    mysql->setHostname(QStringLiteral("localhost"));
    mysql->setDatabase(QStringLiteral("mysql"));
    mysql->setPort(3306);
    mysql->setCapabilities({});
    mysql->setThreaded(true);
    mysql->setConnectedTimeOutInterval(300000);
    mysql->setBlockOnClose(true);
    mysql->OnConnect = [this](QObject *sender) { mysqlConnect(sender); };
    mysql->OnConnectError = [this](QObject *sender, const QString &msg) {
        mysqlConnectError(sender, msg);
    };
    mysql->OnClose = [this](QObject *sender) { mysqlClose(sender); };
    mysql->OnQuery = [this](QObject *sender) { mysqlQuery(sender); };
    mysql->OnQueryError = [this](QObject *sender, const QString &msg) {
        mysqlQueryError(sender, msg);
    };
    mysql->OnSelectDatabase = [this](QObject *sender) { mysqlSelectDatabase(sender); };
    // A database that cannot be selected (dropped meanwhile, not allowed) is reported like a
    // failed statement instead of doing nothing.
    mysql->OnSelectDatabaseError = [this](QObject *sender, const QString &msg) {
        mysqlQueryError(sender, msg);
    };
    m_arguments = QCoreApplication::arguments();

    buildMenu();
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    buildToolbar(central);
    updateStopButton();
    column->addWidget(CoolBar1);
    auto *note = new QWidget(central);
    note->setObjectName(QStringLiteral("Panel2_Note"));
    auto *split = new QHBoxLayout(note);
    split->setContentsMargins(0, 0, 0, 0);
    split->setSpacing(2);
    split->addWidget(buildLeftColumn());
    Notebook = new QStackedWidget(note);
    Notebook->setObjectName(QStringLiteral("Notebook"));
    setBackground(Notebook, Qt::white);
    split->addWidget(Notebook, 1);
    column->addWidget(note, 1);
    setCentralWidget(central);
    buildPages();
    buildStatusBar();
    // Leaving the confirmation page while the clip plays stops it, and drops nothing.
    connect(Notebook, &QStackedWidget::currentChanged, this, [this](int index) {
        if (index != Database_Remove && Usuwaj->Active()) {
            if (m_dropArmed) setPanelText(5, QStringLiteral("Drop cancelled"));
            m_dropArmed = false;
            Usuwaj->Stop();
        }
    });

    Autol.setObjectName(QStringLiteral("Autol"));
    Autol.setInterval(100);
    Autol.setSingleShot(false);
    connect(&Autol, &QTimer::timeout, this, &Ttolvar::AutolTimer);
    // Names and messages from the server or the user are shown as they are, never as markup.
    for (QLabel *label : findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    FormCreate();
    Autol.start();
}

Ttolvar::~Ttolvar() = default;

void Ttolvar::attachWindows(Tlogin *login, Tsettings_form *settings, Tconsole *console,
                            TInformacjon *about)
{
    m_login = login;
    m_settings = settings;
    m_console = console;
    m_about = about;
    if (m_console)
        m_console->OnNotConnected = [this](const QString &notice) { setPanelText(5, notice); };
    if (m_login) connect(m_login, &Tlogin::tunnelEnded, this, &Ttolvar::tunnelLost);
}

QAction *Ttolvar::addAction(QMenu *menu, const QString &objectName, const QString &text,
                            const QString &iconName, void (Ttolvar::*handler)())
{
    QAction *entry = menu->addAction(text);
    entry->setObjectName(objectName);
    if (!iconName.isEmpty()) entry->setIcon(ui::icon(iconName));
    if (handler) connect(entry, &QAction::triggered, this, handler);
    return entry;
}

void Ttolvar::buildMenu()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("tolvar_menu"));
    QMenu *file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    addAction(file, QStringLiteral("Connect1"), QStringLiteral("Connect"),
              QStringLiteral("connect"), &Ttolvar::Connect1Click);
    addAction(file, QStringLiteral("Disconnect1"), QStringLiteral("Disconnect"),
              QStringLiteral("disconnect"), &Ttolvar::Disconnect1Click);
    addAction(file, QStringLiteral("Settings1"), QStringLiteral("Settings"),
              QStringLiteral("settings"), &Ttolvar::Settings1Click);
    addAction(file, QStringLiteral("Quit1"), QStringLiteral("Quit"), QStringLiteral("exit"),
              &Ttolvar::Quit1Click);
    QMenu *servers = bar->addMenu(QStringLiteral("&Servers"));
    servers->setObjectName(QStringLiteral("Servers1"));
    addAction(servers, QStringLiteral("ConsoleWindow1"), QStringLiteral("Console Window"),
              QStringLiteral("console"), &Ttolvar::ConsoleWindow1Click);
    addAction(servers, QStringLiteral("SqlEditor1"), QStringLiteral("SQL Editor"),
              QStringLiteral("sql"), &Ttolvar::SqlEditor1Click);
    addAction(servers, QStringLiteral("ServerActivity1"), QStringLiteral("Server Activity"),
              QString(), &Ttolvar::ServerActivity1Click);
    QMenu *databases = bar->addMenu(QStringLiteral("&Databases"));
    databases->setObjectName(QStringLiteral("Databases1"));
    addAction(databases, QStringLiteral("Add1"), QStringLiteral("Add"), QStringLiteral("dbadd"),
              &Ttolvar::Add1Click);
    addAction(databases, QStringLiteral("Delete1"), QStringLiteral("Delete"),
              QStringLiteral("dbremove"), &Ttolvar::Delete1Click);
    addAction(databases, QStringLiteral("Rename1"), QStringLiteral("Rename"),
              QStringLiteral("rename"))
        ->setEnabled(false);
    addAction(databases, QStringLiteral("Refreshlist1"), QStringLiteral("Refresh list"),
              QStringLiteral("refresh"), &Ttolvar::Refreshlist1Click);
    Tables_menu = bar->addMenu(QStringLiteral("&Tables"));
    Tables_menu->setObjectName(QStringLiteral("Tables1"));
    addTableCommands(Tables_menu, true);

    Tree_view_popup = new QMenu(this);
    Tree_view_popup->setObjectName(QStringLiteral("Tree_view_popup"));
    addAction(Tree_view_popup, QStringLiteral("Refresh1"), QStringLiteral("Refresh"),
              QStringLiteral("refresh"), &Ttolvar::Refresh1Click);
    QMenu *popupDatabases = Tree_view_popup->addMenu(QStringLiteral("Databases"));
    popupDatabases->setObjectName(QStringLiteral("Databases2"));
    addAction(popupDatabases, QStringLiteral("Create1"), QStringLiteral("Create"),
              QStringLiteral("dbadd"), &Ttolvar::Add1Click);
    addAction(popupDatabases, QStringLiteral("Delate1"), QStringLiteral("Remove"),
              QStringLiteral("dbremove"), &Ttolvar::Delete1Click);
    QMenu *exportMenu = popupDatabases->addMenu(QStringLiteral("Export list of databases"));
    exportMenu->setObjectName(QStringLiteral("Exportlistofdatabases1"));
    addAction(exportMenu, QStringLiteral("oTXTfile1"), QStringLiteral("To TXT file"),
              QStringLiteral("sql"), &Ttolvar::oTXTfile1Click);
    QMenu *popupTables = Tree_view_popup->addMenu(QStringLiteral("Tables"));
    popupTables->setObjectName(QStringLiteral("Tables2"));
    addAction(popupTables, QStringLiteral("Create2"), QStringLiteral("Create"),
              QStringLiteral("tablenew"), &Ttolvar::TablesCreateClick);
    addAction(popupTables, QStringLiteral("Delete2"), QStringLiteral("Delete"),
              QStringLiteral("delete"), &Ttolvar::TablesDeleteClick);
}

QToolButton *Ttolvar::toolButton(QWidget *parent, const QString &objectName,
                                 const QString &iconName, const QString &command,
                                 void (Ttolvar::*handler)(), int size)
{
    auto *b = static_cast<QToolButton *>(
        ui::flatButton(parent, objectName, QString(), iconName, command));
    b->setFixedSize(size, size);
    b->setIconSize(QSize(size - 9, size - 9));
    if (handler) connect(b, &QAbstractButton::clicked, this, handler);
    return b;
}

void Ttolvar::buildToolbar(QWidget *parent)
{
    CoolBar1 = new QFrame(parent);
    CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
    CoolBar1->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    auto *bands = new QVBoxLayout(CoolBar1);
    bands->setContentsMargins(2, 1, 2, 1);
    bands->setSpacing(0);
    panel_toolbar = new QWidget(CoolBar1);
    panel_toolbar->setObjectName(QStringLiteral("panel_toolbar"));
    panel_toolbar->setMinimumHeight(33);
    auto *row = new QHBoxLayout(panel_toolbar);
    row->setContentsMargins(0, 1, 0, 1);
    row->setSpacing(1);
    struct Glyph
    {
        const char *name;
        const char *icon;
        const char *command;
        void (Ttolvar::*handler)();
        bool shown;
    };
    // Buttons of commands we do not offer yet are kept, hidden, so that each keeps its place.
    const std::vector<std::vector<Glyph>> groups = {
        {{"SpeedButton7", "welcome", "Splash screen", &Ttolvar::SpeedButton7Click, true}},
        {{"SpeedButton9", "connect", "Connect", &Ttolvar::Connect1Click, true},
         {"SpeedButton10", "disconnect", "Disconnect", &Ttolvar::SpeedButton10Click, true},
         {"Stop_button", "stop", "Stop", &Ttolvar::StopClick, true}},
        {{"SpeedButton18", "console", "Console Window", &Ttolvar::ConsoleWindow1Click, true},
         {"SpeedButton22", "sql", "SQL Editor", &Ttolvar::SqlEditor1Click, true}},
        {{"SpeedButton19", "refresh", "Refresh list", &Ttolvar::SpeedButton19Click, true},
         {"SpeedButton12", "dbadd", "Add database", nullptr, false},
         {"SpeedButton13", "dbremove", "Remove database", nullptr, false},
         {"SpeedButton11", "tablenew", "Table builder", &Ttolvar::SpeedButton11Click, true},
         {"SpeedButton14", "delete", "Delete", nullptr, false},
         {"SpeedButton20", "rename", "Rename", nullptr, false}},
        {{"informacje", "info", "About", &Ttolvar::informacjeClick, true},
         {"pomoc", "help", "Help", nullptr, false},
         {"Exit_button", "exit", "Quit", &Ttolvar::Quit1Click, true}},
    };
    bool first = true;
    for (const auto &group : groups) {
        if (!first) row->addWidget(separator(panel_toolbar));
        first = false;
        for (const Glyph &g : group) {
            QToolButton *b =
                toolButton(panel_toolbar, QString::fromLatin1(g.name), QString::fromLatin1(g.icon),
                           QString::fromLatin1(g.command), g.handler);
            b->setVisible(g.shown);
            row->addWidget(b);
        }
    }
    row->addStretch(1);
    bands->addWidget(panel_toolbar);
    // The second band: an empty panel of a band's height, below a rule that parts the bands.
    auto *rule = new QFrame(CoolBar1);
    rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    rule->setFixedHeight(2);
    bands->addWidget(rule);
    Panel14 = new QFrame(CoolBar1);
    Panel14->setObjectName(QStringLiteral("Panel14"));
    Panel14->setFrameStyle(QFrame::NoFrame);
    Panel14->setFixedHeight(33);
    bands->addWidget(Panel14);
}

QWidget *Ttolvar::buildLeftColumn()
{
    auto *panel1 = new QWidget;
    panel1->setObjectName(QStringLiteral("Panel1"));
    panel1->setFixedWidth(200);
    auto *column = new QVBoxLayout(panel1);
    column->setContentsMargins(2, 2, 0, 2);
    column->setSpacing(2);

    auto *panel8 = new QWidget(panel1);
    panel8->setObjectName(QStringLiteral("Panel8"));
    auto *filter = new QHBoxLayout(panel8);
    filter->setContentsMargins(2, 0, 0, 0);
    auto *label = new QLabel(QStringLiteral("&Filter:"), panel8);
    label->setObjectName(QStringLiteral("Label1"));
    Edit1 = new QLineEdit(QStringLiteral("%"), panel8);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    label->setBuddy(Edit1);
    filter->addWidget(label);
    filter->addWidget(Edit1, 1);
    filter->addWidget(toolButton(panel8, QStringLiteral("SpeedButton8"), QStringLiteral("filter"),
                                 QStringLiteral("Refresh list"), &Ttolvar::SpeedButton8Click, 24));
    column->addWidget(panel8);

    Tree_view = new QTreeWidget(panel1);
    Tree_view->setObjectName(QStringLiteral("Tree_view"));
    Tree_view->setAccessibleName(QStringLiteral("Tree_view"));
    Tree_view->setHeaderHidden(true);
    Tree_view->setIconSize(QSize(32, 32));
    Tree_view->setIndentation(35);
    Tree_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Tree_view, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        // A table node under the pointer is the table the "Tables" entries act on.
        QTreeWidgetItem *item = Tree_view->itemAt(pos);
        if (item && item->parent() && !item->parent()->parent())
            m_currentTable = {item->parent()->text(0), item->text(0)};
        Tree_view_popup->popup(Tree_view->mapToGlobal(pos));
    });
    // From the keyboard too: the Menu key, and Shift+F10 as everywhere else.
    auto *popupKey = new QAction(Tree_view);
    popupKey->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    popupKey->setShortcutContext(Qt::WidgetShortcut);
    Tree_view->addAction(popupKey);
    connect(popupKey, &QAction::triggered, this, [this] {
        QTreeWidgetItem *item = Tree_view->currentItem();
        const QPoint at = item ? Tree_view->visualItemRect(item).center() : QPoint(4, 4);
        Tree_view_popup->popup(Tree_view->viewport()->mapToGlobal(at));
    });
    connect(Tree_view, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { Tree_viewChange(current); });
    column->addWidget(Tree_view, 1);

    auto *panel3 = new QWidget(panel1);
    panel3->setObjectName(QStringLiteral("Panel3"));
    auto *bottom = new QHBoxLayout(panel3);
    bottom->setContentsMargins(2, 0, 0, 0);
    bottom->addWidget(toolButton(panel3, QStringLiteral("SpeedButton3"), QStringLiteral("dbadd"),
                                 QStringLiteral("Add database"), &Ttolvar::Add1Click, 26));
    bottom->addWidget(toolButton(panel3, QStringLiteral("SpeedButton4"), QStringLiteral("dbremove"),
                                 QStringLiteral("Delete database"), &Ttolvar::Delete1Click, 26));
    bottom->addStretch(1);
    column->addWidget(panel3);
    return panel1;
}

void Ttolvar::buildPages()
{
    auto page = [this](const char *name) {
        auto *w = new QWidget;
        w->setObjectName(QString::fromLatin1(name));
        Notebook->addWidget(w);
        return w;
    };
    QFont large = font();
    large.setPixelSize(19);

    // 0 Table_View
    {
        QWidget *w = page("Table_View");
        auto *layout = new QVBoxLayout(w);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        Panel5 = new TCaptionPanel(QStringLiteral("Panel5"), QStringLiteral("Current Table: "),
                                   QStringLiteral("tableview"), w);
        Panel5->setFixedHeight(65);
        Panel5->setFrameStyle(QFrame::NoFrame);
        QFont f16 = font();
        f16.setPixelSize(16);
        Panel5->CaptionLabel()->setFont(f16);
        // A long table name is cut, not a reason for a wider window.
        Panel5->CaptionLabel()->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setBackground(Panel5, QColor(240, 255, 255));
        {
            auto *row = static_cast<QHBoxLayout *>(Panel5->layout());
            auto *filterLabel = new QLabel(QStringLiteral("F&ilter:"), Panel5);
            Where_edit = new QLineEdit(Panel5);
            Where_edit->setObjectName(QStringLiteral("Where_edit"));
            Where_edit->setPlaceholderText(QStringLiteral("WHERE condition"));
            Where_edit->setToolTip(QStringLiteral("A WHERE condition; Enter filters, Esc clears"));
            Where_edit->setFixedWidth(170);
            filterLabel->setBuddy(Where_edit);
            connect(Where_edit, &QLineEdit::returnPressed, this, &Ttolvar::applyFilter);
            Where_edit->installEventFilter(this);
            row->addWidget(filterLabel);
            row->addWidget(Where_edit);
            row->addWidget(toolButton(Panel5, QStringLiteral("Structure_button"),
                                      QStringLiteral("table"), QStringLiteral("Structure"),
                                      &Ttolvar::TablesStructureClick, 30));
        }
        layout->addWidget(Panel5);
        auto *rule = new QFrame(w);
        rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
        layout->addWidget(rule);

        Mgrid = new TMgrid(w);
        Mgrid->setObjectName(QStringLiteral("Mgrid"));
        Mgrid->setAccessibleName(QStringLiteral("Mgrid"));
        resultgrid::style(Mgrid);
        Mgrid->OnSelectCell = [this](TStringGrid *, int col, int row, bool &can) {
            MgridSelectCell(col, row, can);
        };
        connect(Mgrid, &TStringGrid::headerClicked, this, &Ttolvar::sortByColumn);
        // Esc in the grid stops the table being read, as the toolbar's "Stop" does.
        Mgrid->installEventFilter(this);
        connect(Mgrid->horizontalScrollBar(), &QScrollBar::valueChanged, this,
                [this] { syncHader(); });
        // The strip's sections stay under their columns when the user sizes one.
        connect(Mgrid, &TStringGrid::columnResized, this, [this](int col) {
            if (col < haderModel->columnCount())
                hader->resizeSection(col, Mgrid->ColWidths(col) + Mgrid->GridLineWidth());
            syncHader();
        });
        layout->addWidget(Mgrid, 1);

        auto *panel12 = new QWidget(w);
        panel12->setObjectName(QStringLiteral("Panel12"));
        setBackground(panel12, QColor(255, 234, 255));
        auto *bottom = new QVBoxLayout(panel12);
        bottom->setContentsMargins(2, 2, 2, 2);
        haderModel = new QStandardItemModel(0, 0, this);
        hader = new QHeaderView(Qt::Horizontal, panel12);
        hader->setObjectName(QStringLiteral("hader"));
        hader->setAccessibleName(QStringLiteral("hader"));
        hader->setModel(haderModel);
        hader->setFixedHeight(20);
        hader->setDefaultSectionSize(128);
        hader->setSectionsClickable(false);
        // Long values read from their start, cut at the end, like the grid's own cells.
        hader->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        hader->setTextElideMode(Qt::ElideRight);
        hader->setMinimumSectionSize(1);
        bottom->addWidget(hader);
        auto *del = ui::flatButton(panel12, QStringLiteral("SpeedButton17"),
                                   QStringLiteral("Delete Selected Record"),
                                   QStringLiteral("recorddelete"));
        del->setIconSize(QSize(20, 20));
        connect(del, &QAbstractButton::clicked, this, &Ttolvar::SpeedButton17Click);
        auto *commands = new QHBoxLayout;
        commands->setSpacing(4);
        commands->addWidget(del);
        // Changes kept in the grid until applied.
        m_edit = new TGridEdit(Mgrid, this);
        m_edit->setMainClient(mysql);
        struct EditCommand
        {
            const char *name;
            const char *text;
            const char *icon;
            void (TGridEdit::*handler)();
        };
        const EditCommand editCommands[] = {
            {"Add_row_button", "Add row", "fieldadd", &TGridEdit::addRow},
            {"Apply_button", "Apply changes", "ok", &TGridEdit::apply},
            {"Discard_button", "Discard changes", "cancel", &TGridEdit::discard},
            {"Show_sql_button", "Show SQL", "sql", &TGridEdit::showSql},
        };
        for (const EditCommand &c : editCommands) {
            // Glyphs, named and explained by their commands: the window keeps its width.
            auto *b = ui::flatButton(panel12, QString::fromLatin1(c.name), QString(),
                                     QString::fromLatin1(c.icon), QString::fromLatin1(c.text));
            b->setIconSize(QSize(20, 20));
            connect(b, &QAbstractButton::clicked, m_edit, c.handler);
            commands->addWidget(b);
        }
        commands->addStretch(1);
        bottom->addLayout(commands);
        connect(m_edit, &TGridEdit::message, this,
                [this](const QString &text) { setPanelText(5, text); });
        connect(m_edit, &TGridEdit::pendingChanged, this, [this](int count) {
            // The count of changes, while there are any; then the rows again, and never over
            // what a read says of itself ("Stopped: ...").
            if (count > 0)
                setPanelText(4, m_edit->pendingText());
            else if (PanelText(4).endsWith(QLatin1String(" pending")))
                setPanelText(4, rowsShownText(Mgrid->RowCount() - 1));
        });
        layout->addWidget(panel12);
    }
    // 1 Database_Add
    {
        QWidget *w = page("Database_Add");
        w->setFont(large);
        auto *layout = new QVBoxLayout(w);
        auto *panel2 =
            new TCaptionPanel(QStringLiteral("Panel2"), QStringLiteral("Database Create"),
                              QStringLiteral("dbcreate"), w);
        layout->addWidget(panel2);
        auto *form = new QHBoxLayout;
        auto *label = new QLabel(QStringLiteral("&Database name:"), w);
        data_name_text = new QLineEdit(QStringLiteral("new_database"), w);
        data_name_text->setObjectName(QStringLiteral("data_name_text"));
        label->setBuddy(data_name_text);
        form->addWidget(label);
        form->addWidget(data_name_text, 1);
        layout->addLayout(form);
        auto *buttons = new QHBoxLayout;
        auto *cancel = ui::flatButton(w, QStringLiteral("SpeedButton1"), QStringLiteral("Cancel"),
                                      QStringLiteral("cancel"));
        auto *create = ui::flatButton(w, QStringLiteral("SpeedButton2"), QStringLiteral("Create"),
                                      QStringLiteral("ok"));
        cancel->setIconSize(QSize(24, 24));
        create->setIconSize(QSize(24, 24));
        connect(cancel, &QAbstractButton::clicked, this, [this] { ShowPage(Welcome); });
        connect(create, &QAbstractButton::clicked, this, &Ttolvar::SpeedButton2Click);
        buttons->addWidget(cancel);
        buttons->addStretch(1);
        buttons->addWidget(create);
        layout->addLayout(buttons);
        layout->addStretch(1);
    }
    // 2 Database_Remove
    {
        QWidget *w = page("Database_Remove");
        w->setFont(large);
        auto *layout = new QVBoxLayout(w);
        layout->addWidget(new TCaptionPanel(QStringLiteral("Panel13"),
                                            QStringLiteral("Database Remove"),
                                            QStringLiteral("dbremove"), w));
        auto *question = new QHBoxLayout;
        question->addWidget(new QLabel(QStringLiteral("Do you want to remove"), w));
        Data_name_caption = new QLabel(QStringLiteral("database ?"), w);
        Data_name_caption->setObjectName(QStringLiteral("Data_name_caption"));
        QFont bold = large;
        bold.setBold(true);
        Data_name_caption->setFont(bold);
        question->addWidget(Data_name_caption);
        question->addStretch(1);
        layout->addLayout(question);
        auto *buttons = new QHBoxLayout;
        auto *no = ui::flatButton(w, QStringLiteral("SpeedButton5"), QStringLiteral("No"),
                                  QStringLiteral("cancel"));
        auto *yes = ui::flatButton(w, QStringLiteral("SpeedButton6"), QStringLiteral("Yeees"),
                                   QStringLiteral("ok"));
        no->setIconSize(QSize(24, 24));
        yes->setIconSize(QSize(24, 24));
        connect(no, &QAbstractButton::clicked, this, [this] { ShowPage(Welcome); });
        connect(yes, &QAbstractButton::clicked, this, &Ttolvar::SpeedButton6Click);
        buttons->addWidget(no);
        buttons->addStretch(1);
        buttons->addWidget(yes);
        layout->addLayout(buttons);
        Usuwaj = new TAnimate(w);
        Usuwaj->OnStop = [this](QObject *sender) { UsuwajStop(sender); };
        layout->addWidget(Usuwaj, 0, Qt::AlignHCenter);
        layout->addStretch(1);
    }
    // 3 Table_Add
    {
        QWidget *w = page("Table_Add");
        auto *layout = new QVBoxLayout(w);
        auto *title = new QLabel(QStringLiteral("Table Create"), w);
        QFont f = font();
        f.setPixelSize(16);
        f.setBold(true);
        title->setFont(f);
        layout->addWidget(title);
        auto *columns = new QHBoxLayout;
        auto *fieldsInfo = new QGroupBox(QStringLiteral("Fields Info"), w);
        auto *fieldsLayout = new QVBoxLayout(fieldsInfo);
        TC_FIELDS = new QListWidget(fieldsInfo);
        TC_FIELDS->setObjectName(QStringLiteral("TC_FIELDS"));
        TC_FIELDS->setAccessibleName(QStringLiteral("Fields Info"));
        fieldsLayout->addWidget(TC_FIELDS);
        columns->addWidget(fieldsInfo, 1);

        auto *right = new QVBoxLayout;
        auto *general = new QGroupBox(QStringLiteral("General"), w);
        auto *generalLayout = new QHBoxLayout(general);
        auto *nameLabel = new QLabel(QStringLiteral("Table &Name:"), general);
        TC_Name = new QLineEdit(QStringLiteral("new_table"), general);
        TC_Name->setObjectName(QStringLiteral("TC_Name"));
        nameLabel->setBuddy(TC_Name);
        generalLayout->addWidget(nameLabel);
        generalLayout->addWidget(TC_Name, 1);
        right->addWidget(general);

        auto *ops = new QGroupBox(QStringLiteral("Operations on Fields"), w);
        auto *grid = new QGridLayout(ops);
        auto *fieldLabel = new QLabel(QStringLiteral("&Field name:"), ops);
        TC_F_Name = new QLineEdit(ops);
        TC_F_Name->setObjectName(QStringLiteral("TC_F_Name"));
        fieldLabel->setBuddy(TC_F_Name);
        auto *typeLabel = new QLabel(QStringLiteral("&Type:"), ops);
        TC_F_TYPE = new QComboBox(ops);
        TC_F_TYPE->setObjectName(QStringLiteral("TC_F_TYPE"));
        TC_F_TYPE->setEditable(true);
        TC_F_TYPE->setMaxVisibleItems(8);
        TC_F_TYPE->setIconSize(QSize(16, 16));
        TC_F_TYPE->addItem(ui::icon(QStringLiteral("typechar")), QStringLiteral("CHAR"));
        for (const char *type : {"FLOAT", "DOUBLE", "TINYINT", "SMALLINT", "MEDIUMINT", "INT",
                                 "BIGINT", "MEDIUMBLOB", "MEDIUMTEXT"})
            TC_F_TYPE->addItem(ui::icon(QStringLiteral("typenum")), QString::fromLatin1(type));
        TC_F_TYPE->setCurrentIndex(0);
        typeLabel->setBuddy(TC_F_TYPE);
        // Read as "Type", not only by its current value; its edit part too.
        TC_F_TYPE->setAccessibleName(QStringLiteral("Type"));
        TC_F_TYPE->lineEdit()->setAccessibleName(QStringLiteral("Type"));
        TC_F_TYPE->lineEdit()->setObjectName(QStringLiteral("TC_F_TYPE_edit"));
        auto *sizeLabel = new QLabel(QStringLiteral("&Size:"), ops);
        TC_F_SIZE = new QLineEdit(QStringLiteral("255"), ops);
        TC_F_SIZE->setObjectName(QStringLiteral("TC_F_SIZE"));
        sizeLabel->setBuddy(TC_F_SIZE);
        grid->addWidget(fieldLabel, 0, 0);
        grid->addWidget(TC_F_Name, 0, 1);
        grid->addWidget(typeLabel, 1, 0);
        grid->addWidget(TC_F_TYPE, 1, 1);
        grid->addWidget(sizeLabel, 2, 0);
        grid->addWidget(TC_F_SIZE, 2, 1);
        auto *addField =
            ui::flatButton(ops, QStringLiteral("SpeedButton16"), QStringLiteral("Add this Field"),
                           QStringLiteral("fieldadd"));
        addField->setIconSize(QSize(20, 20));
        connect(addField, &QAbstractButton::clicked, this, &Ttolvar::SpeedButton16Click);
        grid->addWidget(addField, 3, 1, Qt::AlignRight);
        right->addWidget(ops);

        auto *action = new QGroupBox(QStringLiteral("Action"), w);
        auto *actionLayout = new QHBoxLayout(action);
        actionLayout->addWidget(pictureLabel(QStringLiteral("tablecreate"), action));
        auto *create =
            ui::flatButton(action, QStringLiteral("SpeedButton15"),
                           QStringLiteral("Create.... My Tolvar."), QStringLiteral("ok"));
        create->setIconSize(QSize(20, 20));
        connect(create, &QAbstractButton::clicked, this, &Ttolvar::SpeedButton15Click);
        actionLayout->addWidget(create, 1);
        right->addWidget(action);
        right->addStretch(1);
        columns->addLayout(right, 1);
        layout->addLayout(columns, 1);
    }
    // 4, 5 (built in tolvar_tables.cpp with 9)
    QWidget *removePage = page("Table_Remove");
    QWidget *renamePage = page("Table_Rename");
    // 6 Welcome
    {
        QWidget *w = page("Welcome");
        auto *layout = new QVBoxLayout(w);
        layout->addStretch(1);
        layout->addWidget(pictureLabel(QStringLiteral("welcome"), w), 0, Qt::AlignHCenter);
        auto *info = new QGridLayout;
        info->addWidget(new QLabel(QStringLiteral("Server version:"), w), 0, 0, Qt::AlignRight);
        Server_info = new QLabel(w);
        Server_info->setObjectName(QStringLiteral("Server_info"));
        info->addWidget(Server_info, 0, 1);
        info->addWidget(new QLabel(QStringLiteral("Host info:"), w), 1, 0, Qt::AlignRight);
        Host_info = new QLabel(w);
        Host_info->setObjectName(QStringLiteral("Host_info"));
        info->addWidget(Host_info, 1, 1);
        info->addWidget(new QLabel(QStringLiteral("Encryption:"), w), 2, 0, Qt::AlignRight);
        Tls_info = new QLabel(w);
        Tls_info->setObjectName(QStringLiteral("Tls_info"));
        info->addWidget(Tls_info, 2, 1);
        info->setColumnStretch(1, 1);
        info->setColumnMinimumWidth(1, 200);
        auto *centre = new QHBoxLayout;
        centre->addStretch(1);
        centre->addLayout(info);
        centre->addStretch(1);
        layout->addLayout(centre);
        layout->addStretch(2);
    }
    // 7 Table_List
    {
        QWidget *w = page("Table_List");
        auto *layout = new QVBoxLayout(w);
        layout->setContentsMargins(0, 0, 0, 0);
        Panel6 = new TCaptionPanel(QStringLiteral("Panel6"), QStringLiteral("Current Database: "),
                                   QStringLiteral("dbview"), w);
        QFont f16 = font();
        f16.setPixelSize(16);
        Panel6->CaptionLabel()->setFont(f16);
        setBackground(Panel6, QColor(240, 255, 255));
        layout->addWidget(Panel6);
        Label2 = new QLabel(w);
        Label2->setObjectName(QStringLiteral("Label2"));
        Label2->setAlignment(Qt::AlignCenter);
        layout->addWidget(Label2);
        Table_list = new TListWidget(w);
        Table_list->setObjectName(QStringLiteral("Table_list"));
        Table_list->setAccessibleName(QStringLiteral("Table_list"));
        Table_list->setViewMode(QListView::IconMode);
        Table_list->setIconSize(QSize(32, 32));
        Table_list->setGridSize(QSize(96, 64));
        Table_list->setResizeMode(QListView::Adjust);
        Table_list->setMovement(QListView::Static);
        Table_list->setSpacing(12);
        // A database of thousands of tables: the list lays them out in batches between events
        // instead of all at once.
        Table_list->setLayoutMode(QListView::Batched);
        Table_list->setBatchSize(500);
        Table_list->setFrameShape(QFrame::NoFrame);
        Table_list->setViewportMargins(50, 50, 50, 50); // the list's inner border
        setBackground(Table_list, Qt::white);
        Table_list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(Table_list, &QListWidget::currentItemChanged, this,
                [this](QListWidgetItem *current) { Table_listChange(current); });
        Table_List_popup = new QMenu(this);
        Table_List_popup->setObjectName(QStringLiteral("Table_List_popup"));
        addTableCommands(Table_List_popup, true);
        connect(Table_list, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
            // The table under the pointer is the one the entries act on.
            if (QListWidgetItem *item = Table_list->itemAt(pos))
                m_currentTable = {m_listDatabase, item->text()};
            Table_List_popup->popup(Table_list->viewport()->mapToGlobal(pos));
        });
        layout->addWidget(Table_list, 1);
    }
    // 8 Database_Deleted
    {
        QWidget *w = page("Database_Deleted");
        auto *layout = new QVBoxLayout(w);
        layout->addStretch(1);
        QFont f = font();
        f.setPixelSize(19);
        f.setBold(true);
        auto *deleted = new QLabel(QStringLiteral("Database Deleted"), w);
        deleted->setFont(f);
        layout->addWidget(deleted, 0, Qt::AlignHCenter);
        layout->addWidget(new QLabel(QStringLiteral("You may now refresh list."), w), 0,
                          Qt::AlignHCenter);
        layout->addWidget(toolButton(w, QStringLiteral("SpeedButton21"), QStringLiteral("refresh"),
                                     QStringLiteral("Refresh list"), &Ttolvar::SpeedButton21Click),
                          0, Qt::AlignHCenter);
        layout->addStretch(2);
    }
    buildTablePages(removePage, renamePage, nullptr);
}

void Ttolvar::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(true);
    const int widths[5] = {100, 100, 100, 100, 50};
    // Read by their text; the description says what an empty panel is for.
    const char *roles[5] = {"Connection", "Current database", "Current table", "Unused",
                            "Query message"};
    for (int i = 0; i < 5; ++i) {
        auto *panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i + 1));
        panel->setAccessibleDescription(QString::fromLatin1(roles[i]));
        panel->setFixedWidth(widths[i]);
        panel->setFrameStyle(QFrame::Panel | (i == 4 ? QFrame::Raised : QFrame::Sunken));
        if (i == 4) panel->setAlignment(Qt::AlignCenter);
        bar->addWidget(panel);
        m_panels[i] = panel;
    }
    m_panels[0]->setText(QStringLiteral("Disconnected"));
}

QLabel *Ttolvar::StatusPanel(int panel) const
{
    return panel >= 1 && panel <= 5 ? m_panels[panel - 1] : nullptr;
}

QString Ttolvar::PanelText(int panel) const
{
    QLabel *label = StatusPanel(panel);
    return label ? label->text() : QString();
}

void Ttolvar::setPanelText(int panel, const QString &text)
{
    if (QLabel *label = StatusPanel(panel)) {
        label->setText(text);
        label->setToolTip(text); // the panels are narrow: the whole text stays reachable
        if (panel == 5)
            label->setAccessibleDescription(text.isEmpty() ? QStringLiteral("Query message")
                                                           : text);
    }
}

QAbstractButton *Ttolvar::button(const QString &objectName) const
{
    return findChild<QAbstractButton *>(objectName);
}

QAction *Ttolvar::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void Ttolvar::FormCreate()
{
    ShowPage(Welcome);
    // The activity log starts empty at every run.
    try {
        m_log.create(QStringLiteral("log.ini"));
    } catch (const TFileError &error) {
        m_logReported = true;
        reportLater(QString::fromStdString(error.what()));
    }
}

void Ttolvar::FormClose()
{
    m_log.close();
}

void Ttolvar::reportLater(const QString &text)
{
    // Shown once the current handler has finished, so it never stops one half way.
    QTimer::singleShot(0, this, [this, text] { ui::showAppError(this, text); });
}

bool Ttolvar::eventFilter(QObject *watched, QEvent *event)
{
    // Esc in the filter edit removes the filter.
    if (watched == Where_edit && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        Where_edit->clear();
        applyFilter();
        return true;
    }
    if (watched == Mgrid && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape && m_readsRunning > 0) {
        StopClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Ttolvar::closeEvent(QCloseEvent *event)
{
    // Changes pending in the grid, and an open transaction in the SQL editor, are settled, or
    // the program stays.
    if ((m_edit && !m_edit->mayLeave()) || (m_editor && !m_editor->releaseConnection())) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
    // The tool windows do not keep the program alive: closing this window ends it.
    QCoreApplication::quit();
}

void Ttolvar::ShowPage(Page page)
{
    Notebook->setCurrentIndex(page);
}

void Ttolvar::Connect1Click()
{
    if (!m_login) return;
    m_login->show();
    m_login->raise();
}

void Ttolvar::Settings1Click()
{
    if (!m_settings) return;
    m_settings->show();
    m_settings->raise();
}

void Ttolvar::Quit1Click()
{
    close();
}

void Ttolvar::SqlEditor1Click()
{
    if (m_editor) m_editor->showFor(PanelText(2));
}

void Ttolvar::ServerActivity1Click()
{
    if (m_activity) m_activity->showWindow();
}

void Ttolvar::ConsoleWindow1Click()
{
    if (!m_console) return;
    m_console->show();
    m_console->raise();
}

void Ttolvar::informacjeClick()
{
    if (!m_about) return;
    m_about->show();
    m_about->raise();
}

void Ttolvar::Add1Click()
{
    ShowPage(Database_Add);
}

void Ttolvar::Delete1Click()
{
    m_confirmDatabase = PanelText(2);
    Data_name_caption->setText(m_confirmDatabase + QStringLiteral(" ?"));
    ShowPage(Database_Remove);
}

void Ttolvar::SpeedButton7Click()
{
    ShowPage(Welcome);
}

void Ttolvar::SpeedButton11Click()
{
    ShowPage(Table_Add);
}
