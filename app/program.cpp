#include "program.h"

#include "Informacje.h"
#include "konsola.h"
#include "login_window.h"
#include "settings.h"
#include "sql_editor.h"
#include "tolvar_window.h"

TProgram::TProgram()
{
    tolvar = std::make_unique<Ttolvar>();
    login = std::make_unique<Tlogin>(tolvar->mysql);
    settings_form = std::make_unique<Tsettings_form>();
    console = std::make_unique<Tconsole>(tolvar->mysql);
    Informacjon = std::make_unique<TInformacjon>();
    tolvar->attachWindows(login.get(), settings_form.get(), console.get(), Informacjon.get());
    editor = std::make_unique<TSqlEditor>(tolvar->mysql);
    tolvar->attachEditor(editor.get());
    editor->setExporter(
        [window = tolvar.get()](const TStringGrid *grid, const std::vector<TmySQLFieldInfo> &fields,
                                const QString &name) { window->exportRows(grid, fields, name); });
}

TProgram::~TProgram()
{
    // The secondary windows hold the main window's client; they go first.
    tolvar->attachEditor(nullptr);
    editor.reset();
    Informacjon.reset();
    console.reset();
    settings_form.reset();
    login.reset();
    tolvar.reset();
}
