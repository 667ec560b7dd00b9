#pragma once
// The about box: product name and version, a link to the maker's web site and one to the
// support mail. A fixed-size dialog, centred on its parent when shown; always English, the
// language files do not reach it. Object names: frmAbout, Label1 (name), Label4 (version),
// Button1 (close), UrlLabel1 (web site), UrlLabel2 (mail).

#include <QDialog>

namespace i18n {

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    AboutDialog(const QString &version, const QString &webAddress, const QString &supportAddress,
                QWidget *parent = nullptr);
};

}  // namespace i18n
