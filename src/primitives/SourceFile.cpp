#include "primitives/SourceFile.h"

std::shared_ptr<const SourceFile> SourceFile::open(const QString &fileName)
{
    std::shared_ptr<SourceFile> file(new SourceFile(fileName));
    if (fileName.isEmpty() || !file->openShared())
        return nullptr;
    return file;
}

SourceFile::~SourceFile()
{
    release();
}
