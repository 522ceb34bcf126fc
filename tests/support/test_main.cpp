// Shared main of the test programs: a Qt application object for the event
// loop, no real command ever run, and a scratch data root, so nothing a test
// does touches this machine.
#include "platform/system/commandrunner.h"
#include "platform/system/dataroot.h"

#include <QGuiApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef ORVALE_LSAN_SUPPRESSIONS
// Defaults of the sanitizer build (the environment's options still win).
extern "C" const char* __lsan_default_options()
{
    return "suppressions=" ORVALE_LSAN_SUPPRESSIONS ":print_suppressions=0";
}
extern "C" const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
#endif

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);

    platform::CommandRunner::instance().setMode(platform::CommandRunner::Mode::Simulated);
    platform::CommandRunner::instance().setQueriesFromFixturesOnly(true);

    QTemporaryDir root(QDir::tempPath() + "/orvale-root-XXXXXX");
    platform::DataRoot::setRoot(root.path());

    return RUN_ALL_TESTS();
}
