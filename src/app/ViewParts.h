#pragma once
// Small widget makers the window's tabs share.

#include "app/Recorder.h"

#include <QColor>
#include <QString>

class QAction;
class QLabel;
class QTreeView;
class QWidget;

namespace app {

QLabel *boldLabel(const QString &objectName, const QString &text, QWidget *parent);
QLabel *valueLabel(const QString &objectName, const QString &text, QWidget *parent);
// A list with columns that holds no data of its own: one row selected at a time, a
// context menu of the caller's.
QTreeView *reportView(const QString &objectName, QWidget *parent);
// The Delete key runs the list's delete command while the list has the focus.
void bindDeleteKey(QAction *deleteCommand, QWidget *list);
// The row selected in a list, or -1.
int selectedRow(const QTreeView *view);
// The colour the status line is shown in: black stopped, amber with a warning, red otherwise.
QColor statusColour(StatusKind kind);

}  // namespace app
