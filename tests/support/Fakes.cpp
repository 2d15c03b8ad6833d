#include "support/Fakes.h"

namespace quillary::test {

namespace {

constexpr const char* sessionVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"};

} // namespace

SessionHome::SessionHome()
{
    for (const char* name : sessionVariables)
        m_savedEnvironment.append(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name))
                                                                  : std::nullopt);
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral(".config")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral(".local/share")).toUtf8());
}

SessionHome::~SessionHome()
{
    for (qsizetype i = 0; i < m_savedEnvironment.size(); ++i) {
        if (m_savedEnvironment[i])
            qputenv(sessionVariables[i], *m_savedEnvironment[i]);
        else
            qunsetenv(sessionVariables[i]);
    }
}

} // namespace quillary::test
