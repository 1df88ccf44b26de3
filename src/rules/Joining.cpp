#include "rules/Joining.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"

namespace {

// Refuses a destination that is one of the pieces the join would read: creating it would
// empty that piece before it is read.
void checkDestination(const QString &destination, const QStringList &sources)
{
    if (!FileExists(destination))
        return; // a new file cannot be a piece
    for (const QString &source : sources) {
        QString name = source;
        for (int number = 1; FileExists(name); name = CompanionName(name, ++number))
            if (SameFile(name, destination))
                throw QuorvaneError(
                    QStringLiteral("The destination \"%1\" is one of the files to join (%2)")
                        .arg(destination, name));
    }
}

} // namespace

QString CompanionName(const QString &fileName, int number)
{
    const qsizetype dot = ExtensionDot(fileName);
    return fileName.left(dot < 0 ? fileName.size() : dot) + QStringLiteral("._") +
           QString::number(number);
}

void JoinFileInto(const QString &fileName, FileStream &destination)
{
    int number = 1;
    for (QString name = fileName; FileExists(name); name = CompanionName(name, ++number)) {
        FileStream piece(name, FileMode::OpenReadDenyWrite);
        CopyFrom(destination, piece, 0);
    }
}

void JoinFiles(const QString &destinationName, const QStringList &sources,
               const std::function<void(const QString &)> &passedOver)
{
    checkDestination(destinationName, sources);
    FileStream destination(destinationName, FileMode::CreateExclusive);
    for (const QString &source : sources) {
        if (passedOver && !FileExists(source))
            passedOver(source);
        JoinFileInto(source, destination);
    }
}
