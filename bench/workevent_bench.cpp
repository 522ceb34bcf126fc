// A manual catch over the in-process camera-pair link with 0, 1 and 2 sub
// cameras, from activate_workevent to the complete answer (timed on the main
// camera's main thread, where the flow calls it), with stand-in
// detections of 0 and 20 ms; beside the same detections called directly,
// one thread per camera, in the same run. Prints median, p99, the difference
// and the ratio. Log output is dropped (the program's log files are not
// part of the measurement).
#include "support/cameragroup.h"
#include "support/grouppassport.h"

#include "roundstats.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using benchstats::roundStats;

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(benchstats::quietMessages);
    const QVariantMap datas = testsupport::passportDatas(
        [](FlowUnit_Passport&, FlowGroup_State&, FlowUnit_State& us) { us.fus_detect_index_abs = 0; });
    std::printf("%-6s %-8s %12s %12s %12s %12s %10s %10s\n", "subs", "detect", "ours_med_ms", "ours_p99_ms",
                "ref_med_ms", "ref_p99_ms", "diff_ms", "ratio");
    for (int subs = 0; subs <= 2; ++subs) {
        for (int detectMs : {0, 20}) {
            testsupport::CameraGroup group(subs);
            group.main().services.setDetectionMs(detectMs);
            for (int i = 1; i <= subs; ++i)
                group.sub(i).services.setDetectionMs(detectMs);
            const int rounds = detectMs == 0 ? 300 : 60;
            std::vector<double> ours, ref;
            for (int r = 0; r < rounds; ++r) {
                qint64 ns = 0;
                const QVariantMap answer = group.activate(QStringLiteral("/dide/action/manual_catch"), datas,
                                                          QStringLiteral("b-%1").arg(r), &ns);
                ours.push_back(double(ns) / 1e6);
                if (answer.value(QStringLiteral("work_error")).toInt() != 0) {
                    std::printf("workevent_bench: work error %d\n", answer.value(QStringLiteral("work_error")).toInt());
                    return 1;
                }
                testsupport::FakeGroupServices plain;
                plain.setDetectionMs(detectMs);
                QElapsedTimer t;
                t.start();
                std::vector<std::thread> cams;
                for (int c = 0; c <= subs; ++c)
                    cams.emplace_back([&plain] {
                        SCollect_Unit u;
                        plain.RunAlgorithm_New(0, u);
                    });
                for (std::thread& c : cams)
                    c.join();
                ref.push_back(double(t.nsecsElapsed()) / 1e6);
            }
            const benchstats::RoundStats o = roundStats(ours);
            const benchstats::RoundStats f = roundStats(ref);
            std::printf("%-6d %-8d %12.3f %12.3f %12.3f %12.3f %10.3f %10.2f\n", subs, detectMs, o.median, o.p99,
                        f.median, f.p99, o.median - f.median, f.median > 0 ? o.median / f.median : 0.0);
        }
    }
    return 0;
}
