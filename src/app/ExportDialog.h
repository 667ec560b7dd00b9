#pragma once
// "Export span": From and To, a pre-roll and a post-roll, the file to write, and the export
// running on a thread of its own (ledger::ExportJob) with a progress bar, the gaps it met
// and how it ended. The window only shows the job's state, read by a timer, and forwards
// Export and Cancel to it. Closing the dialog cancels a running export and leaves no file.
//
// Object names for the language files (sections Form.Export and Form.Export.Hints):
// frmExport, lblFrom, edFrom, lblTo, edTo, lblPreRoll, edPreRoll, lblPostRoll, edPostRoll,
// lblFile, edFile, btnFile, pbExport, lbExportLog, btnExport, btnCancel, btnClose.

#include "i18n/StringTable.h"

#include <QDateTime>
#include <QDialog>

#include <memory>

class QDateTimeEdit;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

namespace ledger {
class ExportJob;
class Ledger;
struct ExportGap;
}  // namespace ledger

namespace app {

// "2026-12-09_10-00-00_10-30-00.wav": the span's times, the day of its end only when it
// differs from that of its start.
QString exportFileName(const QDateTime &from, const QDateTime &to);

class ExportDialog : public QDialog {
    Q_OBJECT
public:
    // `ledger` must outlive the dialog; `folder` is where the file goes by default.
    ExportDialog(ledger::Ledger &ledger, const QString &programFolder, const i18n::StringTable &texts,
                 const QDateTime &from, const QDateTime &to, const QString &folder, QWidget *parent = nullptr);
    ~ExportDialog() override;

    void reject() override;

private:
    void buildFields(const QDateTime &from, const QDateTime &to, const QString &folder);
    void buildButtons();
    QDateTime spanStart() const;
    QDateTime spanEnd() const;
    void suggestFileName();
    void chooseFile();
    void startExport();
    void showProgress();
    void say(const QString &line);
    QString gapText(const ledger::ExportGap &gap) const;
    void setRunning(bool running);

    ledger::Ledger &m_ledger;
    QString m_programFolder;
    i18n::StringTable m_texts;
    bool m_fileChosen = false;  // the user named the file: the times no longer rename it
    std::unique_ptr<ledger::ExportJob> m_job;

    QDateTimeEdit *m_from = nullptr;
    QDateTimeEdit *m_to = nullptr;
    QSpinBox *m_preRoll = nullptr;
    QSpinBox *m_postRoll = nullptr;
    QLineEdit *m_file = nullptr;
    QPushButton *m_chooseFile = nullptr;
    QProgressBar *m_progress = nullptr;
    QPlainTextEdit *m_log = nullptr;
    QPushButton *m_export = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_close = nullptr;
    QTimer *m_poll = nullptr;
};

}  // namespace app
