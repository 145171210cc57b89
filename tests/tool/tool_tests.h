#pragma once

#include <QtTest>

#include <functional>

// The tool's test classes are one program, tool_tests: `tool_tests CLASS [Qt Test arguments]` runs
// one class as Qt Test's own main would, each class a test of its own in ctest. One program links
// Qt and the tool once instead of once for each class.
namespace zendrik::tool::testing {

// Runs one class, its application made first; gives Qt Test's exit status.
using ToolTestRun = std::function<int(int argc, char** argv)>;

// Adds a class to the program; at its start, before main. Gives true, for a static's initialiser.
bool RegisterToolTest(const char* name, ToolTestRun run);

}  // namespace zendrik::tool::testing

// As QTEST_MAIN and QTEST_GUILESS_MAIN: the application is made, then the class, then it is run.
#define ZENDRIK_TOOL_TEST_WITH(TestObject, Application)                                     \
    static const bool TestObject##Registered =                                              \
        ::zendrik::tool::testing::RegisterToolTest(#TestObject, [](int argc, char** argv) { \
            QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>();              \
            Application app(argc, argv);                                                    \
            app.setAttribute(Qt::AA_Use96Dpi, true);                                        \
            TestObject test;                                                                \
            return QTest::qExec(&test, argc, argv);                                         \
        })
#define ZENDRIK_TOOL_TEST(TestObject) ZENDRIK_TOOL_TEST_WITH(TestObject, QApplication)
#define ZENDRIK_TOOL_TEST_GUILESS(TestObject) ZENDRIK_TOOL_TEST_WITH(TestObject, QCoreApplication)
