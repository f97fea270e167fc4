#include "program.h"
#include "ssh_tunnel.h"
#include "tolvar_window.h"

#include <QApplication>

#include <unistd.h>

int main(int argc, char *argv[])
{
    // Started by ssh to ask for a passphrase or a host key: the running program answers.
    // Ended at once: nothing of the program's own start or end runs in this short helper.
    if (const int answered = sshtunnel::runAskpassIfAsked(argc, argv); answered >= 0)
        ::_exit(answered);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationName(QStringLiteral("MySQL Quorvane"));
    TProgram program;
    program.tolvar->show();
    return app.exec();
}
