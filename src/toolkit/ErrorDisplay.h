#pragma once

#include <QString>
#include <functional>

class QAbstractButton;

// The application title, the default error display and the click guard that routes every
// failure of a handler to it.
namespace ErrorDisplay {

// "Quorvane.exe" or "/opt/bin/QUORVANE" gives "Quorvane": directory dropped, cut at the
// first full stop, first character kept, the others in lower case.
QString titleFromExecutable(const QString &path);
QString applicationTitle();
void setApplicationTitle(const QString &title);

// Shows the message (with the full stop rule of Errors::withFullStop) in a modal box with the error
// icon, titled with the application title, owned by the active window. Tests replace the box by a
// sink that records the message.
void showError(const QString &message);
void setSink(std::function<void(const QString &)> sink);

// The message of the exception being handled; call it inside a catch block.
QString currentExceptionMessage();

// Runs a handler; any exception that escapes it is shown by showError, after the batched
// contents of memos and list boxes have been handed to their views.
void runGuarded(const std::function<void()> &handler);

// Runs a view's own work inside an event (a paint, a key, a step of a search): a failure
// (a read of the spill file that fails) does not go through the event loop. It is shown at
// the next turn of the loop, unless it is the failure last shown for that view (lastShown,
// which the view clears when its content is replaced): a paint that fails again and again
// shows one message, not one after each OK. False when the work failed.
bool runInView(QString &lastShown, const std::function<void()> &work);
// An event handed on through runInView: whether it was handled (not, when it failed).
bool dispatchInView(QString &lastShown, const std::function<bool()> &dispatch);

// Connects a button's click to a handler run through runGuarded.
void connectClick(QAbstractButton *button, std::function<void()> handler);

} // namespace ErrorDisplay
