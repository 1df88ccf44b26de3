#pragma once

// What Save Emails and extract may do to the address list as they write it: keep each
// address once, sort, leave out what is not an address. The scan itself lists every piece.
#include <QString>
#include <QStringView>
#include <memory>

class TextWriter;
class ExternalSorter;

struct AddressChoices
{
    bool unique = false;    // each piece once, where it first comes
    bool sorted = false;    // in the byte order of the saved encoding
    bool validOnly = false; // only pieces that pass IsValidAddress
    // With unique: pieces that differ in letter case alone count once (foldedCase), the
    // first met kept as it is; sorted then orders them by their folded case.
    bool ignoreCase = false;

    bool any() const { return unique || sorted || validOnly; }
    // "Unique, Ignore case, Sorted, Valid only" for the choices made, empty for none.
    QString names() const;
};

// One plain rule, not a full parser: one "@"; a local part of 1 to 64 characters of
// letters, digits and !#$%&'*+-/=?^_`{|}~ and dots, no dot first, last or after a dot;
// a domain of dot-separated labels of letters, digits and hyphens, 1 to 63 characters
// each, no hyphen first or last in a label, at least two labels, the last of two letters
// or more; 254 characters at most in all. Letters may be any script's.
bool IsValidAddress(QStringView piece);

// The text with each character in its Unicode simple case folding (QChar::toCaseFolded):
// pieces that differ in letter case alone fold alike.
QString foldedCase(QStringView text);

// Writes pieces to a text writer, each followed by CR LF, with the choices applied. Sorting
// and keeping pieces once compare the pieces as encoded in the system code page (as
// `LC_ALL=C sort` orders a saved list) and work in bounded memory on lists of any length.
class AddressListWriter
{
  public:
    // runBytes bounds the memory of a sort (see ExternalSorter).
    AddressListWriter(const AddressChoices &choices, const TextWriter &write,
                      qsizetype runBytes = 64 << 20);
    ~AddressListWriter();
    void add(QStringView piece);
    // Writes what is held back; the number of pieces written in all.
    qint64 finish();

  private:
    void writeEncoded(QByteArrayView bytes); // a piece already encoded, as a line
    void endLine();                          // CR LF after the piece gathered last
    void flushPending();
    bool foldsCase() const { return m_choices.unique && m_choices.ignoreCase; }

    AddressChoices m_choices;
    const TextWriter &m_write;
    qsizetype m_runBytes;
    std::unique_ptr<ExternalSorter> m_sorter;
    QByteArray m_encoded;
    QByteArray m_pending; // lines written, encoded, not yet handed on
    qint64 m_added = 0;
    qint64 m_written = 0;
};
