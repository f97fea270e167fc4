#include "program.h"
#include "tolvar_window.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationName(QStringLiteral("MySQL Quorvane"));
    TProgram program;
    program.tolvar->show();
    return app.exec();
}
