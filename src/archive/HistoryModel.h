#pragma once
// The rows of the archive list ("lvHistory"): a table model over the ArchiveList it owns.
// Row i is record i; texts are made when the view asks for them. Every change goes through
// this class so that views are told of it (inserts, removals, resets). Main thread only.
//
// A row whose file no longer exists is drawn grey. Whether a file exists is looked up once,
// when its row is first drawn, and remembered until refreshFileStates(): a view draws only
// the rows it shows, so a large archive costs no more than a screenful of lookups.
//
// A row whose file was found damaged (the coverage ledger's verification) is drawn dark red,
// its tool tip saying why.
//
// A row that a hold covers (see Keep.h) is drawn on a pale amber ground, its tool tip naming
// the hold ("on hold 3: complaint"); the holds are given whole by setHolds.

#include "archive/ArchiveRecord.h"
#include "archive/Keep.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QLocale>
#include <QStringList>
#include <vector>

namespace archive {

enum HistoryColumn { ColYear, ColMonth, ColDay, ColTime, ColLength, ColFile, HistoryColumnCount };

// The text of one cell: year; the locale's abbreviated month name; day "%.2d"; start
// "%.2d:%.2d"; the magnitude of the length as "%d:%.2d:%.2d"; the full path.
QString historyCellText(const ArchiveRecord &record, int column, const QLocale &locale);

class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit HistoryModel(const QLocale &locale = QLocale::system(), QObject *parent = nullptr);

    const ArchiveList &records() const { return m_records; }

    void appendRecords(ArchiveList records);
    void appendRecord(ArchiveRecord record);
    // Inserts records before the first row (a loaded index ahead of records made meanwhile).
    void prependRecords(ArchiveList records);
    void removeRecord(int row);
    // Removes every record whose flag is set (remove.size() == number of records), the
    // others keeping their order; linear in the number of records.
    void removeRecords(const std::vector<bool> &remove);

    // The six texts of a row; empty for a row at or beyond the number of records.
    QStringList rowTexts(int row) const;

    // Column titles, e.g. translated ones.
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant &value,
                       int role = Qt::EditRole) override;

    // Forgets what is known of the files; the rows shown look again when next drawn.
    void refreshFileStates();
    // The file at path was found damaged, for `reason`.
    void markDamaged(const QString &path, const QString &reason);
    // The holds as they are now; the rows redraw when they changed.
    void setHolds(std::vector<Hold> holds);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    enum class FileState : quint8 { Unknown, Present, Missing };
    bool fileMissing(int row) const;
    QString toolTip(const ArchiveRecord &record) const;

    ArchiveList m_records;
    mutable std::vector<FileState> m_fileStates;  // one per record
    QLocale m_locale;
    QStringList m_titles;
    QHash<QString, QString> m_damaged;  // path -> why
    std::vector<Hold> m_holds;
};

}  // namespace archive
