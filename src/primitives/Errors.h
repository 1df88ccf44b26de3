#pragma once

#include <QString>
#include <exception>

// The one failure type of the program: a message text, shown as it stands by the
// default error display. Every operation that fails throws it.
class QuorvaneError : public std::exception
{
  public:
    explicit QuorvaneError(QString message);
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

  private:
    QString m_message;
    QByteArray m_utf8;
};

namespace Errors {

// A message as it is shown: a full stop is added unless it ends with one or with another
// character that sorts before it.
QString withFullStop(const QString &message);
// The system's description of an error code, without trailing blanks, control
// characters and full stops; a lock held by another opener reads as a sharing violation.
QString systemDescription(int errorCode);
// The system's own text for an error code (platform layer).
QString systemErrorText(int errorCode);
#ifdef Q_OS_WIN
constexpr int SharingViolation = 32; // ERROR_SHARING_VIOLATION
#else
constexpr int SharingViolation = -32; // a lock held by another opener
#endif

// The DOS-style code of a system error code: 2 missing file or path, 3 invalid name,
// 4 too many open files, 5 access denied, 32 sharing violation; other codes unchanged.
int dosErrorCode(int errorCode);

QuorvaneError openError(const QString &fileName, int errorCode);
QuorvaneError createError(const QString &fileName, int errorCode);
QuorvaneError readError();
QuorvaneError writeError();
QuorvaneError encodingError();
QuorvaneError memoCapacityError();
QuorvaneError conversionError(const QString &text);
QuorvaneError divisionByZero();
QuorvaneError floatDivisionByZero();
QuorvaneError cannotInsertLine();
QuorvaneError outOfMemory();
} // namespace Errors
