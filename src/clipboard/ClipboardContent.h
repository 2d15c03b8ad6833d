#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

namespace quillary {

// Whether the clipboard holds a reference to files, as a file manager puts it there when files are
// copied: its own copied-files types, or a "text/uri-list" that names at least one file: URL.
// `read` gives the data of one offered type. Such content is never taken for a screenshot, even when
// it carries an image of the file too.
bool offersFileReference(const QStringList& formats, const std::function<QByteArray(const QString&)>& read);

// The offered type to read the image from: "image/png" when offered, else the first other image type
// that can be decoded, bitmap types before vector ones; empty when no image is offered.
QString pickImageFormat(const QStringList& formats);

// "Clipboard_<seconds>.png" for the first attempt, "Clipboard_<seconds>-<attempt>.png" after it.
QString clipboardFileName(qint64 secondsSinceEpoch, int attempt);

// The "ClipBoard" folder inside the standard folder named `syncFolderName` (the desktop for an empty
// or unknown name), as an absolute path.
QString clipboardFolderPath(const QString& syncFolderName);

} // namespace quillary
