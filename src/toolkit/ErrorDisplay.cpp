#include "toolkit/ErrorDisplay.h"

#include "primitives/Errors.h"
#include "toolkit/Pump.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace ErrorDisplay {

namespace {
QString &titleStorage()
{
    static QString title = QStringLiteral("Quorvane");
    return title;
}
std::function<void(const QString &)> &sinkStorage()
{
    static std::function<void(const QString &)> sink;
    return sink;
}
} // namespace

QString titleFromExecutable(const QString &path)
{
    QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.front() + name.mid(1).toLower();
    return name;
}

QString applicationTitle()
{
    return titleStorage();
}
void setApplicationTitle(const QString &title)
{
    titleStorage() = title;
}

void setSink(std::function<void(const QString &)> sink)
{
    sinkStorage() = std::move(sink);
}

void showError(const QString &message)
{
    const QString text = Errors::withFullStop(message);
    if (sinkStorage()) {
        sinkStorage()(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal); // the other windows wait for OK
    box.exec();
}

QString currentExceptionMessage()
{
    try {
        throw;
    } catch (const QuorvaneError &e) {
        return e.message();
    } catch (const std::bad_alloc &) {
        return Errors::outOfMemory().message();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Exception inconnue");
    }
}

void runGuarded(const std::function<void()> &handler)
{
    QString failure;
    try {
        handler();
        Pump::flushBatches();
        return;
    } catch (...) {
        failure = currentExceptionMessage();
    }
    try {
        Pump::flushBatches();
    } catch (...) {
    }
    showError(failure);
}

bool runInView(QString &lastShown, const std::function<void()> &work)
{
    try {
        work();
        return true;
    } catch (...) {
        const QString message = currentExceptionMessage();
        if (message != lastShown) {
            lastShown = message;
            QMetaObject::invokeMethod(
                qApp, [message] { showError(message); }, Qt::QueuedConnection);
        }
        return false;
    }
}

bool dispatchInView(QString &lastShown, const std::function<bool()> &dispatch)
{
    bool handled = false;
    runInView(lastShown, [&] { handled = dispatch(); });
    return handled;
}

void connectClick(QAbstractButton *button, std::function<void()> handler)
{
    QObject::connect(button, &QAbstractButton::clicked, button,
                     [handler = std::move(handler)] { runGuarded(handler); });
}

} // namespace ErrorDisplay
