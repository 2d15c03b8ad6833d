#pragma once

#include <QDate>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

namespace quillary {

struct FolderConfig;

// How a screenshot moved into a folder is named, computed afresh for every move.
struct NamingRule {
    bool isRenamingEnabled = false;
    QString prefix;
    bool includeDate = false;
    QString fileFormat;

    friend bool operator==(const NamingRule&, const NamingRule&) = default;
};

// `globalRule` when it is on (the global renaming options), else the folder's own rule.
NamingRule effectiveNamingRule(const FolderConfig& folder, const NamingRule& globalRule);

// The longest file name a folder takes, in bytes.
inline constexpr qsizetype kMaxFileNameBytes = 255;

// The part of a numbered name before "_<number>.<extension>": the prefix made safe as a name
// (safeFileNameComponent), then "_" and `date` when there is one. The prefix is shortened, between
// characters, as far as needed for the whole name to fit in kMaxFileNameBytes with any number up to
// 18 digits, so a long prefix never makes a name the folder refuses.
QString numberedNameBase(const QString& prefix, const QString& date, const QString& extension);

// The first free "<prefix>[_<yyyy-MM-dd>]_<nnn>.<ext>" in `targetDirectory`: free means no entry of
// that name exists in the folder and the path is not in `reservedPaths` (names promised to moves
// still in progress). Lists the folder once. A URL that is not a local file gives an empty URL.
QUrl nextFreeNumberedName(const QUrl& targetDirectory, const NamingRule& rule, const QDate& today,
                          const QSet<QString>& reservedPaths = {});

// The `count` names that as many calls of nextFreeNumberedName would give one after another, each
// name reserved before the next call; the folder is listed once for all of them. Empty for a URL
// that is not a local file.
QList<QUrl> nextFreeNumberedNames(const QUrl& targetDirectory, const NamingRule& rule, const QDate& today,
                                  qsizetype count, const QSet<QString>& reservedPaths = {});

} // namespace quillary
