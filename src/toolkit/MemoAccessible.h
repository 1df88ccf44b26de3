#pragma once

#include <QAccessibleInterface>

// What screen readers and accessibility-based tools read of a Memo (its text by offsets,
// characters, words and lines, the cursor and the selection): the factory the memo installs.
QAccessibleInterface *memoAccessibleFactory(const QString &className, QObject *object);
