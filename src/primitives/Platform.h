#pragma once

// Declarations shared by the portable primitives and their platform layer
// (Platform_linux.cpp or Platform_win.cpp).
#include <QByteArray>
#include <QtGlobal>

// A mode word taken apart by the general rule.
struct OpenMode
{
    bool create = false;
    int access = 0;  // 0 read, 1 write, 2 read and write
    int sharing = 0; // 0x00/0x10 exclusive, 0x20 deny write, 0x30 deny read, 0x40 deny none
};

// False for a mode word outside the scheme.
bool parseMode(quint16 mode, OpenMode &spec);

// A new name for a temporary beside its target: ".qv-" and six random letters or digits.
QByteArray temporaryName();

// System error codes the portable code reports.
namespace PlatformErrors {
extern const int InvalidParameter; // a mode word outside the scheme
extern const int FileNotFound;     // an empty file name
} // namespace PlatformErrors
