#pragma once

#include <QApplication>

#include <memory>

namespace quillary {

class AppDelegate;

// The application: the Qt application object and the one delegate that owns the run-time state.
// There is no main window; the app runs until Quit.
class QuillaryApp final {
public:
    QuillaryApp(int& argc, char** argv);
    ~QuillaryApp();

    // Runs the launch sequence once the event loop is up, then the loop itself.
    int exec();

    AppDelegate& delegate() { return *m_delegate; }

private:
    QApplication m_application;
    std::unique_ptr<AppDelegate> m_delegate;
};

} // namespace quillary
