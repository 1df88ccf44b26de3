#include "toolkit/FileDrop.h"

#include "toolkit/ErrorDisplay.h"

#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace FileDrop {

namespace {

// Watches the window and every widget in it for drags of local files.
class Filter : public QObject
{
  public:
    Filter(QWidget *window, std::function<bool()> accepting,
           std::function<void(const QStringList &)> take)
        : QObject(window), m_accepting(std::move(accepting)), m_take(std::move(take))
    {
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (localFiles(drag->mimeData()).isEmpty() || !m_accepting())
                return false; // left to the widget, which takes text as it always did
            drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            const QStringList files = localFiles(drop->mimeData());
            if (files.isEmpty() || !m_accepting())
                return false;
            drop->acceptProposedAction();
            // The drop ends first; what it starts may run long and pump messages.
            QTimer::singleShot(0, this, [this, files] {
                if (m_accepting())
                    ErrorDisplay::runGuarded([&] { m_take(files); });
            });
            return true;
        }
        default:
            return false;
        }
    }

  private:
    std::function<bool()> m_accepting;
    std::function<void(const QStringList &)> m_take;
};

} // namespace

QStringList localFiles(const QMimeData *data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        files << QDir::toNativeSeparators(url.toLocalFile());
    }
    return files;
}

void install(QWidget *window, std::function<bool()> accepting,
             std::function<void(const QStringList &)> take)
{
    auto *filter = new Filter(window, std::move(accepting), std::move(take));
    window->setAcceptDrops(true);
    window->installEventFilter(filter);
    for (QWidget *child : window->findChildren<QWidget *>())
        child->installEventFilter(filter);
}

} // namespace FileDrop
