#include "i18n/LanguageApply.h"

#include "i18n/LanguageFile.h"

#include <QAbstractButton>
#include <algorithm>
#include <QAbstractItemModel>
#include <QAction>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QSet>
#include <QTabWidget>

namespace i18n {

namespace {

// The tab widget that shows `page` as one of its tabs, and the tab's index.
QTabWidget *tabOfPage(QWidget *page, int *index)
{
    // A page's parent is the tab widget's internal stack.
    QWidget *stack = page->parentWidget();
    auto *tabs = stack ? qobject_cast<QTabWidget *>(stack->parentWidget()) : nullptr;
    if (!tabs)
        return nullptr;
    *index = tabs->indexOf(page);
    return *index >= 0 ? tabs : nullptr;
}

bool setCaption(QObject *component, const QString &text)
{
    if (auto *action = qobject_cast<QAction *>(component)) {
        action->setText(text);
        return true;
    }
    if (auto *menu = qobject_cast<QMenu *>(component)) {
        menu->setTitle(text);
        return true;
    }
    if (auto *label = qobject_cast<QLabel *>(component)) {
        label->setText(text);
        return true;
    }
    if (auto *button = qobject_cast<QAbstractButton *>(component)) {
        button->setText(text);
        return true;
    }
    if (auto *group = qobject_cast<QGroupBox *>(component)) {
        group->setTitle(text);
        return true;
    }
    auto *widget = qobject_cast<QWidget *>(component);
    if (!widget)
        return false;
    int index = -1;
    if (QTabWidget *tabs = tabOfPage(widget, &index)) {
        tabs->setTabText(index, text);
        return true;
    }
    if (widget->isWindow()) {
        widget->setWindowTitle(text);
        return true;
    }
    return false;
}

bool setHint(QObject *component, const QString &text)
{
    if (auto *action = qobject_cast<QAction *>(component)) {
        action->setToolTip(text);
        action->setStatusTip(text);
        return true;
    }
    auto *widget = qobject_cast<QWidget *>(component);
    if (!widget)
        return false;
    if (auto *menu = qobject_cast<QMenu *>(widget))
        menu->menuAction()->setStatusTip(text);
    int index = -1;
    if (QTabWidget *tabs = tabOfPage(widget, &index))
        tabs->setTabToolTip(index, text);
    else
        widget->setToolTip(text);
    return true;
}

}  // namespace

bool setComponentText(QObject *component, TextKind kind, const QString &text)
{
    return kind == TextKind::Caption ? setCaption(component, text) : setHint(component, text);
}

int applyLanguageSection(QWidget *window, const core::Ini &languageFile, const QString &section, TextKind kind)
{
    const std::vector<core::Ini::Section> sections = languageFile.parseAll();
    const auto found = std::find_if(sections.begin(), sections.end(), [&](const core::Ini::Section &s) {
        return s.name.compare(section, Qt::CaseInsensitive) == 0;
    });
    if (found == sections.end() || found->entries.empty())
        return 0;

    // The first component of a name wins, the window itself before its children.
    QHash<QString, QObject *> byName;
    byName.insert(window->objectName().toLower(), window);
    const QList<QObject *> children = window->findChildren<QObject *>();
    for (QObject *child : children) {
        const QString name = child->objectName().toLower();
        if (!name.isEmpty() && !byName.contains(name))
            byName.insert(name, child);
    }

    // Applied from the values parsed above, in one pass. A repeated key keeps its first
    // value, as every reader of the file does: each component is set once.
    int applied = 0;
    QSet<QString> seen;
    seen.reserve(qsizetype(found->entries.size()));
    for (const core::Ini::Entry &entry : found->entries) {
        const QString name = entry.key.toLower();
        if (seen.contains(name))
            continue;
        seen.insert(name);
        QObject *component = byName.value(name);
        if (component && setComponentText(component, kind, entry.value))
            ++applied;
    }
    return applied;
}

void applyColumnTitles(QAbstractItemModel &model, const core::Ini &languageFile, const QString &section)
{
    for (int column = 0; column < model.columnCount(); ++column) {
        const QString key = langfile::columnKey(column);
        if (const std::optional<QString> title = languageFile.value(section, key))
            model.setHeaderData(column, Qt::Horizontal, *title);
    }
}

RepaintHold::RepaintHold(QWidget *window) : m_window(window), m_wasEnabled(window->updatesEnabled())
{
    m_window->setUpdatesEnabled(false);
}

RepaintHold::~RepaintHold()
{
    m_window->setUpdatesEnabled(m_wasEnabled);
}

}  // namespace i18n
