// quorvane-cli: the four tools on the command line, from the same rules as the windows,
// streaming (no memo, no list box), QtCore only.
#include "primitives/Clock.h"
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/LineReader.h"
#include "primitives/Numbers.h"
#include "primitives/Process.h"
#include "primitives/TextFile.h"
#include "rules/AddressList.h"
#include "rules/Cutting.h"
#include "rules/Editing.h"
#include "rules/Extraction.h"
#include "rules/Joining.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

const char *const Usage = "usage: quorvane-cli extract FILE|- [--unique [--ignore-case]] [--sort] "
                          "[--valid] [-o OUT|-]\n"
                          "       quorvane-cli join [--verify] -o DEST FILE...\n"
                          "       quorvane-cli cut -n N [--lines [--header]] [--checksums] FILE\n"
                          "       quorvane-cli edit --prefix P --suffix S FILE [-o OUT|-]\n"
                          "       quorvane-cli count FILE|-\n";

struct UsageError
{
    QString what;
};

// The percentage of a file's bytes done, on standard error when it is a terminal, at most
// four times a second; nothing with -q.
class Progress
{
  public:
    Progress(bool quiet, qint64 total)
        : m_shown(!quiet && StandardErrorIsTerminal() && total > 0), m_total(total)
    {
        m_timer.start();
    }
    ~Progress()
    {
        if (m_shown && m_printed)
            std::fputs("\r       \r", stderr);
    }
    void report(qint64 done)
    {
        if (!m_shown || m_timer.elapsed() < 250)
            return;
        m_timer.restart();
        m_printed = true;
        std::fprintf(stderr, "\r%5.1f%%", 100.0 * double(done) / double(m_total));
    }

  private:
    const bool m_shown;
    const qint64 m_total;
    bool m_printed = false;
    QElapsedTimer m_timer;
};

// Bytes to standard output; a failed write is the write error.
void writeStandardOutput(const char *data, qint64 size)
{
    if (size > 0 && std::fwrite(data, 1, size_t(size), stdout) != size_t(size))
        throw Errors::writeError();
}

void flushStandardOutput()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw Errors::writeError();
}

bool isStandardStream(const QString &name)
{
    return name == u"-";
}

// Writes encoded text to OUT through the safe save, or to standard output when OUT is
// absent or "-". inputs are the files the text is made from.
void writeOutput(const std::optional<QString> &out, TextEncoding encoding,
                 const std::function<void(const TextWriter &)> &produce, const QStringList &inputs)
{
    if (out && !isStandardStream(*out)) {
        saveTextFile(*out, encoding, produce, inputs);
        return;
    }
    writeText(writeStandardOutput, encoding, produce);
    flushStandardOutput();
}

// The address scan: every piece holding "@" of every line, as Save Emails writes them,
// with its choices.
void extract(const QString &file, const AddressChoices &choices, const std::optional<QString> &out,
             bool quiet)
{
    // The extraction job's pieces, each followed by CR LF, with progress.
    class Pieces : public ExtractionSink
    {
      public:
        Pieces(AddressListWriter &write, Progress &progress) : m_write(write), m_progress(progress)
        {
        }
        void piece(QStringView piece) override { m_write.add(piece); }
        bool takesParts() const override { return true; } // a line of any length
        std::optional<QString> progressPoint(qint64, qint64 bytes) override
        {
            m_progress.report(bytes);
            return std::nullopt;
        }

      private:
        AddressListWriter &m_write;
        Progress &m_progress;
    };
    writeOutput(out, TextEncoding::None,
                [&](const TextWriter &write) {
                    Progress progress(quiet, isStandardStream(file) ? 0 : FileSizeOf(file));
                    AddressListWriter addresses(choices, write);
                    Pieces pieces(addresses, progress);
                    ExtractionJob job;
                    if (isStandardStream(file))
                        job.scanStandardInput(pieces);
                    else
                        job.scan(file, pieces);
                    addresses.finish();
                },
                {file});
}

// Edit Text's Open, Start and Save: the file as loaded, then each of its lines decorated,
// in the encoding its byte-order mark names (else the system code page).
void edit(const QString &file, const QString &prefix, const QString &suffix,
          const std::optional<QString> &out, bool quiet)
{
    TextEncoding encoding = TextEncoding::SystemCodePage;
    {
        FileStream head(file, FileMode::OpenReadDenyWrite);
        char bytes[3] = {};
        const qint64 n = head.read(bytes, 3);
        detectBom(QByteArrayView(bytes, qMax<qint64>(n, 0)), encoding);
    }
    writeOutput(out, encoding,
                [&](const TextWriter &write) {
                    Editing::MemoTextStream memo(write);
                    TextEncoding recorded;
                    loadTextFile(
                        file, recorded, [&](QStringView piece) { memo.load(piece); },
                        [&](QLatin1StringView bytes) { memo.load(bytes); });
                    // Start's lines, added to the streamed memo, with progress.
                    class StreamLines : public EditSink
                    {
                      public:
                        StreamLines(Editing::MemoTextStream &memo, Progress &progress, EditJob &job)
                            : m_memo(memo), m_progress(progress), m_job(job)
                        {
                        }
                        void line(QStringView decorated) override { m_memo.addLine(decorated); }
                        void decoratedLine(QStringView prefix, QStringView line,
                                           QStringView suffix) override
                        {
                            m_memo.addLine(prefix, line, suffix);
                        }
                        // A line of any length in bounded memory.
                        bool takesParts() const override { return true; }
                        void beginLine() override { m_memo.beginLine(); }
                        void linePart(QStringView part) override { m_memo.linePart(part); }
                        void endLine() override { m_memo.endLine(); }
                        void progressPoint(QString &, QString &) override
                        {
                            m_progress.report(m_job.EditLineReader->bytesTaken());
                        }

                      private:
                        Editing::MemoTextStream &m_memo;
                        Progress &m_progress;
                        EditJob &m_job;
                    };
                    Progress progress(quiet, FileSizeOf(file));
                    EditJob job;
                    job.EditRunning = true;
                    StreamLines lines(memo, progress, job);
                    job.start(file, prefix, suffix, lines);
                    memo.flush();
                },
                {file});
}

// Select File, the piece count, "ok" and Cut: the pieces in the current folder (and the
// checksum file); the names of those made. A signal that ends the cut names on standard
// error the pieces it had written whole.
QStringList cut(const QString &file, int count, CutJob::CutOptions options)
{
    class KeptPieces : public CopySink
    {
      public:
        void progress(const CopyStatus &) override {}
        void written(const QString &fileName) override
        {
            if (m_first)
                AddToInterruptNote("quorvane-cli: interrupted; the unfinished piece was "
                                   "removed; pieces kept:\n");
            m_first = false;
            AddToInterruptNote(NativeFileName(fileName) + '\n');
        }

      private:
        bool m_first = true;
    };
    CutJob job;
    const auto [nameField, kib] = job.select(file);
    job.plan(nameField, count, Clock::now());
    KeptPieces kept;
    job.CutFileIntoPieces(file, options.keepLinesWhole ? 0 : CutJob::pieceKib(kib, count) * 1024,
                          &kept, options);
    if (options.keepLinesWhole && job.CompletePieces.size() < count)
        std::fprintf(stderr,
                     "quorvane-cli: %d of %d pieces: the file has fewer lines than pieces\n",
                     int(job.CompletePieces.size()), count);
    QStringList written = job.PieceNames;
    if (!job.ChecksumFile.isEmpty())
        written << job.ChecksumFile;
    return written;
}

// Refuses, before anything is read, an input that is also standard output: it would be read
// while it grows, or be the text it is made from.
void checkStandardOutput(const QStringList &inputs)
{
    for (const QString &input : inputs)
        if (isStandardStream(input) ? StandardOutputIsStandardInput() : StandardOutputIs(input))
            throw QuorvaneError(
                QStringLiteral("The input \"%1\" is also the standard output").arg(input));
}

// A line of text on standard output; a file name in the bytes the system spells it with.
void printLine(const QByteArray &bytes)
{
    writeStandardOutput(bytes.constData(), bytes.size());
    writeStandardOutput("\n", 1);
}

// The options each command takes.
const QHash<QString, QStringList> &optionsOf()
{
    static const QHash<QString, QStringList> options = {
        {QStringLiteral("extract"),
         {QStringLiteral("o"), QStringLiteral("q"), QStringLiteral("unique"),
          QStringLiteral("sort"), QStringLiteral("valid"), QStringLiteral("ignore-case")}},
        {QStringLiteral("join"),
         {QStringLiteral("o"), QStringLiteral("q"), QStringLiteral("verify")}},
        {QStringLiteral("cut"),
         {QStringLiteral("n"), QStringLiteral("q"), QStringLiteral("lines"),
          QStringLiteral("header"), QStringLiteral("checksums")}},
        {QStringLiteral("edit"),
         {QStringLiteral("o"), QStringLiteral("prefix"), QStringLiteral("suffix"),
          QStringLiteral("q")}},
        {QStringLiteral("count"), {QStringLiteral("q")}},
    };
    return options;
}

int run(QCommandLineParser &parser)
{
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        throw UsageError{QStringLiteral("no command")};
    const QString command = args.first();
    const QStringList files = args.mid(1);
    if (!optionsOf().contains(command))
        throw UsageError{QStringLiteral("unknown command %1").arg(command)};
    const QStringList allowed = optionsOf().value(command);
    for (const QString &name : parser.optionNames()) {
        const QString option = name == u"output" ? QStringLiteral("o") : name;
        if (!allowed.contains(option))
            throw UsageError{
                QStringLiteral("%1 does not take -%2%3")
                    .arg(command, option.size() > 1 ? QStringLiteral("-") : QString(), option)};
        if (parser.optionNames().count(name) > 1 ||
            (option == u"o" && parser.values(QStringLiteral("o")).size() > 1))
            throw UsageError{QStringLiteral("-%1 is given more than once").arg(option)};
    }
    const bool quiet = parser.isSet(QStringLiteral("q"));
    const std::optional<QString> out = parser.isSet(QStringLiteral("o"))
                                           ? std::optional(parser.value(QStringLiteral("o")))
                                           : std::nullopt;
    auto oneFile = [&](bool standardInput) {
        if (files.size() != 1)
            throw UsageError{QStringLiteral("%1 takes one file").arg(command)};
        if (!standardInput && isStandardStream(files.first()))
            throw UsageError{QStringLiteral("%1 needs a file name, not standard input (name a "
                                            "file called - as ./-)")
                                 .arg(command)};
        return files.first();
    };
    QStringList inputs = files;
    if (command == u"join")
        for (const QString &source : files)
            inputs += SeriesOf(source).mid(1);
    checkStandardOutput(inputs);
    int status = 0;
    if (command == u"extract") {
        const AddressChoices choices{
            parser.isSet(QStringLiteral("unique")), parser.isSet(QStringLiteral("sort")),
            parser.isSet(QStringLiteral("valid")), parser.isSet(QStringLiteral("ignore-case"))};
        if (choices.ignoreCase && !choices.unique)
            throw UsageError{QStringLiteral("extract takes --ignore-case with --unique only")};
        extract(oneFile(true), choices, out, quiet);
    } else if (command == u"join") {
        if (!out || files.isEmpty() || isStandardStream(*out) ||
            std::any_of(files.begin(), files.end(), isStandardStream))
            throw UsageError{QStringLiteral("join takes -o DEST and one file or more")};
        const bool verify = parser.isSet(QStringLiteral("verify"));
        JoinJob job;
        job.JoinFiles(
            *out, files,
            [&](const QString &source) {
                std::fprintf(stderr, "quorvane-cli: passed over %s: %s\n",
                             NativeFileName(source).constData(),
                             FileSizeOf(source) < 0 ? "no such file" : "not a file");
                status = 1;
            },
            nullptr, verify);
        if (verify) {
            const QString verdict =
                job.ChecksumVerdict.isEmpty()
                    ? QStringLiteral("no checksum file lists %1")
                          .arg(QString::fromLocal8Bit(NativeFileName(files.first())))
                    : job.ChecksumVerdict;
            std::fprintf(stderr, "quorvane-cli: %s\n", verdict.toLocal8Bit().constData());
            if (!job.ChecksumMatches)
                status = 1;
        }
    } else if (command == u"cut") {
        bool ok = false;
        const int count = parser.value(QStringLiteral("n")).toInt(&ok);
        if (!ok || count < 1 || count > CutJob::MaxPieces)
            throw UsageError{
                QStringLiteral("cut takes -n N, a count from 1 to %1").arg(CutJob::MaxPieces)};
        const CutJob::CutOptions options{parser.isSet(QStringLiteral("lines")),
                                         parser.isSet(QStringLiteral("header")),
                                         parser.isSet(QStringLiteral("checksums"))};
        if (options.header && !options.keepLinesWhole)
            throw UsageError{QStringLiteral("cut takes --header with --lines only")};
        const QString file = oneFile(false);
        for (const QString &name : cut(file, count, options))
            if (FileExists(name))
                printLine(NativeFileName(name));
    } else if (command == u"edit") {
        edit(oneFile(false), parser.value(QStringLiteral("prefix")),
             parser.value(QStringLiteral("suffix")), out, quiet);
    } else if (command == u"count") {
        const QString file = oneFile(true);
        qint64 lines = 0;
        if (isStandardStream(file)) {
            FileStream input{FileStream::StandardInput()};
            lines = CountLines(input);
        } else {
            // The open error with the system's text, as the other commands give it.
            FileStream input(file, FileMode::OpenReadDenyWrite);
            lines = CountLines(input);
        }
        printLine(QByteArray::number(lines));
    }
    flushStandardOutput();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    MakeStandardStreamsValid(); // before anything is opened
    IgnoreFileSizeLimitSignal();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Usage));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {{"o", "output"}, "Write the result to FILE (extract, edit) or join into it.", "FILE"},
        {"n", "The number of pieces (cut).", "N"},
        {"lines", "Cut at line ends, the pieces as equal as whole lines allow (cut)."},
        {"header", "Start every piece with the file's first line (cut --lines)."},
        {"checksums", "Write FILE.sha256 beside the pieces, as sha256sum -c reads it (cut)."},
        {"verify", "Check the pieces and DEST against the checksum file beside the first FILE "
                   "that lists it; exit 1 when they differ or none does (join)."},
        {"prefix", "The text put before each line (edit).", "P"},
        {"suffix", "The text put after each line (edit).", "S"},
        {"q", "No progress on standard error."},
        {"unique", "Each address once, where it first comes (extract)."},
        {"sort", "The addresses in byte order, as LC_ALL=C sort orders them (extract)."},
        {"valid", "Only pieces that are well-formed addresses (extract; the rule is in the "
                  "README)."},
        {"ignore-case", "With --unique, addresses that differ in letter case alone count once, "
                        "the first kept (extract)."},
    });
    parser.addPositionalArgument("command", "extract, join, cut, edit or count.");
    parser.addPositionalArgument("files", "The files the command works on.", "FILE...");
    MakeStandardOutputBinary();
    if (!parser.parse(ProgramArguments(argc, argv))) {
        std::fprintf(stderr, "%s\n%s", qPrintable(parser.errorText()), Usage);
        return 2;
    }
    // Printed here rather than by the parser, which shows a message box instead on Windows
    // when it finds no console.
    if (parser.isSet(QStringLiteral("version")) || parser.isSet(QStringLiteral("help"))) {
        const QString text = parser.isSet(QStringLiteral("version"))
                                 ? QCoreApplication::applicationName() + u' ' +
                                       QCoreApplication::applicationVersion() + u'\n'
                                 : parser.helpText();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    try {
        return run(parser);
    } catch (const UsageError &e) {
        std::fprintf(stderr, "quorvane-cli: %s\n%s", qPrintable(e.what), Usage);
        return 2;
    } catch (const QuorvaneError &e) {
        std::fprintf(stderr, "%s\n", Errors::withFullStop(e.message()).toLocal8Bit().constData());
        return 1;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%s\n",
                     qPrintable(Errors::withFullStop(Errors::outOfMemory().message())));
        return 1;
    }
}
