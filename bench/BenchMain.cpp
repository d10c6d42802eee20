// Runs the benchmarks with the console report, then prints one line per comparison pair:
// "RATIO <name> <ours/peer>", the real time per iteration of "<name>/ours" divided by that of "<name>/peer".

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Real time per iteration of one side of a pair, by the kind of run that measured it.
struct VSideTimes {
    bool fHasSingle = false;
    bool fHasMedian = false;
    bool fHasMean = false;
    double fSingle = 0;
    double fMedian = 0;
    double fMean = 0;
};

struct VPair {
    VSideTimes fOurs;
    VSideTimes fPeer;
};

// Shows every run through the console reporter and keeps the times of the pairs' sides.
class VPairingReporter : public benchmark::BenchmarkReporter {
public:
    // Colours only on a terminal, so that logs stay plain text.
    VPairingReporter()
        : fConsole(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Color : benchmark::ConsoleReporter::OO_None) {
    }

    bool ReportContext(const Context& context) override {
        fConsole.SetOutputStream(&GetOutputStream());
        fConsole.SetErrorStream(&GetErrorStream());
        return fConsole.ReportContext(context);
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        fConsole.ReportRuns(runs);
        for (const Run& run : runs)
            _Keep(run);
    }

    void Finalize() override { fConsole.Finalize(); }

    // Prints the ratios of the pairs whose two sides both ran, in name order.
    void PrintRatios() const {
        for (const auto& [name, pair] : fPairs) {
            double ours = 0;
            double peer = 0;
            if (!_Comparable(pair, ours, peer)) {
                std::fprintf(stderr, "no ratio for %s: one side did not run\n", name.c_str());
                continue;
            }
            std::printf("RATIO %s %.3f\n", name.c_str(), ours / peer);
        }
        std::fflush(stdout);
    }

private:
    // The pair name and side of a run: "x/ours/64/real_time" is side ours of pair "x/64". False for a run of no pair.
    static bool _SplitName(const Run& run, std::string& pairName, bool& isOurs) {
        const std::string& function = run.run_name.function_name;
        static const std::string kOurs = "/ours";
        static const std::string kPeer = "/peer";
        auto endsWith = [&](const std::string& suffix) {
            return function.size() > suffix.size() &&
                   function.compare(function.size() - suffix.size(), suffix.size(), suffix) == 0;
        };
        if (endsWith(kOurs)) {
            isOurs = true;
        } else if (endsWith(kPeer)) {
            isOurs = false;
        } else {
            return false;
        }
        // Arguments stay in the pair's name ("x/64"); how time was measured ("real_time") does not.
        pairName = function.substr(0, function.size() - kOurs.size());
        if (!run.run_name.args.empty()) pairName += "/" + run.run_name.args;
        return true;
    }

    void _Keep(const Run& run) {
        if (run.error_occurred) return;
        std::string pairName;
        bool isOurs = false;
        if (!_SplitName(run, pairName, isOurs)) return;
        VPair& pair = fPairs[pairName];
        VSideTimes& side = isOurs ? pair.fOurs : pair.fPeer;
        // Seconds, so that the two sides may use different display units.
        double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        if (run.run_type == Run::RT_Aggregate) {
            if (run.aggregate_unit != benchmark::kTime) return;
            if (run.aggregate_name == "median") {
                side.fMedian = seconds;
                side.fHasMedian = true;
            } else if (run.aggregate_name == "mean") {
                side.fMean = seconds;
                side.fHasMean = true;
            }
            return;
        }
        // With repetitions the single runs are only the inputs of the aggregates.
        if (run.repetitions > 1) return;
        side.fSingle = seconds;
        side.fHasSingle = true;
    }

    // Picks the same kind of measure for both sides: medians, else means, else single runs.
    static bool _Comparable(const VPair& pair, double& ours, double& peer) {
        const VSideTimes& o = pair.fOurs;
        const VSideTimes& p = pair.fPeer;
        if (o.fHasMedian && p.fHasMedian) {
            ours = o.fMedian;
            peer = p.fMedian;
        } else if (o.fHasMean && p.fHasMean) {
            ours = o.fMean;
            peer = p.fMean;
        } else if (o.fHasSingle && p.fHasSingle) {
            ours = o.fSingle;
            peer = p.fSingle;
        } else {
            return false;
        }
        return peer > 0;
    }

    benchmark::ConsoleReporter fConsole;
    std::map<std::string, VPair> fPairs;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    VPairingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.PrintRatios();
    return 0;
}
