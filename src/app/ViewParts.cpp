#include "app/ViewParts.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>

namespace app {

QLabel *boldLabel(const QString &objectName, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    return label;
}

QLabel *valueLabel(const QString &objectName, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QTreeView *reportView(const QString &objectName, QWidget *parent)
{
    auto *view = new QTreeView(parent);
    view->setObjectName(objectName);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->header()->setStretchLastSection(true);
    view->header()->setSectionsMovable(false);
    return view;
}

void bindDeleteKey(QAction *deleteCommand, QWidget *list)
{
    deleteCommand->setShortcut(QKeySequence::Delete);
    deleteCommand->setShortcutContext(Qt::WidgetShortcut);
    list->addAction(deleteCommand);
}

int selectedRow(const QTreeView *view)
{
    const QModelIndexList rows = view->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

QColor statusColour(StatusKind kind)
{
    switch (kind) {
    case StatusKind::Stopped: return Qt::black;
    case StatusKind::Warning: return QColor(200, 120, 0);
    default: return Qt::red;
    }
}

}  // namespace app
