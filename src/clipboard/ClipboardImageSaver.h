#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace quillary {

class OwnOutputs;

// Turns one clipboard image into a PNG file, skipping an image identical to the last one written
// until that one is forgotten. Not thread-safe: it belongs to the one worker thread that saves
// clipboard images in order.
class ClipboardImageSaver final {
public:
    enum class Outcome {
        written,    // `path` holds the new file
        duplicate,  // the same PNG as the last one written: nothing written
        notAnImage, // the data does not decode to an image
        notEncoded, // the image could not be encoded as PNG
        notWritten, // the folder could not be written
    };
    struct Result {
        Outcome outcome;
        QString path;
    };

    explicit ClipboardImageSaver(OwnOutputs& ownOutputs);

    // Decodes `encodedImage`, makes `folder` if needed, encodes the image as PNG and writes it as
    // "Clipboard_<seconds>.png" there, or "-2", "-3", … when that name is taken; never replaces a file.
    Result save(const QByteArray& encodedImage, const QString& folder, qint64 secondsSinceEpoch);

    // From now on the last image written is no longer a duplicate of anything.
    void forgetLastImage();

private:
    OwnOutputs& m_ownOutputs;
    std::optional<QByteArray> m_lastPng;
};

} // namespace quillary
