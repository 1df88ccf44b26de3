#include "toolkit/Memo.h"

#include "primitives/Errors.h"
#include "toolkit/Pump.h"

#include <QTextBlock>
#include <QTextCursor>

namespace {
constexpr QChar LoneCr(0x240D);
}

Memo::Memo(QWidget *parent) : QPlainTextEdit(parent)
{
    setUndoRedoEnabled(false);
    m_batchId = Pump::registerBatch([this] { flush(); });
}

Memo::~Memo() { Pump::unregisterBatch(m_batchId); }

void Memo::clear()
{
    m_pending.clear();
    m_stateKnown = false;
    QPlainTextEdit::clear();
}

void Memo::takeState()
{
    const QTextDocument *doc = document();
    m_textEmpty = doc->characterCount() <= 1;
    m_endsWithBreak = doc->blockCount() > 1 && doc->lastBlock().length() == 1;
    m_stateKnown = true;
}

void Memo::addLine(QStringView line)
{
    if (!m_stateKnown)
        takeState();
    const qsizetype before = m_pending.size();
    if (m_textEmpty || m_endsWithBreak) {
        m_pending += line;
        m_pending += u'\n';
    } else {
        m_pending += u'\n';
        m_pending += line;
        if (line.isEmpty())
            m_pending += u'\n';
    }
    const qsizetype nul = QStringView(m_pending).sliced(before).indexOf(QChar(0));
    if (nul >= 0)
        m_pending.truncate(before + nul);
    for (qsizetype i = before; i < m_pending.size(); ++i)
        if (m_pending[i] == u'\r')
            m_pending[i] = LoneCr;
    if (m_pending.size() > before) {
        m_textEmpty = false;
        m_endsWithBreak = m_pending.back() == u'\n';
    }
}

void Memo::flush()
{
    if (m_pending.isEmpty()) {
        m_stateKnown = false;
        return;
    }
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(m_pending);
    m_pending.clear();
    m_stateKnown = false;
}

QString Memo::text()
{
    flush();
    QString text = toPlainText();
    text.replace(LoneCr, u'\r');
    return text.replace(u'\n', QStringLiteral("\r\n"));
}

void Memo::setText(const QString &text)
{
    clear();
    QString plain = memoText(text);
    setPlainText(plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void Memo::loadFromFile(const QString &fileName)
{
    setText(loadTextFile(fileName, m_encoding));
}

void Memo::saveToFile(const QString &fileName) { saveTextFile(fileName, text(), m_encoding); }
