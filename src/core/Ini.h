#pragma once
// An INI document with the semantics of the classic profile-string functions:
// - section and key names match without regard to case; blanks around names and values
//   are ignored; the first matching section and the first matching key in it win;
// - integers are decimal, or hexadecimal after "0x" or "$", with an optional sign;
//   readInt takes a value only when it is a whole 32-bit number: decimal within the signed
//   range, or at most 32 bits of hexadecimal (a bit pattern, so "0xFFFFFFFF" is -1). Trailing
//   text ("1 year") or an overflow ("3000000000") is not a number and gives the caller's
//   default: reading the leading digits or the low bits instead turned such values into
//   small numbers that the program then acted on;
// - values are taken between the blanks; one outer pair of double quotes is removed when
//   the value holds no other double quote ("/srv/my rec" names /srv/my rec), so a command
//   line such as "a b" -x "c d" keeps all its quotes and reads back exactly as written;
// - writing updates the first match in place, appends a missing key at the end of its
//   section (after its last key line) and a missing section at the end of the document;
// - every other line (comments, blank lines, unknown sections, duplicates) is kept as is.
// Text is UTF-8. Lines are read with LF, CRLF or CR endings and written with the ending the
// document was read with (LF for a new document). Line breaks inside written values and
// names are replaced by blanks, so a value can never add lines or keys of its own.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <unordered_map>
#include <vector>

namespace core {

class Ini {
public:
    Ini() = default;
    static Ini fromText(const QByteArray &text);
    // A missing or unreadable file gives an empty document.
    static Ini load(const QString &path);

    QByteArray toText() const;
    // Atomic write (temporary file in the same folder, flushed, renamed over the old one).
    [[nodiscard]] bool save(const QString &path) const;

    bool hasSection(const QString &section) const;
    bool hasKey(const QString &section, const QString &key) const;
    // Section names in document order, each name once (first spelling).
    QStringList sections() const;

    std::optional<QString> value(const QString &section, const QString &key) const;
    QString readString(const QString &section, const QString &key, const QString &def = {}) const;
    int readInt(const QString &section, const QString &key, int def) const;

    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInt(const QString &section, const QString &key, int value);

    // One pass over the document: every section in order with its key/value pairs in order
    // (duplicates included). For readers of large files such as the archive index.
    struct Entry { QString key; QString value; };
    struct Section { QString name; std::vector<Entry> entries; };
    std::vector<Section> parseAll() const;

    // Parses the leading integer of a text, as the profile functions do ("12abc" is 12);
    // nullopt when the text does not begin with a number or it needs more than 64 bits.
    static std::optional<qint64> parseInt(const QString &text);
    // The whole text as one 32-bit number (the rule readInt follows); nullopt otherwise.
    static std::optional<int> parseInt32(const QString &text);

private:
    // The document is kept as its lines, grouped by section header so that a lookup or an
    // insertion touches one section only. Block 0 holds the lines before the first header.
    struct Block {
        QByteArray header;        // the header line as read ("[Name]"); empty for block 0
        QString name;             // trimmed name between the brackets
        QList<QByteArray> lines;  // the lines after the header, without line endings
    };
    int findSection(const QString &section) const;  // first matching block, or -1
    void indexSection(int block);
    Block &sectionForWriting(const QString &section);

    std::vector<Block> m_blocks{Block{}};
    struct NameHash {  // FNV-1a: qHash of QString costs more than the whole line parse
        size_t operator()(const QString &s) const noexcept;
    };
    std::unordered_map<QString, int, NameHash> m_firstBlock;  // folded name -> first block
    QByteArray m_eol = "\n";
    bool m_bom = false;  // a UTF-8 byte-order mark was read and is written back
};

}  // namespace core
