#pragma once

#include <QByteArray>
#include <QString>

namespace quillary {

// File names on Linux are bytes, usually but not always UTF-8. These two functions carry a name
// from the file system into a QString and back without losing a byte: valid UTF-8 is decoded as
// usual, and each byte that is not part of valid UTF-8 becomes the lone surrogate U+DC80 + (byte -
// 0x80), which no valid UTF-8 decodes to. QFile::encodeName/decodeName replace such bytes with
// U+FFFD instead, so a name taken from a listing could not be opened again.
//
// Every path handed to a system call must go through toNativePath; Qt's own file classes (QFile,
// QFileInfo, QDir) are fine only for paths Quillary built from clean text.
QString fromNativePath(const QByteArray& bytes);
QByteArray toNativePath(const QString& path);

// What lies at `path`, asked by its bytes: anything at all (a dangling link too), or a directory
// (links followed).
bool pathExists(const QString& path);
bool isDirectory(const QString& path);

// `name` inside `folder`, with exactly one "/" between them. Nothing else is cleaned or resolved, so
// escaped bytes survive.
QString joinPath(const QString& folder, const QString& name);

// The longest start of `text` whose native form (toNativePath) takes at most `maxBytes` bytes. It
// never ends inside a character: a multi-byte UTF-8 sequence or a surrogate pair is kept whole or
// left out whole, so the shortened name shows the same characters as the start of the full one.
QString truncatedToNativeBytes(const QString& text, qsizetype maxBytes);

// Makes user text (a folder name, a naming prefix) safe as one file-name component: "/" and ":"
// (a separator here and on other systems), NUL and the other control characters each become "-",
// and a name that is only "." or ".." becomes dashes, so a name can never point elsewhere, end
// early at a NUL, or hide a line break in a listing.
QString safeFileNameComponent(const QString& text);

} // namespace quillary
