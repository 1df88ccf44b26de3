#include "rules/Copying.h"
#include "primitives/Process.h"

void CopyingJob::stop()
{
    m_running = false;
}

CopyingJob::Run::Run(CopyingJob &job, qint64 total, CopySink *sink)
    : m_job(job), m_sink(sink), m_total(total)
{
    m_job.m_copying = true;
    m_job.m_running = true;
    m_started.start();
}

CopyingJob::Run::~Run()
{
    m_job.m_copying = false;
    m_job.m_running = false;
}

void CopyingJob::Run::report(const QString &fileName, qint64 done)
{
    const qint64 now = m_started.elapsed();
    if (m_sink && now - m_lastReport >= ReportMilliseconds) {
        m_lastReport = now;
        m_sink->progress({fileName, done, m_total, now > 0 ? done * 1000 / now : 0});
    }
    if (!m_job.m_running)
        throw CopyStopped();
}

void CopyingJob::Run::copy(FileReplacement &destination, FileStream &source, qint64 count,
                           const QString &shownName)
{
    report(shownName, m_done);
    const qint64 copied =
        destination.copyFrom(source, count, [&](qint64 done) { report(shownName, m_done + done); });
    m_done += copied;
}

void CopyingJob::Run::commit(FileReplacement &destination, const QString &shownName)
{
    // A signal ends the program after the sink has heard of the file, never between.
    RunWithInterruptsHeld([&] {
        destination.commit();
        if (m_sink)
            m_sink->written(shownName);
    });
}
