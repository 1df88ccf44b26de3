// The splitter: nothing past the first NUL, no separator outside a quoted piece, the
// pieces of a text without quotes found in it in order; and the address step of the
// window (which finds the pieces holding "@" its own quick way) lists exactly the pieces
// of the full splitter that hold "@".
#include "FExtraction_Unit.h"
#include "Fiche_principale_Unit.h"
#include "ui_FExtraction.h"

#include <QApplication>
#include <cstdint>
#include <cstdlib>

namespace {

bool isSeparator(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_splitter";
        static char *argv[] = {name, nullptr};
        auto *application = new QApplication(argc, argv);
        CreateApplicationWindows();
        return application;
    }();
    Q_UNUSED(app);
    // UTF-16 text from the bytes, so that marks, surrogates and controls all occur.
    const QString text(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    QStringList pieces;
    SplitDelimited(u' ', text, &pieces);

    const qsizetype nul = text.indexOf(QChar(0));
    const QStringView seen = nul < 0 ? QStringView(text) : QStringView(text).first(nul);
    const bool quoted = seen.contains(u'"');
    qsizetype from = 0;
    for (const QString &piece : std::as_const(pieces)) {
        check(!piece.contains(QChar(0)));
        if (quoted)
            continue;
        check(!piece.isEmpty());
        for (QChar c : piece)
            check(!isSeparator(c));
        const qsizetype at = seen.indexOf(piece, from);
        check(at >= 0);
        from = at + piece.size();
    }

    QStringList addresses;
    for (const QString &piece : std::as_const(pieces))
        if (piece.contains(u'@'))
            addresses << piece;
    ListBox *list = FExtraction->ui->ListBox1;
    list->clear();
    FExtraction->ui->Edit1->setText(text);
    FExtraction->Button5Click();
    check(list->items() == addresses);
    return 0;
}
