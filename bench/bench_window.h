#pragma once

// The main window connected to the sandbox with the benchmark database chosen, for the
// benchmarks that drive it.
#include "bench_common.h"
#include "common.h"
#include "tolvar_window.h"

#include <QListWidget>
#include <QTreeWidget>

namespace bench {
inline void noBox(QWidget *, const QString &) {}

// The table list item of the named table, or null when the window did not get there.
inline QListWidgetItem *openBenchTableList(Ttolvar &w, const QString &table)
{
    Server s;
    ui::setErrorShower(noBox); // no settings.ini here: the start-up step's report is answered
    w.mysql->setHostname(s.host);
    w.mysql->setUsername(s.user);
    w.mysql->setPassword(s.password);
    w.mysql->setPort(s.port);
    w.show();
    w.mysql->Connect();
    if (!waitFor([&] { return w.Tree_view->topLevelItemCount() > 0; }, 20000)) return nullptr;
    QTreeWidgetItem *db = nullptr;
    for (int i = 0; i < w.Tree_view->topLevelItemCount(); ++i)
        if (w.Tree_view->topLevelItem(i)->text(0) == QLatin1String("quorvane_bench"))
            db = w.Tree_view->topLevelItem(i);
    if (!db) return nullptr;
    w.Tree_view->setCurrentItem(db);
    if (!waitFor([&] { return w.listDatabase() == QLatin1String("quorvane_bench"); }, 20000))
        return nullptr;
    return w.Table_list->findItems(table, Qt::MatchExactly).value(0);
}
} // namespace bench
