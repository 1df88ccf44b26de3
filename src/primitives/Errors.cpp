#include "primitives/Errors.h"

#include <QDir>

QuorvaneError::QuorvaneError(QString message)
    : m_message(std::move(message)), m_utf8(m_message.toUtf8())
{
}

namespace Errors {

QString withFullStop(const QString &message)
{
    if (!message.isEmpty() && message.back() > QChar(u'.'))
        return message + u'.';
    return message;
}

QString systemDescription(int errorCode)
{
    QString text = systemErrorText(errorCode);
    while (!text.isEmpty() && (text.back() <= QChar(' ') || text.back() == QChar('.')))
        text.chop(1);
    return text;
}

// The name completed against the current folder; an empty name stays empty (it names no
// file, not the folder).
static QString absoluteName(const QString &fileName)
{
    if (fileName.isEmpty())
        return fileName;
    return QDir::toNativeSeparators(QDir::cleanPath(QDir::current().absoluteFilePath(fileName)));
}

QuorvaneError openError(const QString &fileName, int errorCode)
{
    return QuorvaneError(QStringLiteral("Impossible d'ouvrir le fichier \"%1\". %2")
                             .arg(absoluteName(fileName), systemDescription(errorCode)));
}

QuorvaneError createError(const QString &fileName, int errorCode)
{
    return QuorvaneError(QStringLiteral("Impossible de créer le fichier \"%1\". %2")
                             .arg(absoluteName(fileName), systemDescription(errorCode)));
}

QuorvaneError readError()
{
    return QuorvaneError(QStringLiteral("Erreur de lecture du flux"));
}
QuorvaneError writeError()
{
    return QuorvaneError(QStringLiteral("Erreur d'écriture dans le flux"));
}
QuorvaneError encodingError()
{
    return QuorvaneError(QStringLiteral(
        "Aucun mappage pour le caractère Unicode n'existe dans la page de code multi-octet cible"));
}
QuorvaneError memoCapacityError()
{
    return QuorvaneError(QStringLiteral("Le texte dépasse la capacité du mémo"));
}
QuorvaneError conversionError(const QString &text)
{
    return QuorvaneError(QStringLiteral("'%1' n'est pas une valeur entière correcte").arg(text));
}
QuorvaneError divisionByZero()
{
    return QuorvaneError(QStringLiteral("Division par zéro"));
}
QuorvaneError floatDivisionByZero()
{
    return QuorvaneError(QStringLiteral("Division par zéro en virgule flottante"));
}
QuorvaneError cannotInsertLine()
{
    return QuorvaneError(QStringLiteral("Impossible d'insérer une ligne"));
}

QuorvaneError outOfMemory()
{
    return QuorvaneError(QStringLiteral("Mémoire insuffisante"));
}

} // namespace Errors
