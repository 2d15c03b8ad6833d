// preference_writer FILE KEY bool|text|double VALUE
// Writes one value through the store and then kills itself, so nothing but the write itself can
// have put the value on disk.
#include "core/Preferences.h"

#include <QCoreApplication>

#include <csignal>

using namespace quillary;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5)
        return 2;
    Preferences store(args.at(1));
    const QByteArray name = args.at(2).toLatin1();
    const QString type = args.at(3);
    const QString value = args.at(4);
    if (type == u"bool")
        store.setBool({name.constData(), PreferenceType::Boolean, false}, value == u"true");
    else if (type == u"double")
        store.setDouble({name.constData(), PreferenceType::Double, false}, value.toDouble());
    else
        store.setText({name.constData(), PreferenceType::Text, false}, value);
    std::raise(SIGKILL);
    return 1;
}
