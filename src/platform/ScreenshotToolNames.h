#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>

namespace quillary {

// File names that the screenshot tools saving into one folder give their screenshots, for tools
// whose names carry no screenshot marker (Flameshot's and ksnip's dates and times).
struct ScreenshotToolNames {
    QList<QRegularExpression> patterns; // each over the whole file name, anchored

    bool matches(const QString& fileName) const;
};

// The PNG file names Flameshot makes from its strftime-style `filenamePattern` (empty: its default
// "%F_%H-%M"): a conversion that prints digits becomes those digits, any other (words of the locale,
// or one Flameshot leaves as it is) any text; ':' and '/' as Flameshot turns them into file-name
// characters, and "_N" as it numbers a name already taken.
QRegularExpression flameshotFileNames(const QString& pattern);

// The PNG file names ksnip makes from its `SaveFilename` (empty: its default "ksnip_$Y$M$D-$T"):
// `$Y` `$M` `$D` `$h` `$m` `$s` `$T` become digits, the `#`s from the first to the last a counter of
// at least that many digits, and "(N)" as ksnip numbers a name already taken.
QRegularExpression ksnipFileNames(const QString& pattern);

} // namespace quillary
