#pragma once

// Declarations shared by the portable primitives and their platform layer, and the list of
// what the platform layer defines: on Linux the files of linux/ (Handles, Replacement,
// Identity, Spill, Console, Sha256), on Windows Platform_win.cpp and windows/Sha256.cpp. Both
// define, by the header that declares it:
// - FileStream.h: FileStream's handle (openHandle, the standard input's constructor, close,
//   size, position, setPosition, read, write, resize, copyFrom); FileReplacement (its
//   constructor and destructor, write, wrote, commit, copyOverTarget, discardTemporary);
//   NativeFileName, FileNameFromNative, FileSizeOf, FileExists, SameFile,
//   IgnoreFileSizeLimitSignal.
// - Process.h: every function it declares.
// - SpillFile.h: SpillFile::create, release, writeAt, read.
// - SourceFile.h: SourceFile::openShared, release, read, blocksReplacement.
// - TextFile.h: decodeSystemCodePage, decodesAsLatin1, appendSystemCodePage (both),
//   systemCodePageBom (Windows-1252 on Linux, through Windows1252.h).
// - Errors.h: Errors::systemErrorText, Errors::dosErrorCode.
// - Sha256.h: all of Sha256 (OpenSSL's libcrypto on Linux, CNG on Windows).
// - here: PlatformErrors' codes (the portable FileStream.cpp defines parseMode and
//   temporaryName).
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
