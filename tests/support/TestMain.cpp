#include <gtest/gtest.h>

#ifdef QUILLARY_TEST_GUI
#include <QApplication>
#include <QStyleHints>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The PDF module of this build tree, which the tests' executables do not sit beside.
    if (qEnvironmentVariableIsEmpty("QUILLARY_MODULE_DIR"))
        qputenv("QUILLARY_MODULE_DIR", QUILLARY_MODULE_BUILD_DIR);
#ifdef QUILLARY_TEST_GUI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication app(argc, argv);
#ifdef QUILLARY_TEST_GUI
    // Tests click a card as soon as it is shown; the double-click guard's test sets it back.
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(0);
#endif
    return RUN_ALL_TESTS();
}
