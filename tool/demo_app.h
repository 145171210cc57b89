#pragma once

#include <QApplication>

namespace zendrik::tool {

// The application: owns the toolkit, shows the main window modally and ends when it closes.
class CDemoApp {
  public:
    CDemoApp(int& argc, char** argv);

    // Runs the main window; the program's exit code does not depend on how it was closed.
    int Run();

  private:
    QApplication application_;
};

}  // namespace zendrik::tool
