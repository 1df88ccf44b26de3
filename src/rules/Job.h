#pragma once

// What the tools' jobs share: the one way a job is stopped, and the base of the sinks of the
// jobs that read a file's lines.
#include <QtGlobal>
#include <limits>

// Whether a job goes on: set when it starts, cleared (the window's Stop, a window closing)
// to end it where the job next looks: a scan's or an edit's next line, a copy's next report.
// A job names its flag as its tool names it (ExtractionRunning, EditRunning).
class RunFlag
{
  public:
    constexpr RunFlag(bool running) : m_running(running) {}
    RunFlag &operator=(bool running)
    {
        m_running = running;
        return *this;
    }
    constexpr operator bool() const { return m_running; }

  private:
    bool m_running;
};

// Where a job that reads a file's lines hands them. A sink that takes parts is handed a line
// longer than MaxPart a part at a time instead of whole, in memory bounded whatever the
// line's length.
class LineSink
{
  public:
    virtual ~LineSink() = default;
    static constexpr qsizetype MaxPart = 1 << 18; // and the longest part
    virtual bool takesParts() const { return false; }
    // The most characters of a line handed at once.
    qsizetype partChars() const
    {
        return takesParts() ? MaxPart : std::numeric_limits<qsizetype>::max();
    }
};
