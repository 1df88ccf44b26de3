#pragma once

#include "primitives/TextFile.h"

#include <QPlainTextEdit>

// A multi-line text box whose text holds its lines separated by CR LF. Lines added in code
// are collected and handed to the view in one batch at the next pump (or when the handler
// ends), so a loop adding millions of lines does not pay for a view update per line.
class Memo : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit Memo(QWidget *parent = nullptr);
    ~Memo() override;

    void clear();
    // Adds a line at the end: after an empty text or one ending with CR LF the line and
    // CR LF; otherwise CR LF and the line, and one more CR LF for an empty line. The piece
    // added is taken up to its first NUL.
    void addLine(QStringView line);
    // The whole text, lines separated by CR LF. A CR inside a line (one not followed by
    // LF) is shown as the symbol U+240D, since the view breaks lines at every CR.
    QString text();
    void setText(const QString &text);
    void flush();

    // Whole-file text load and save with the encoding recorded at the last load.
    void loadFromFile(const QString &fileName);
    void saveToFile(const QString &fileName);
    TextEncoding recordedEncoding() const { return m_encoding; }

private:
    void takeState();

    int m_batchId;
    QString m_pending;   // pieces not yet in the view, line breaks as LF
    bool m_stateKnown = false;
    bool m_textEmpty = true;
    bool m_endsWithBreak = false;
    TextEncoding m_encoding = TextEncoding::None;
};
