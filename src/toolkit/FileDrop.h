#pragma once

#include <QStringList>
#include <functional>

class QMimeData;
class QWidget;

// Files dropped on a window: only local files are taken, anywhere on the window (its edit
// fields included), and handed over by their names in the order dropped, once the drop has
// ended. Nothing is taken while accepting() answers false (a run in progress).
namespace FileDrop {

void install(QWidget *window, std::function<bool()> accepting,
             std::function<void(const QStringList &files)> take);

// The local files among what is dragged; empty when there is anything else.
QStringList localFiles(const QMimeData *data);

} // namespace FileDrop
