#pragma once
// Language files applied to windows. A language file (Lang/<code>/vtlang.ini) names the
// components of a window by their object names, without regard to case, and gives each a
// text: a section applies either the text a component shows ("Caption") or its tool tip
// ("Hint"). Keys that name no component, or a component without that kind of text (an
// edit field has no caption), are skipped.
//
// What "Caption" sets: a label's or a button's text, a group box's title, a menu's title,
// an action's text, the title of the tab that shows a tab page, a window's title.
// What "Hint" sets: a widget's tool tip, an action's tool tip and status-bar tip, the tool
// tip of a page's tab.
#include "core/Ini.h"
#include "i18n/StringTable.h"

#include <QStringList>

class QAbstractItemModel;
class QObject;
class QWidget;

namespace i18n {

enum class TextKind { Caption, Hint };

// Sets the text of that kind; false when the component has none.
bool setComponentText(QObject *component, TextKind kind, const QString &text);

// Applies every key of `section` to the component of `window` (the window included) that it
// names. Returns the number of keys applied.
int applyLanguageSection(QWidget *window, const core::Ini &languageFile, const QString &section, TextKind kind);

// Column titles from keys "c0", "c1", … of `section`; a missing key keeps the current title.
void applyColumnTitles(QAbstractItemModel &model, const core::Ini &languageFile, const QString &section);

// Holds off a window's repainting while a language is applied; released however the scope is left.
class RepaintHold {
public:
    explicit RepaintHold(QWidget *window);
    ~RepaintHold();
    RepaintHold(const RepaintHold &) = delete;
    RepaintHold &operator=(const RepaintHold &) = delete;

private:
    QWidget *m_window;
    bool m_wasEnabled;
};

}  // namespace i18n
