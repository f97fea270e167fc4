// The export of the database tree to a text file.
#include "tolvar_window.h"

#include "common.h"

#include <QDir>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

void Ttolvar::oTXTfile1Click()
{
    ui::SaveDialogOptions options;
    options.directory = QDir::homePath();
    options.fileName = QDir::home().filePath(QStringLiteral("data.txt"));
    options.filter = QStringLiteral("Text File (*.txt)");
    options.defaultSuffix = QStringLiteral("txt");
    const QString path = ui::getSaveFileName(this, options);
    if (path.isEmpty()) return;
    try {
        TLineFile file;
        file.create(path);
        file.writeLine(QStringLiteral("MySQL Quorvane Database List"));
        // Every node in display order, collapsed branches included.
        for (QTreeWidgetItemIterator it(Tree_view); *it; ++it)
            file.writeLine((*it)->text(0));
        file.close();
    } catch (const TFileError &error) {
        ui::showAppError(this, QString::fromStdString(error.what()));
    }
}
