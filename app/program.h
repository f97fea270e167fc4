#pragma once

#include <memory>

class Ttolvar;
class Tlogin;
class Tsettings_form;
class Tconsole;
class TInformacjon;
class TSqlEditor;
class TServerActivity;

// The program's five windows, created in their fixed order: the main window first, then the
// login dialog, the settings dialog, the console and the About window, all hidden; and the SQL
// editor and the server activity window, made last.
struct TProgram
{
    TProgram();
    ~TProgram();
    std::unique_ptr<Ttolvar> tolvar;
    std::unique_ptr<Tlogin> login;
    std::unique_ptr<Tsettings_form> settings_form;
    std::unique_ptr<Tconsole> console;
    std::unique_ptr<TInformacjon> Informacjon;
    std::unique_ptr<TSqlEditor> editor;
    std::unique_ptr<TServerActivity> activity;
};
