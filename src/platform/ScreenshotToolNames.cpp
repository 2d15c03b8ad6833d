#include "platform/ScreenshotToolNames.h"

#include <algorithm>
#include <utility>

namespace quillary {
namespace {

// What a conversion that prints words of the locale (or one a tool leaves as it is) may stand for.
const QString anyText = QStringLiteral(".+");

QString digits(int count)
{
    return QStringLiteral("[0-9]{%1}").arg(count);
}

// Flameshot replaces these two after formatting, the conversions' output included.
QString flameshotLiteral(QString text)
{
    return QRegularExpression::escape(text.replace(u'/', u'\u2044').replace(u':', u'-'));
}

QString flameshotConversion(QChar conversion)
{
    switch (conversion.unicode()) {
    case u'Y':
    case u'G':
        return digits(4);
    case u'C':
    case u'y':
    case u'g':
    case u'm':
    case u'd':
    case u'H':
    case u'I':
    case u'M':
    case u'S':
    case u'U':
    case u'V':
    case u'W':
        return digits(2);
    case u'e':
        return QStringLiteral("[ 0-9][0-9]");
    case u'j':
        return digits(3);
    case u'u':
    case u'w':
        return digits(1);
    case u'F':
        return flameshotConversion(u'Y') + u'-' + digits(2) + u'-' + digits(2);
    case u'T':
        return digits(2) + u'-' + digits(2) + u'-' + digits(2);
    case u'R':
        return digits(2) + u'-' + digits(2);
    case u'D':
        return digits(2) + flameshotLiteral(QStringLiteral("/")) + digits(2) +
               flameshotLiteral(QStringLiteral("/")) + digits(2);
    case u'z':
        return QStringLiteral("[+-]") + digits(4);
    case u'n':
        return flameshotLiteral(QStringLiteral("\n"));
    case u't':
        return flameshotLiteral(QStringLiteral("\t"));
    case u'%':
        return flameshotLiteral(QStringLiteral("%"));
    default:
        return anyText;
    }
}

// A pattern's expression, from its literal text and its fields in turn. Fields that may stand for
// any text and follow each other become one `.{n,}`, so that a pattern with many of them in a row
// cannot make the match backtrack through every way of sharing the text out between them.
class NameExpression {
public:
    explicit NameExpression(QString (*escape)(QString))
        : m_escape(escape)
    {
    }

    void addLiteral(QChar c) { m_literal += c; }

    void addField(const QString& field)
    {
        if (!m_literal.isEmpty()) {
            endAnyText();
            m_expression += m_escape(std::exchange(m_literal, {}));
        }
        if (field == anyText) {
            ++m_anyTextFields;
        } else {
            endAnyText();
            m_expression += field;
        }
    }

    QString finish()
    {
        addField({});
        endAnyText();
        return m_expression;
    }

private:
    void endAnyText()
    {
        if (m_anyTextFields > 0)
            m_expression += QStringLiteral(".{%1,}").arg(std::exchange(m_anyTextFields, 0));
    }

    QString (*m_escape)(QString);
    QString m_expression;
    QString m_literal; // escaped as a run, so that a surrogate pair stays whole
    int m_anyTextFields = 0;
};

QString plainLiteral(QString text)
{
    return QRegularExpression::escape(text);
}

QRegularExpression wholeName(const QString& expression, const QString& takenNameSuffix)
{
    // A name may hold line breaks, which "." must match too.
    return QRegularExpression(QRegularExpression::anchoredPattern(
                                  QStringLiteral("(?:%1)(?:%2)?\\.png").arg(expression, takenNameSuffix)),
                              QRegularExpression::DotMatchesEverythingOption);
}

} // namespace

bool ScreenshotToolNames::matches(const QString& fileName) const
{
    return std::any_of(patterns.cbegin(), patterns.cend(),
                       [&](const QRegularExpression& pattern) { return pattern.match(fileName).hasMatch(); });
}

QRegularExpression flameshotFileNames(const QString& pattern)
{
    const QString text = pattern.isEmpty() ? QStringLiteral("%F_%H-%M") : pattern;
    NameExpression expression(&flameshotLiteral);
    for (qsizetype i = 0; i < text.size(); ++i) {
        // strftime writes a `%` before a character that is not ASCII out as it stands, as it does a
        // trailing one; the character then joins the literal whole, both halves of a pair included.
        if (text[i] != u'%' || i + 1 == text.size() || text[i + 1].unicode() >= 0x80)
            expression.addLiteral(text[i]);
        else
            expression.addField(flameshotConversion(text[++i]));
    }
    return wholeName(expression.finish(), QStringLiteral("_[0-9]+"));
}

QRegularExpression ksnipFileNames(const QString& pattern)
{
    const QString text = pattern.isEmpty() ? QStringLiteral("ksnip_$Y$M$D-$T") : pattern;
    const qsizetype firstHash = text.indexOf(u'#');
    const qsizetype lastHash = text.lastIndexOf(u'#');
    NameExpression expression(&plainLiteral);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i == firstHash) {
            expression.addField(QStringLiteral("[0-9]{%1,}").arg(text.count(u'#')));
            i = lastHash;
            continue;
        }
        const QChar next = i + 1 < text.size() ? text[i + 1] : QChar();
        if (text[i] != u'$' || !(next.isLetter() && next.unicode() < 0x80)) {
            expression.addLiteral(text[i]);
            continue;
        }
        ++i;
        if (next == u'Y')
            expression.addField(digits(4));
        else if (next == u'T')
            expression.addField(digits(6));
        else if (QStringLiteral("MDhms").contains(next))
            expression.addField(digits(2));
        else
            expression.addField(anyText); // ksnip leaves it as it is; newer versions may know it
    }
    return wholeName(expression.finish(), QStringLiteral("\\([0-9]+\\)"));
}

} // namespace quillary
