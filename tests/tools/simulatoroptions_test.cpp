// The simulators as a person starts them: what they are given is checked
// before anything binds, a value that cannot be meant is refused with a
// message and exit code 2, and --help tells the defaults, the push modes and
// the interactive commands.
#include "support/programrun.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

using testsupport::runProgram;

TEST(SimulatorOptions, ValuesThatCannotBeMeantAreRefusedWithExitCodeTwo)
{
    struct Case {
        const char* program;
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {IOMODULESIM_BIN, {"--port", "99999"}, "--port \"99999\" is not a whole number from 1 to 65535"},
        {IOMODULESIM_BIN, {"--port", "0"}, "--port \"0\""},
        {IOMODULESIM_BIN, {"--camera-port", "-5"}, "--camera-port \"-5\""},
        {IOMODULESIM_BIN, {"--heartbeat-ms", "abc"}, "--heartbeat-ms \"abc\" is not a whole number"},
        {IOMODULESIM_BIN, {"--address", "1.2.3"}, "--address \"1.2.3\" is not an IP address"},
        {IOMODULESIM_BIN, {"--camera", "camera"}, "--camera \"camera\" is not an IP address"},
        {IOMODULESIM_BIN, {"--output-rest", "0101"}, "--output-rest \"0101\""},
        {IOMODULESIM_BIN, {"--no-such-option"}, "no-such-option"},
        {IOMODULESIM_BIN, {"stray"}, "unexpected argument \"stray\""},
        {APPSIM_BIN, {"--push-mode", "maybe"}, "--push-mode \"maybe\" is not one of answer, slow"},
        {APPSIM_BIN, {"--tcp-port", "65536"}, "--tcp-port \"65536\""},
        {APPSIM_BIN, {"--udp-port", "x"}, "--udp-port \"x\""},
        {APPSIM_BIN, {"--read-rate", "fast"}, "--read-rate \"fast\""},
        {APPSIM_BIN, {"--app-time", "noon"}, "--app-time \"noon\""},
        {APPSIM_BIN, {"--address", "300.1.1.1"}, "--address \"300.1.1.1\""},
        {SUBCAMSIM_BIN, {"--port", "70000"}, "--port \"70000\""},
        {SUBCAMSIM_BIN, {"--rest-port", "ten"}, "--rest-port \"ten\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((QString::fromLatin1(c.program).section('/', -1) + " " + c.args.join(' ')).toStdString());
        const testsupport::ProgramRun r = runProgram(c.program, c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
    }
}

TEST(SimulatorOptions, HelpShowsDefaultsPushModesAndCommands)
{
    const testsupport::ProgramRun app = runProgram(APPSIM_BIN, {"--help"});
    EXPECT_EQ(app.exitCode, 0);
    for (const char* text : {"(default 10416)", "(default 10417)", "(default answer)", "closemidbody", "wronguuid"})
        EXPECT_TRUE(app.out.contains(text)) << text << " in\n" << app.out.toStdString();

    const testsupport::ProgramRun io = runProgram(IOMODULESIM_BIN, {"--help"});
    EXPECT_EQ(io.exitCode, 0);
    for (const char* text : {"(default 10411)", "rise N | fall N", "part in | part out", "show hb | hide hb",
                             "status", "quit"})
        EXPECT_TRUE(io.out.contains(text)) << text << " in\n" << io.out.toStdString();
}

}  // namespace
