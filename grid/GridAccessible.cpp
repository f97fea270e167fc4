#include "GridAccessible.h"

#include "StringGrid.h"

#include <QAbstractItemModel>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QHeaderView>
#include <QPointer>

namespace {
class TGridAccessible;

// One cell, addressed by the grid's own column and row (fixed rows included).
class TGridCellAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface
{
public:
    TGridCellAccessible(TStringGrid *grid, int col, int row) : m_grid(grid), m_col(col), m_row(row)
    {
    }

    bool isValid() const override
    {
        return m_grid && m_col < m_grid->ColCount() && m_row < m_grid->RowCount();
    }
    QObject *object() const override { return nullptr; }
    QAccessibleInterface *parent() const override
    {
        return m_grid ? QAccessible::queryAccessibleInterface(m_grid) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid()) return {};
        if (t == QAccessible::Name || t == QAccessible::Value)
            return m_grid->ShownText(m_col, m_row);
        if (t == QAccessible::Description) {
            const TStringGrid::TCellMark mark = m_grid->Mark(m_col, m_row);
            if (!mark.Description.isEmpty()) return mark.Description;
            if (m_grid->CellIsNull(m_col, m_row)) return QStringLiteral("NULL");
        }
        return {};
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        if (!isValid()) return {};
        const QRect cell = m_grid->CellRect(m_col, m_row);
        if (cell.isEmpty()) return {};
        return QRect(m_grid->viewport()->mapToGlobal(cell.topLeft()), cell.size());
    }
    QAccessible::Role role() const override
    {
        return header() ? QAccessible::ColumnHeader : QAccessible::Cell;
    }
    QAccessible::State state() const override
    {
        QAccessible::State st;
        if (!isValid()) {
            st.invalid = true;
            return st;
        }
        st.selectable = !header();
        st.focusable = !header();
        st.readOnly = true;
        st.selected = isSelected();
        st.focused = st.selected && m_grid->hasFocus();
        if (m_grid->CellRect(m_col, m_row).isEmpty()) {
            st.invisible = true;
            st.offscreen = true;
        }
        return st;
    }
    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface *>(this);
        return nullptr;
    }

    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QList<QAccessibleInterface *> columnHeaderCells() const override;
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_col; }
    int rowIndex() const override { return m_grid ? m_row - m_grid->HeaderRows() : -1; }
    bool isSelected() const override
    {
        return isValid() && !header() && m_grid->CurrentMarked() && m_col == m_grid->Col() &&
               m_row == m_grid->Row();
    }
    QAccessibleInterface *table() const override { return parent(); }

private:
    bool header() const { return m_grid && m_row < m_grid->HeaderRows(); }

    QPointer<TStringGrid> m_grid;
    int m_col;
    int m_row;
};

class TGridAccessible : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit TGridAccessible(TStringGrid *grid) : QAccessibleWidget(grid, QAccessible::Table)
    {
        QObject::connect(grid, &TStringGrid::cellsReset, grid, [this, grid] {
            forgetCells();
            QAccessibleTableModelChangeEvent event(grid,
                                                   QAccessibleTableModelChangeEvent::ModelReset);
            QAccessible::updateAccessibility(&event);
        });
        QObject::connect(grid, &TStringGrid::rowsAppended, grid, [grid](int first, int last) {
            QAccessibleTableModelChangeEvent event(grid,
                                                   QAccessibleTableModelChangeEvent::RowsInserted);
            event.setFirstRow(first);
            event.setLastRow(last);
            QAccessible::updateAccessibility(&event);
        });
        QObject::connect(grid, &TStringGrid::currentCellChanged, grid, [this, grid](int c, int r) {
            // Said to the screen reader as the current cell's focus and selection.
            const int index = visibleIndex(c, r);
            QAccessibleEvent selection(grid, QAccessible::Selection);
            selection.setChild(index);
            QAccessible::updateAccessibility(&selection);
            if (grid->hasFocus()) {
                QAccessibleEvent focus(grid, QAccessible::Focus);
                focus.setChild(index);
                QAccessible::updateAccessibility(&focus);
            }
        });
    }
    ~TGridAccessible() override { forgetCells(); }

    TStringGrid *grid() const { return static_cast<TStringGrid *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? widget()->objectName() : name;
        }
        return QAccessibleWidget::text(t);
    }

    // Children: the header cells, then the cells of the rows on screen (a grid of a million rows
    // is not a million children); cellAt reaches every cell.
    int headerCount() const { return grid()->HeaderRows() > 0 ? grid()->ColCount() : 0; }
    int visibleRows() const { return grid()->VisibleRowCount(); }
    int childCount() const override
    {
        return headerCount() + std::max(visibleRows(), 0) * grid()->ColCount();
    }
    QAccessibleInterface *child(int index) const override
    {
        const int cols = grid()->ColCount();
        if (index < 0 || cols <= 0) return nullptr;
        if (index < headerCount()) return cell(index, 0);
        index -= headerCount();
        const int row = grid()->TopRow() + index / cols;
        if (index / cols >= visibleRows()) return nullptr;
        return cell(index % cols, row);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *cellInterface = const_cast<QAccessibleInterface *>(child)->tableCellInterface();
        if (!cellInterface) return -1;
        return visibleIndex(cellInterface->columnIndex(),
                            cellInterface->rowIndex() + grid()->HeaderRows());
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QPoint local = grid()->viewport()->mapFromGlobal(QPoint(x, y));
        int col = 0, row = 0;
        if (!grid()->MouseToCell(local, col, row)) return nullptr;
        return cell(col, row);
    }

    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override
    {
        const int gridRow = row + grid()->HeaderRows();
        if (row < 0 || column < 0 || column >= grid()->ColCount() || gridRow >= grid()->RowCount())
            return nullptr;
        return cell(column, gridRow);
    }
    int selectedCellCount() const override { return selectedCells().size(); }
    QList<QAccessibleInterface *> selectedCells() const override
    {
        if (!grid()->CurrentMarked() || grid()->Row() < grid()->HeaderRows()) return {};
        return {cell(grid()->Col(), grid()->Row())};
    }
    QString columnDescription(int column) const override
    {
        return grid()->HeaderRows() > 0 ? grid()->DisplayText(column, 0) : QString();
    }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return 0; }
    int columnCount() const override { return grid()->ColCount(); }
    int rowCount() const override { return grid()->RowCount() - grid()->HeaderRows(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int) const override { return false; }
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *) override {}

    QAccessibleInterface *cell(int col, int row) const
    {
        const quint64 key =
            (static_cast<quint64>(static_cast<quint32>(row)) << 32) | static_cast<quint32>(col);
        const auto found = m_cells.constFind(key);
        if (found != m_cells.constEnd()) return QAccessible::accessibleInterface(*found);
        // Cells read while scrolling through a long table are not kept for ever.
        if (m_cells.size() > 8192) const_cast<TGridAccessible *>(this)->forgetCells();
        auto *iface = new TGridCellAccessible(grid(), col, row);
        m_cells.insert(key, QAccessible::registerAccessibleInterface(iface));
        return iface;
    }

private:
    int visibleIndex(int col, int row) const
    {
        const int cols = grid()->ColCount();
        if (row < grid()->HeaderRows()) return row == 0 ? col : -1;
        const int offset = row - grid()->TopRow();
        if (offset < 0 || offset >= visibleRows()) return -1;
        return headerCount() + offset * cols + col;
    }
    void forgetCells()
    {
        for (const QAccessible::Id id : std::as_const(m_cells))
            QAccessible::deleteAccessibleInterface(id);
        m_cells.clear();
    }

    mutable QHash<quint64, QAccessible::Id> m_cells;
};

QList<QAccessibleInterface *> TGridCellAccessible::columnHeaderCells() const
{
    if (!m_grid || m_grid->HeaderRows() == 0) return {};
    auto *table = static_cast<TGridAccessible *>(QAccessible::queryAccessibleInterface(m_grid));
    return table ? QList<QAccessibleInterface *>{table->cell(m_col, 0)}
                 : QList<QAccessibleInterface *>{};
}

// One section of a stand-alone header strip.
class TSectionAccessible : public QAccessibleInterface
{
public:
    TSectionAccessible(QHeaderView *header, int section) : m_header(header), m_section(section) {}
    bool isValid() const override { return m_header && m_section < m_header->count(); }
    QObject *object() const override { return nullptr; }
    QAccessibleInterface *parent() const override
    {
        return m_header ? QAccessible::queryAccessibleInterface(m_header) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid() || !m_header->model() || (t != QAccessible::Name && t != QAccessible::Value))
            return {};
        return m_header->model()->headerData(m_section, m_header->orientation()).toString();
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        if (!isValid()) return {};
        const int x = m_header->sectionViewportPosition(m_section);
        const QRect local(x, 0, m_header->sectionSize(m_section), m_header->height());
        return QRect(m_header->viewport()->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::ColumnHeader; }
    QAccessible::State state() const override
    {
        QAccessible::State st;
        st.readOnly = true;
        if (isValid() && m_header->sectionViewportPosition(m_section) > m_header->width())
            st.offscreen = true;
        return st;
    }

private:
    QPointer<QHeaderView> m_header;
    int m_section;
};

class THeaderStripAccessible : public QAccessibleWidget
{
public:
    explicit THeaderStripAccessible(QHeaderView *header)
        : QAccessibleWidget(header, QAccessible::List)
    {
    }
    ~THeaderStripAccessible() override { forget(); }
    QHeaderView *header() const { return static_cast<QHeaderView *>(widget()); }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? widget()->objectName() : name;
        }
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return header()->count(); }
    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= header()->count()) return nullptr;
        if (m_sections.size() != header()->count())
            const_cast<THeaderStripAccessible *>(this)->forget();
        if (m_sections.isEmpty())
            for (int i = 0; i < header()->count(); ++i)
                m_sections << QAccessible::registerAccessibleInterface(
                    new TSectionAccessible(header(), i));
        return QAccessible::accessibleInterface(m_sections.at(index));
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (int i = 0; i < m_sections.size(); ++i)
            if (QAccessible::accessibleInterface(m_sections.at(i)) == child) return i;
        return -1;
    }

private:
    void forget()
    {
        for (const QAccessible::Id id : std::as_const(m_sections))
            QAccessible::deleteAccessibleInterface(id);
        m_sections.clear();
    }
    mutable QList<QAccessible::Id> m_sections;
};

QAccessibleInterface *factory(const QString &, QObject *object)
{
    if (!object || !object->isWidgetType()) return nullptr;
    if (auto *grid = qobject_cast<TStringGrid *>(object)) return new TGridAccessible(grid);
    auto *header = qobject_cast<QHeaderView *>(object);
    if (header && !qobject_cast<QAbstractItemView *>(header->parentWidget()))
        return new THeaderStripAccessible(header);
    return nullptr;
}
} // namespace

namespace grid_accessible {
void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}
} // namespace grid_accessible
