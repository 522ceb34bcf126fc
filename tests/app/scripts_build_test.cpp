// A build with nothing changed does nothing: the configure run that every
// scripts/build starts with rewrites no generated source, so neither the
// camera program nor the daemon is compiled or linked again. (Run on the
// tree the tests were built in; a tree with edits not yet built is built.)
#include <QProcess>

#include <gtest/gtest.h>

namespace {

QByteArray runTool(const QString& program, const QStringList& args, int* exitCode)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(240000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAll();
}

TEST(ScriptsBuild, AConfigureRunLeavesTheBuiltProgramsUpToDate)
{
    const QStringList configure{"-S", ORVALE_SOURCE_DIR, "-B", ORVALE_BUILD_DIR};
    const QStringList build{"--build", ORVALE_BUILD_DIR, "--target", "Orvale", "Tessid"};
    int code = -1;
    // Up to date first (in CI the programs already are), then as
    // scripts/build does it: configure, build.
    const QByteArray first = runTool("cmake", build, &code);
    ASSERT_EQ(code, 0) << first.toStdString();
    const QByteArray configured = runTool("cmake", configure, &code);
    ASSERT_EQ(code, 0) << configured.toStdString();
    const QByteArray again = runTool("cmake", build, &code);
    ASSERT_EQ(code, 0) << again.toStdString();
    EXPECT_TRUE(again.contains("no work to do")) << again.toStdString();
    EXPECT_FALSE(again.contains("Linking")) << again.toStdString();
}

}  // namespace
