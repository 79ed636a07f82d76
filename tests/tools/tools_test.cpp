// Every tool of ours that judges refuses a wrong argument with status 2
// before it does anything, and a run that executed nothing fails: a typo
// must never turn a check into a silent pass.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int status = -1;
    std::string err;
};

// Runs `command` with `environment` added, stdout discarded.
Outcome RunTool(const std::vector<std::string>& command, const std::vector<std::string>& environment = {})
{
    char errPath[] = "/tmp/qz-tools-XXXXXX";
    int err = mkstemp(errPath);
    Outcome outcome;
    if (err < 0)
        return outcome;
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(err, 2);
        for (const std::string& setting : environment)
            putenv(const_cast<char*>(setting.c_str()));
        std::vector<char*> argv;
        for (const std::string& word : command)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    char buffer[4096];
    ssize_t n = pread(err, buffer, sizeof buffer, 0);
    outcome.err.assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    close(err);
    unlink(errPath);
    return outcome;
}

const std::string Scripts = std::string(QZ_SOURCE_DIR) + "/scripts/";

TEST(Tools, RefuseWrongArgumentsWithStatusTwo)
{
    struct Case {
        std::vector<std::string> command;
        std::vector<std::string> environment;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{QZ_CAMPAIGN, "--runs", "abc"}, {}, "--runs takes a number from 1 to"},
        {{QZ_CAMPAIGN, "--runs", "0"}, {}, "--runs takes a number from 1 to"},
        {{QZ_CAMPAIGN, "--runs", "-3"}, {}, "--runs takes a number"},
        {{QZ_CAMPAIGN, "--runs", "99999999999999999999999"}, {}, "--runs takes a number"},
        {{QZ_CAMPAIGN, "--runs"}, {}, "a number must follow \"--runs\""},
        {{QZ_CAMPAIGN, "--seed", "12x"}, {}, "--seed takes a number"},
        {{QZ_CAMPAIGN, "--timeout", "0"}, {}, "--timeout takes a number from 1"},
        {{QZ_CAMPAIGN, "--run", "one"}, {}, "--run takes a number"},
        {{QZ_CAMPAIGN, "--frobnicate"}, {}, "unknown argument \"--frobnicate\""},
        {{QZ_BENCH_ENGINE, "--quick"}, {}, "it takes none"},
#ifdef QZ_BENCH_LINUX
        {{QZ_BENCH_LINUX, "no such mode"}, {}, "no mode matches no such mode"},
        {{QZ_BENCH_LINUX, "--floor", "--runs", "0"}, {}, "N is a whole number from 1 to 99"},
        {{QZ_BENCH_LINUX, "--floor", "--runs"}, {}, "N is a whole number from 1 to 99"},
#endif
#ifdef QZ_BENCH_HW
        {{QZ_BENCH_HW, "--benchmark_repetitions=many"}, {}, ""},
#endif
        {{Scripts + "fuzz-long.sh", "--goal", "abc"}, {}, "--goal takes a whole number above 0"},
        {{Scripts + "fuzz-long.sh", "--hours"}, {}, "--hours needs a value"},
        {{Scripts + "fuzz-long.sh", "--fast"}, {}, "unknown option \"--fast\""},
        {{Scripts + "fuzz-long.sh", "profiel"}, {}, "no fuzz target \"profiel\""},
        {{Scripts + "check-reliability.sh", "--quick"}, {}, "takes no arguments"},
        {{Scripts + "check-reliability.sh"}, {"QZ_CAMPAIGN_RUNS=abc"}, "QZ_CAMPAIGN_RUNS must be a whole number"},
        {{Scripts + "check-reliability.sh"}, {"QZ_FUZZ_RUNS=0"}, "QZ_FUZZ_RUNS must be a whole number above 0"},
        {{Scripts + "check-reliability.sh"}, {"QZ_CAMPAIGN_SEED=x1"}, "QZ_CAMPAIGN_SEED must be a whole number"},
        {{Scripts + "wine-tests.sh"}, {}, "usage: wine-tests.sh"},
        {{Scripts + "wine-tests.sh", "/no/such/tree"}, {}, "usage: wine-tests.sh"},
        {{Scripts + "test-all.sh", "--fast"}, {}, "takes no arguments"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& word : c.command)
            line += word + " ";
        Outcome run = RunTool(c.command, c.environment);
        EXPECT_EQ(run.status, 2) << line << "\n" << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << line << "\n" << run.err;
    }
}

TEST(Tools, ARunThatExecutedNothingFails)
{
#ifdef QZ_BENCH_HW
    // A filter that selects nothing is a wrong argument as well.
    EXPECT_EQ(RunTool({QZ_BENCH_HW, "--benchmark_filter=NoSuchBenchmark"}).status, 2);
#endif
    // One run of the campaign executes and passes.
    Outcome one = RunTool({QZ_CAMPAIGN, "--runs", "1", "--seed", "7"});
    EXPECT_EQ(one.status, 0) << one.err;
}

}  // namespace
