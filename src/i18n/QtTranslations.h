#pragma once
// Qt's own texts (the file dialogs' labels and buttons, the names of keys in shortcuts, the
// edit fields' context menus) in the chosen language, from the translations Qt ships
// (qtbase_<locale>.qm in Qt's translations folder). Main thread only.
#include <QString>
#include <QTranslator>

#include <memory>

namespace i18n {

class QtTranslations {
public:
    ~QtTranslations();

    // Switches Qt's texts to `locale` ("de", "ru"); empty, or one Qt has no translation for,
    // gives Qt's built-in English. False when a translation was asked for and not found
    // (*folder then names where it was looked for).
    bool use(const QString &locale, QString *folder = nullptr);

private:
    std::unique_ptr<QTranslator> m_translator;
    QString m_locale;
};

}  // namespace i18n
