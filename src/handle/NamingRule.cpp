#include "handle/NamingRule.h"

#include "core/FileNames.h"
#include "folders/FolderConfig.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <vector>

namespace quillary {
namespace {

// The longest run of digits read as a number; no folder holds anywhere near 10^18 entries, so a
// longer run can never be the first free number and is skipped rather than overflowing.
constexpr qsizetype maxNumberDigits = 18;

// Recognises the names "<base>_<number>.<ext>" and gives the number they occupy. Names are matched
// in their on-disk encoding, so listing a folder decodes none of them.
class NumberedNameMatcher final {
public:
    NumberedNameMatcher(const QString& base, const QString& extension)
        : m_head(base + u'_')
        , m_tail(u'.' + extension)
        , m_encodedHead(toNativePath(m_head))
        , m_encodedTail(toNativePath(m_tail))
    {
    }

    QString render(qint64 number) const
    {
        return m_head + QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0')) + m_tail;
    }

    // The number the encoded `name` occupies, or 0. Only the exact three-or-more-digit rendering of
    // a number occupies it: "Quil_0001.png" and "Quil_01.png" occupy nothing.
    qint64 numberOf(QByteArrayView name) const
    {
        const qsizetype digitCount = name.size() - m_encodedHead.size() - m_encodedTail.size();
        if (digitCount < 3 || digitCount > maxNumberDigits || !name.startsWith(m_encodedHead) ||
            !name.endsWith(m_encodedTail))
            return 0;
        const QByteArrayView digits = name.sliced(m_encodedHead.size(), digitCount);
        if (digitCount > 3 && digits.front() == '0')
            return 0;
        qint64 number = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return 0;
            number = number * 10 + (c - '0');
        }
        return number;
    }

private:
    QString m_head;
    QString m_tail;
    QByteArray m_encodedHead;
    QByteArray m_encodedTail;
};

// Adds the numbers taken by entries of `directory`, whatever their kind (a dangling symlink too).
// A folder that cannot be listed adds nothing: a missing one is created by the caller, and in any
// other case the move refuses to replace what it finds, so a wrong guess loses no file.
void addListedNumbers(const QString& directory, const NumberedNameMatcher& matcher, std::vector<qint64>& used)
{
    forEachEntryName(directory, [&](QByteArrayView name) {
        if (const qint64 number = matcher.numberOf(name))
            used.push_back(number);
    });
}

} // namespace

QString numberedNameBase(const QString& prefix, const QString& date, const QString& extension)
{
    const QString datePart = date.isEmpty() ? QString() : u'_' + date;
    // "_", the number, "." and the extension follow the base.
    const qsizetype room = kMaxFileNameBytes - toNativePath(datePart).size() - 1 - maxNumberDigits - 1 -
                           toNativePath(extension).size();
    return truncatedToNativeBytes(safeFileNameComponent(prefix), std::max<qsizetype>(room, 0)) + datePart;
}

NamingRule effectiveNamingRule(const FolderConfig& folder, const NamingRule& globalRule)
{
    if (globalRule.isRenamingEnabled)
        return globalRule;
    return NamingRule{
        .isRenamingEnabled = folder.isRenamingEnabled,
        .prefix = folder.prefix,
        .includeDate = folder.includeDate,
        .fileFormat = folder.fileFormat,
    };
}

QUrl nextFreeNumberedName(const QUrl& targetDirectory, const NamingRule& rule, const QDate& today,
                          const QSet<QString>& reservedPaths)
{
    return nextFreeNumberedNames(targetDirectory, rule, today, 1, reservedPaths).value(0);
}

QList<QUrl> nextFreeNumberedNames(const QUrl& targetDirectory, const NamingRule& rule, const QDate& today,
                                  qsizetype count, const QSet<QString>& reservedPaths)
{
    // A separator or control character in the prefix would put the file in another folder, cut its
    // name short or fail the move; so would a name too long for the folder.
    const QString extension = rule.fileFormat.toLower();
    const QString date = rule.includeDate ? today.toString(QStringLiteral("yyyy-MM-dd")) : QString();
    const NumberedNameMatcher matcher(numberedNameBase(rule.prefix, date, extension), extension);
    const QString directory = targetDirectory.toLocalFile();
    if (directory.isEmpty())
        return {}; // not a local file URL

    std::vector<qint64> used;
    addListedNumbers(directory, matcher, used);
    const QString directoryPrefix = joinPath(directory, QString());
    for (const QString& path : reservedPaths) {
        if (!path.startsWith(directoryPrefix))
            continue;
        if (const qint64 number = matcher.numberOf(toNativePath(path.sliced(directoryPrefix.size()))))
            used.push_back(number);
    }

    // At most used.size() of the numbers 1 … used.size() + count are taken, so the first `count` free
    // ones are among them: a bitmap of that range answers, at a fraction of a hash set's cost.
    const qint64 last = qint64(used.size()) + count;
    std::vector<bool> taken(std::size_t(last) + 1);
    for (const qint64 number : used) {
        if (number <= last)
            taken[std::size_t(number)] = true;
    }
    // Each name given out counts as reserved for the next: the search goes on above it.
    QList<QUrl> names;
    names.reserve(count);
    qint64 number = 1;
    for (qsizetype i = 0; i < count; ++i, ++number) {
        while (taken[std::size_t(number)])
            ++number;
        names.append(QUrl::fromLocalFile(joinPath(directory, matcher.render(number))));
    }
    return names;
}

} // namespace quillary
