#pragma once

// What the long copies of Join Files and Cut Files share: progress reported by time and a
// stop that ends the copy at its next report.
#include "primitives/FileStream.h"
#include "rules/Job.h"

#include <QElapsedTimer>
#include <QString>

// Where a copy stands: the file being copied, the bytes done of the whole run, the speed.
struct CopyStatus
{
    QString fileName;
    qint64 done = 0;
    qint64 total = 0;
    qint64 bytesPerSecond = 0;
};

// Shown a copy's progress every few tens of milliseconds (a window pumps its messages
// there, and may ask the job to stop).
class CopySink
{
  public:
    virtual ~CopySink() = default;
    virtual void progress(const CopyStatus &status) = 0;
    // A file the run has written whole and put in place (a cut's piece).
    virtual void written(const QString &fileName) { Q_UNUSED(fileName); }
};

// Thrown out of a copy whose job was asked to stop.
struct CopyStopped
{
};

// A job made of long copies, reported to a sink and stopped on request.
class CopyingJob
{
  public:
    // How often the sink hears of the progress.
    static constexpr qint64 ReportMilliseconds = 40;

    // Asks the running copy to end at its next report; no effect when none runs.
    void stop();
    bool isCopying() const { return m_copying; }

  protected:
    // One run of total bytes: marks the job as copying while it lasts.
    class Run
    {
      public:
        Run(CopyingJob &job, qint64 total, CopySink *sink);
        ~Run();
        Run(const Run &) = delete;
        Run &operator=(const Run &) = delete;
        // CopyFrom into the replacement with the run's reports, which name shownName (the
        // file read or the file written); throws CopyStopped at a report after a stop.
        void copy(FileReplacement &destination, FileStream &source, qint64 count,
                  const QString &shownName);
        // Commits a file of the run and tells the sink it is written.
        void commit(FileReplacement &destination, const QString &shownName);
        // Tells the sink where the run stands, done bytes of it copied (at most every
        // ReportMilliseconds); throws CopyStopped after a stop.
        void report(const QString &fileName, qint64 done);
        // Counts bytes of the run done outside a copy (read again), and reports.
        void advance(const QString &shownName, qint64 bytes)
        {
            m_done += bytes;
            report(shownName, m_done);
        }
        // The bytes of the whole run, once known.
        void setTotal(qint64 total) { m_total = total; }

      private:
        CopyingJob &m_job;
        CopySink *m_sink;
        qint64 m_total;
        qint64 m_done = 0; // bytes of the copies finished before the current one
        QElapsedTimer m_started;
        qint64 m_lastReport = 0;
    };

  private:
    bool m_copying = false;
    RunFlag m_running = false; // cleared by stop while a run copies
};
