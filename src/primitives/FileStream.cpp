#include "primitives/FileStream.h"

#include "primitives/Errors.h"
#include "primitives/Platform.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <memory>

QByteArray temporaryName()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name(".qv-");
    for (int i = 0; i < 6; ++i)
        name += letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
    return name;
}

bool parseMode(quint16 mode, OpenMode &spec)
{
    const int high = mode >> 8;
    const int low = mode & 0xFF;
    if (low & 0x8C)
        return false;
    spec.sharing = low & 0x70;
    if (spec.sharing > 0x40)
        return false;
    if (high == 0xFF) {
        if (low & 0x03)
            return false;
        spec.create = true;
        spec.access = 2;
        return true;
    }
    spec.access = low & 0x03;
    return spec.access != 3;
}

FileStream::FileStream(const QString &fileName, quint16 mode, bool truncate) : m_fileName(fileName)
{
    bool create = false;
    if (const int code = open(mode, truncate, create))
        throw create ? Errors::createError(fileName, code) : Errors::openError(fileName, code);
}

FileStream::FileStream(const QString &fileName, quint16 mode, int &errorCode) : m_fileName(fileName)
{
    bool create = false;
    errorCode = open(mode, true, create);
}

int FileStream::open(quint16 mode, bool truncate, bool &create)
{
    OpenMode spec;
    const bool valid = parseMode(mode, spec);
    create = spec.create;
    if (!valid)
        return PlatformErrors::InvalidParameter;
    if (m_fileName.isEmpty())
        return PlatformErrors::FileNotFound;
    return openHandle(spec, truncate);
}

FileStream::~FileStream()
{
    close();
}

qsizetype NamePartStart(const QString &fileName)
{
    qsizetype start = fileName.size();
    while (start > 0 && fileName[start - 1] != u'\\' && fileName[start - 1] != u'/' &&
           fileName[start - 1] != u':')
        --start;
    return start;
}

qsizetype ExtensionDot(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot >= NamePartStart(fileName) ? dot : -1;
}

bool &NamedTemporariesOnly()
{
    static bool named = false;
    return named;
}

std::function<void()> &BeforeCopyStepHook()
{
    static std::function<void()> hook;
    return hook;
}

qint64 CopyFrom(FileStream &destination, FileStream &source, qint64 count,
                const CopyProgress &progress)
{
    constexpr qint64 MaxChunk = 61440;
    if (count <= 0) {
        source.setPosition(0);
        count = source.size();
    }
    const qint64 result = count;
    const qint64 chunk = qMin(count, MaxChunk);
    std::unique_ptr<char[]> buffer(new char[size_t(qMax<qint64>(chunk, 1))]);
    // The whole chunks the source still holds are copied inside the system when it can; a
    // chunk that would run short goes through the buffer, so that none of it is written.
    // Each system copy is sized to take about StepMilliseconds, so that the caller hears of
    // the progress often on slow media and rarely on fast ones.
    constexpr qint64 StepMilliseconds = 20;
    qint64 stepChunks = 16;
    QElapsedTimer stepTimer;
    qint64 held = source.size() - source.position();
    bool inSystem = true;
    auto stepDone = [&] {
        if (progress)
            progress(result - count);
    };
    while (count != 0) {
        qint64 n = qMin(chunk, count);
        if (inSystem && n <= held) {
            if (n == chunk) // whole chunks of the count that the source holds
                n = qMin(qMin(count, held) / chunk, stepChunks) * chunk;
            const qint64 start = destination.position();
            qint64 done = 0;
            stepTimer.start();
            while (done < n) {
                if (const auto &hook = BeforeCopyStepHook())
                    hook();
                const qint64 copied = destination.copyFrom(source, n - done);
                if (copied == -2 && done == 0)
                    break;
                if (copied == 0) {
                    // The source ended early (another program shortened it): the part of
                    // a chunk copied last is taken back, so only whole chunks stay.
                    const qint64 whole = done / chunk * chunk;
                    if (done != whole && !destination.resize(start + whole))
                        throw Errors::writeError();
                    throw Errors::readError();
                }
                if (copied < 0)
                    throw Errors::writeError();
                done += copied;
            }
            if (done == n) {
                const qint64 took = stepTimer.elapsed();
                if (took < StepMilliseconds / 2 && stepChunks < 1024)
                    stepChunks *= 2;
                else if (took > StepMilliseconds * 2 && stepChunks > 1)
                    stepChunks /= 2;
                count -= n;
                held -= n;
                stepDone();
                continue;
            }
            inSystem = false;
        }
        n = qMin(chunk, count);
        if (const auto &hook = BeforeCopyStepHook())
            hook();
        for (qint64 done = 0; done < n;) {
            const qint64 got = source.read(buffer.get() + done, n - done);
            if (got <= 0)
                throw Errors::readError();
            done += got;
        }
        for (qint64 done = 0; done < n;) {
            const qint64 put = destination.write(buffer.get() + done, n - done);
            if (put <= 0)
                throw Errors::writeError();
            done += put;
        }
        count -= n;
        stepDone();
    }
    return result;
}

qint64 FileReplacement::copyFrom(FileStream &source, qint64 count, const CopyProgress &progress)
{
    qint64 told = 0;
    return CopyFrom(m_way == Way::Direct ? m_target : m_temporary, source, count,
                    [&](qint64 copied) {
                        wrote(copied - told);
                        told = copied;
                        if (progress)
                            progress(copied);
                    });
}
