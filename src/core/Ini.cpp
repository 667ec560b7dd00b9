#include "core/Ini.h"

#include "core/AtomicFile.h"
#include "core/IniText.h"
#include "core/Logging.h"

#include <QFile>
#include <limits>

namespace core {

namespace {

using namespace initext;

// "[ Name ]" -> "Name"; a header without its closing bracket runs to the end of the line.
QString headerName(QByteArrayView line)
{
    QByteArrayView t = trimmed(line).sliced(1);
    const qsizetype close = t.indexOf(']');
    if (close >= 0) t = t.first(close);
    return QString::fromUtf8(trimmed(t));
}

// A value typed in quotes by hand ("/srv/my rec") loses its outer pair; a value with any
// other quote in it is a command line whose quotes the encoder's argument split needs.
QByteArrayView unquoted(QByteArrayView value)
{
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') return value;
    const QByteArrayView inner = value.sliced(1, value.size() - 2);
    return inner.contains('"') ? value : inner;
}

// Case-insensitive name match; plain ASCII byte compare, Unicode case folding otherwise.
bool namesMatch(QByteArrayView lineKey, const QByteArray &wantedUtf8, const QString &wanted)
{
    bool ascii = true;
    if (lineKey.size() == wantedUtf8.size()) {
        for (qsizetype i = 0; i < lineKey.size(); ++i) {
            const char a = lineKey[i], b = wantedUtf8[i];
            if ((a & 0x80) || (b & 0x80)) { ascii = false; break; }
            if (asciiLower(a) != asciiLower(b)) return false;
        }
        if (ascii) return true;
    } else {
        for (char c : lineKey) if (c & 0x80) { ascii = false; break; }
        for (char c : wantedUtf8) if (c & 0x80) { ascii = false; break; }
        if (ascii) return false;
    }
    return QString::fromUtf8(lineKey).compare(wanted, Qt::CaseInsensitive) == 0;
}

// Hash key of a section name; plain ASCII is lowered by hand, full case folding is slow.
QString foldName(const QString &name)
{
    QString folded = name.trimmed();
    for (QChar &c : folded) {
        const char16_t u = c.unicode();
        if (u >= 0x80) return folded.toCaseFolded();
        if (u >= 'A' && u <= 'Z') c = QChar(u + ('a' - 'A'));
    }
    return folded;
}

int hexDigit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

struct ScannedInt {
    bool negative = false;
    bool hex = false;
    quint64 magnitude = 0;
    qsizetype end = 0;  // index after the last digit
};

// The number at the start of a trimmed text; nullopt without digits or beyond 64 bits.
std::optional<ScannedInt> scanLeadingInt(const QString &t)
{
    ScannedInt n;
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) n.negative = t[i++] == u'-';
    if (i < t.size() && t[i] == u'$') {
        n.hex = true;
        ++i;
    } else if (i + 1 < t.size() && t[i] == u'0' && (t[i + 1] == u'x' || t[i + 1] == u'X')) {
        n.hex = true;
        i += 2;
    }
    const quint64 base = n.hex ? 16 : 10;
    const qsizetype firstDigit = i;
    for (; i < t.size(); ++i) {
        const int d = hexDigit(t[i]);
        if (d < 0 || quint64(d) >= base) break;
        if (n.magnitude > (std::numeric_limits<quint64>::max() - quint64(d)) / base)
            return std::nullopt;
        n.magnitude = n.magnitude * base + quint64(d);
    }
    if (i == firstDigit) return std::nullopt;
    n.end = i;
    return n;
}

}  // namespace

Ini Ini::fromText(const QByteArray &text)
{
    Ini ini;
    QByteArrayView rest(text);
    if (rest.startsWith(kBom)) {
        ini.m_bom = true;
        rest = rest.sliced(kBom.size());
    }
    bool eolKnown = false;
    while (!rest.isEmpty()) {
        // A line ends at LF, CRLF or a lone CR; the first ending found is the document's.
        const char *data = rest.data();
        qsizetype end = 0;
        while (end < rest.size() && data[end] != '\n' && data[end] != '\r') ++end;
        const QByteArrayView line = rest.first(end);
        qsizetype next = end;
        if (end < rest.size()) {
            const bool crlf = data[end] == '\r' && end + 1 < rest.size() && data[end + 1] == '\n';
            if (!eolKnown) {
                ini.m_eol = crlf ? "\r\n" : data[end] == '\r' ? "\r" : "\n";
                eolKnown = true;
            }
            next += crlf ? 2 : 1;
        }
        rest = rest.sliced(next);

        if (isHeaderLine(line)) {
            ini.m_blocks.push_back(Block{line.toByteArray(), headerName(line), {}});
            ini.indexSection(int(ini.m_blocks.size()) - 1);
        } else {
            ini.m_blocks.back().lines.append(line.toByteArray());
        }
    }
    return ini;
}

Ini Ini::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // A file not made yet is the usual first start; one that is there but unreadable is not.
        if (file.exists())
            qCWarning(lcCore).noquote() << QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return Ini();
    }
    return fromText(file.readAll());
}

QByteArray Ini::toText() const
{
    qsizetype size = m_bom ? kBom.size() : 0;
    for (const Block &b : m_blocks) {
        if (&b != &m_blocks.front()) size += b.header.size() + m_eol.size();
        for (const QByteArray &l : b.lines) size += l.size() + m_eol.size();
    }
    QByteArray out;
    out.reserve(size);
    if (m_bom) out += kBom;
    for (const Block &b : m_blocks) {
        if (&b != &m_blocks.front()) out.append(b.header).append(m_eol);
        for (const QByteArray &l : b.lines) out.append(l).append(m_eol);
    }
    return out;
}

bool Ini::save(const QString &path) const
{
    return writeFileAtomically(path, toText());
}

void Ini::indexSection(int block)
{
    // The first block of a name wins: later duplicates are kept but never found.
    m_firstBlock.emplace(foldName(m_blocks[size_t(block)].name), block);
}

int Ini::findSection(const QString &section) const
{
    const auto it = m_firstBlock.find(foldName(section));
    return it == m_firstBlock.end() ? -1 : it->second;
}

size_t Ini::NameHash::operator()(const QString &s) const noexcept
{
    quint64 h = 14695981039346656037ULL;
    for (const QChar c : s) {
        h ^= c.unicode();
        h *= 1099511628211ULL;
    }
    return size_t(h);
}

bool Ini::hasSection(const QString &section) const { return findSection(section) >= 0; }

bool Ini::hasKey(const QString &section, const QString &key) const
{
    return value(section, key).has_value();
}

QStringList Ini::sections() const
{
    QStringList names;
    for (size_t i = 1; i < m_blocks.size(); ++i) {
        if (findSection(m_blocks[i].name) == int(i)) names.append(m_blocks[i].name);
    }
    return names;
}

std::optional<QString> Ini::value(const QString &section, const QString &key) const
{
    const int block = findSection(section);
    if (block < 0) return std::nullopt;
    const QString wanted = key.trimmed();
    const QByteArray wantedUtf8 = wanted.toUtf8();
    for (const QByteArray &line : m_blocks[size_t(block)].lines) {
        QByteArrayView k, v;
        if (splitKeyLine(line, &k, &v) && namesMatch(k, wantedUtf8, wanted))
            return QString::fromUtf8(unquoted(v));
    }
    return std::nullopt;
}

QString Ini::readString(const QString &section, const QString &key, const QString &def) const
{
    return value(section, key).value_or(def);
}

int Ini::readInt(const QString &section, const QString &key, int def) const
{
    const std::optional<QString> text = value(section, key);
    if (!text) return def;
    return parseInt32(*text).value_or(def);
}

Ini::Block &Ini::sectionForWriting(const QString &section)
{
    const int found = findSection(section);
    if (found >= 0) return m_blocks[size_t(found)];

    // A new section goes to the end, set off from what precedes it by one blank line.
    Block &last = m_blocks.back();
    const bool documentEmpty = m_blocks.size() == 1 && last.lines.isEmpty();
    const bool endsBlank = !last.lines.isEmpty() && trimmed(last.lines.back()).isEmpty();
    if (!documentEmpty && !endsBlank) last.lines.append(QByteArray());
    const QByteArray name = oneLineUtf8(section);
    m_blocks.push_back(Block{'[' + name + ']', QString::fromUtf8(name), {}});
    indexSection(int(m_blocks.size()) - 1);
    return m_blocks.back();
}

void Ini::writeString(const QString &section, const QString &key, const QString &value)
{
    const QString wanted = key.trimmed();
    if (wanted.isEmpty()) return;  // a line without a key name could never be read back
    Block &block = sectionForWriting(section);
    const QByteArray wantedUtf8 = oneLineUtf8(wanted);
    const QByteArray valueUtf8 = oneLineUtf8(value);

    qsizetype lastKeyLine = -1;
    for (qsizetype i = 0; i < block.lines.size(); ++i) {
        QByteArrayView k, v;
        if (!splitKeyLine(block.lines[i], &k, &v)) continue;
        if (namesMatch(k, wantedUtf8, wanted)) {
            block.lines[i] = k.toByteArray() + '=' + valueUtf8;  // the stored spelling stays
            return;
        }
        lastKeyLine = i;
    }
    // After the last key, so that comments and blank lines closing the section stay below.
    block.lines.insert(lastKeyLine + 1, wantedUtf8 + '=' + valueUtf8);
}

void Ini::writeInt(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

std::vector<Ini::Section> Ini::parseAll() const
{
    std::vector<Section> out;
    out.reserve(m_blocks.size() - 1);
    for (size_t b = 1; b < m_blocks.size(); ++b) {
        const Block &block = m_blocks[b];
        Section s{block.name, {}};
        s.entries.reserve(size_t(block.lines.size()));
        for (const QByteArray &line : block.lines) {
            QByteArrayView k, v;
            if (splitKeyLine(line, &k, &v))
                s.entries.push_back(Entry{QString::fromUtf8(k), QString::fromUtf8(unquoted(v))});
        }
        out.push_back(std::move(s));
    }
    return out;
}

std::optional<qint64> Ini::parseInt(const QString &text)
{
    const std::optional<ScannedInt> n = scanLeadingInt(text.trimmed());
    if (!n) return std::nullopt;
    if (n->hex) {  // hexadecimal is a bit pattern: 16 digits may set the sign bit
        const qint64 pattern = qint64(n->magnitude);
        return n->negative ? qint64(0 - quint64(pattern)) : pattern;
    }
    constexpr quint64 kMaxPositive = quint64(std::numeric_limits<qint64>::max());
    if (n->magnitude > kMaxPositive + (n->negative ? 1 : 0)) return std::nullopt;
    return n->negative ? qint64(0 - n->magnitude) : qint64(n->magnitude);
}

std::optional<int> Ini::parseInt32(const QString &text)
{
    const QString t = text.trimmed();
    const std::optional<ScannedInt> n = scanLeadingInt(t);
    if (!n || n->end != t.size()) return std::nullopt;
    if (n->hex) {
        if (n->magnitude > 0xFFFFFFFFu) return std::nullopt;
        const quint32 pattern = quint32(n->magnitude);
        return qint32(n->negative ? 0u - pattern : pattern);
    }
    constexpr quint64 kMaxPositive = quint64(std::numeric_limits<qint32>::max());
    if (n->magnitude > kMaxPositive + (n->negative ? 1 : 0)) return std::nullopt;
    return n->negative ? int(qint64(0) - qint64(n->magnitude)) : int(n->magnitude);
}

}  // namespace core
