#include "platform/SingleInstance.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

const std::string kHelper = SINGLE_INSTANCE_HELPER;
const std::string kHelperBase = std::filesystem::path(kHelper).stem().string();

// Runs the helper with the given command-line words (argv[0] included) and
// a runtime folder of the test's choosing.
class Instance {
public:
    Instance(std::vector<std::string> words, const std::string& runtimeDir, const std::string& flag = {},
             const std::string& ready = {}, const std::string& shown = {})
    {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0 && std::strncmp(*e, "ULMARO_SI_", 10) != 0)
                env.emplace_back(*e);
        env.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
        if (!flag.empty())
            env.push_back("ULMARO_SI_FLAG=" + flag);
        if (!ready.empty())
            env.push_back("ULMARO_SI_READY=" + ready);
        if (!shown.empty())
            env.push_back("ULMARO_SI_SHOWN=" + shown);
        std::vector<char*> argv, envp;
        for (auto& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, kHelper.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
    }
    ~Instance()
    {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // Exit code, or nothing when the process has not ended within `ms`.
    std::optional<int> Wait(int ms = 10000)
    {
        for (int waited = 0; !status_ && waited <= ms; waited += 5) {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_)
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            else
                usleep(5000);
        }
        return status_;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

int RunOnce(std::vector<std::string> words, const std::string& runtimeDir)
{
    Instance i(std::move(words), runtimeDir);
    return i.Wait().value_or(-100);
}

bool WaitForFile(const std::string& path)
{
    for (int i = 0; i < 2000; ++i) {
        if (access(path.c_str(), F_OK) == 0)
            return true;
        usleep(5000);
    }
    return false;
}

void Touch(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
}

constexpr int kRun = 0;
constexpr int kRefused = 3;

// An instance that stays running until Release(): the first one, which
// holds the lock, or with "task" a further copy.
class FirstInstance {
public:
    explicit FirstInstance(const std::string& runtimeDir, std::vector<std::string> words = {"ulmaro"})
    {
        Touch(flag_);
        instance_.emplace(std::move(words), runtimeDir, flag_, ready_, shown_);
        started_ = WaitForFile(ready_);
    }
    bool Started() const { return started_; }
    // Show requests it has taken so far.
    int Shown() const
    {
        int lines = 0;
        if (FILE* f = std::fopen(shown_.c_str(), "r")) {
            for (int c; (c = std::fgetc(f)) != EOF;)
                lines += c == '\n';
            std::fclose(f);
        }
        return lines;
    }
    // Waits (10 s at most) until it has taken `n` show requests.
    bool WaitShown(int n) const
    {
        for (int i = 0; i < 2000 && Shown() < n; ++i)
            usleep(5000);
        return Shown() >= n;
    }
    // Lets it end; its exit code.
    std::optional<int> Release()
    {
        std::remove(flag_.c_str());
        return instance_->Wait();
    }

private:
    TempDir scratch_;
    std::string flag_ = scratch_.file("flag"), ready_ = scratch_.file("ready"), shown_ = scratch_.file("shown");
    std::optional<Instance> instance_;
    bool started_ = false;
};

} // namespace

TEST(SingleInstance, SecondInstanceRunsOnlyWithTheTaskWord)
{
    TempDir runtime;
    FirstInstance first(runtime.path());
    ASSERT_TRUE(first.Started());

    EXPECT_EQ(RunOnce({"ulmaro"}, runtime.path()), kRefused);
    EXPECT_EQ(RunOnce({"ulmaro", "--demo"}, runtime.path()), kRefused);
    EXPECT_EQ(RunOnce({"ulmaro", "task"}, runtime.path()), kRun);
    EXPECT_EQ(RunOnce({"ulmaro", "TASK"}, runtime.path()), kRun);
    EXPECT_EQ(RunOnce({"ulmaro", "pravelint", "Task"}, runtime.path()), kRun);
    EXPECT_EQ(RunOnce({"task"}, runtime.path()), kRun);
    // Index 5 is the last word looked at; index 6 is not.
    EXPECT_EQ(RunOnce({"ulmaro", "a", "b", "c", "d", "task"}, runtime.path()), kRun);
    EXPECT_EQ(RunOnce({"ulmaro", "a", "b", "c", "d", "e", "task"}, runtime.path()), kRefused);
    // The word must stand alone.
    EXPECT_EQ(RunOnce({"ulmaro", "tasks", "-task"}, runtime.path()), kRefused);

    EXPECT_EQ(first.Release(), std::optional<int>(kRun));
    // The lock goes with the process that held it.
    EXPECT_EQ(RunOnce({"ulmaro"}, runtime.path()), kRun);
}

// The program counts as running while any copy of it runs: a copy started
// with "task" that outlives the first one still keeps a plain start out.
TEST(SingleInstance, ACopyStartedWithTaskKeepsTheProgramRunningAfterTheFirstEnds)
{
    TempDir runtime;
    FirstInstance first(runtime.path());
    ASSERT_TRUE(first.Started());
    FirstInstance copy(runtime.path(), {"ulmaro", "task"});
    ASSERT_TRUE(copy.Started());
    EXPECT_EQ(first.Release(), std::optional<int>(kRun));

    EXPECT_EQ(RunOnce({"ulmaro"}, runtime.path()), kRefused);
    EXPECT_EQ(RunOnce({"ulmaro", "task"}, runtime.path()), kRun);
    EXPECT_EQ(copy.Release(), std::optional<int>(kRun));
    EXPECT_EQ(RunOnce({"ulmaro"}, runtime.path()), kRun);

    // A copy started with "task" when none runs is the first copy itself.
    FirstInstance alone(runtime.path(), {"ulmaro", "task"});
    ASSERT_TRUE(alone.Started());
    EXPECT_EQ(RunOnce({"ulmaro"}, runtime.path()), kRefused);
    EXPECT_TRUE(alone.WaitShown(1));
    EXPECT_EQ(alone.Release(), std::optional<int>(kRun));
}

TEST(SingleInstance, LockLivesInTheRuntimeFolderUnderItsOldName)
{
    TempDir runtime;
    FirstInstance first(runtime.path());
    ASSERT_TRUE(first.Started());
    EXPECT_TRUE(std::filesystem::exists(runtime.file("PREVINST-" + kHelperBase + ".lock")));
    // Another runtime folder is another user's session: no conflict.
    TempDir other;
    EXPECT_EQ(RunOnce({"ulmaro"}, other.path()), kRun);
    EXPECT_EQ(first.Release(), std::optional<int>(kRun));
}

TEST(SingleInstance, LockPathNames)
{
    TempDir runtime;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";

    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    EXPECT_EQ(std::string(SingleInstanceLockPath("ulmaro")), runtime.path() + "/PREVINST-ulmaro.lock");
    EXPECT_EQ(std::string(SingleInstanceLockPath("my prog: 2")), runtime.path() + "/PREVINST-my-prog-2.lock");

    const std::string tmpName = "/tmp/PREVINST-ulmaro-uid" + std::to_string(getuid()) + ".lock";
    setenv("XDG_RUNTIME_DIR", "/nonexistent/ulmaro-test", 1);
    EXPECT_EQ(std::string(SingleInstanceLockPath("ulmaro")), tmpName);
    setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    EXPECT_EQ(std::string(SingleInstanceLockPath("ulmaro")), tmpName);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(std::string(SingleInstanceLockPath("ulmaro")), tmpName);

    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

TEST(SingleInstance, NoRuntimeFolderFallsBackToTmpAndStillKeepsOneInstance)
{
    const std::string missing = "/nonexistent/ulmaro-test";
    const std::string tmpLock = "/tmp/PREVINST-" + kHelperBase + "-uid" + std::to_string(getuid()) + ".lock";
    std::error_code ec;
    std::filesystem::remove(tmpLock, ec); // left over from an interrupted run
    FirstInstance first(missing);
    ASSERT_TRUE(first.Started());
    EXPECT_TRUE(std::filesystem::exists(tmpLock));
    EXPECT_EQ(RunOnce({"ulmaro"}, missing), kRefused);
    EXPECT_EQ(RunOnce({"ulmaro", "task"}, missing), kRun);
    EXPECT_EQ(first.Release(), std::optional<int>(kRun));
    std::remove(tmpLock.c_str());
}

TEST(SingleInstance, NoLockFilePossibleStillStartsTheProgram)
{
    // Directories where both lock files should be: nothing can be locked.
    TempDir runtime;
    const std::string tmpLock = "/tmp/PREVINST-" + kHelperBase + "-uid" + std::to_string(getuid()) + ".lock";
    std::error_code ec;
    std::filesystem::remove(tmpLock, ec);
    ASSERT_EQ(mkdir(runtime.file("PREVINST-" + kHelperBase + ".lock").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(tmpLock.c_str(), 0700), 0);
    EXPECT_EQ(RunOnce({"ulmaro"}, runtime.path()), kRun);
    rmdir(tmpLock.c_str());
}

TEST(SingleInstance, ARefusedStartAsksTheRunningOneToShowItself)
{
    TempDir runtime;
    FirstInstance first(runtime.path());
    ASSERT_TRUE(first.Started());
    const std::string sock = runtime.file("PREVINST-" + kHelperBase + ".sock");
    struct stat st {};
    ASSERT_EQ(lstat(sock.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u); // the user's alone

    // A copy started with "task" runs on its own and asks for nothing.
    EXPECT_EQ(RunOnce({"ulmaro", "task"}, runtime.path()), kRun);
    EXPECT_EQ(RunOnce({"ulmaro"}, runtime.path()), kRefused);
    EXPECT_TRUE(first.WaitShown(1));
    EXPECT_EQ(RunOnce({"ulmaro", "--demo"}, runtime.path()), kRefused);
    EXPECT_TRUE(first.WaitShown(2));
    EXPECT_EQ(first.Shown(), 2);
    EXPECT_EQ(first.Release(), std::optional<int>(kRun));
}

// The channel carries the one request and nothing else: garbage, the request
// with a byte more or less, an empty message and an oversized one are all
// dropped, and the listener still takes the next good request.
TEST(SingleInstance, TheChannelIgnoresEverythingButTheRequest)
{
    TempDir runtime;
    FirstInstance first(runtime.path());
    ASSERT_TRUE(first.Started());
    const std::string sock = runtime.file("PREVINST-" + kHelperBase + ".sock");
    const std::string request = ShowWindowRequest;
    const std::vector<std::string> junk = {
        "garbage",
        request + "\n",
        request.substr(0, request.size() - 1),
        std::string(1, '\0') + request,
        std::string(),
        std::string(60000, 'x'),
        request + std::string(4096, 'y'),
    };
    for (const auto& m : junk)
        EXPECT_TRUE(SendToShowChannel(sock.c_str(), m.data(), m.size())) << m.size();
    // Datagrams arrive in order: once the good one is taken, so was the junk.
    ASSERT_TRUE(SendToShowChannel(sock.c_str(), request.data(), request.size()));
    ASSERT_TRUE(first.WaitShown(1));
    for (const auto& m : junk)
        SendToShowChannel(sock.c_str(), m.data(), m.size());
    // The listener's queue is short; a full one refuses until it is drained.
    bool sent = false;
    for (int i = 0; i < 2000 && !(sent = SendToShowChannel(sock.c_str(), request.data(), request.size())); ++i)
        usleep(5000);
    ASSERT_TRUE(sent);
    ASSERT_TRUE(first.WaitShown(2));
    EXPECT_EQ(first.Shown(), 2);
    EXPECT_EQ(first.Release(), std::optional<int>(kRun));
    // Nobody listens any more: a refused start's request goes nowhere.
    EXPECT_FALSE(SendToShowChannel(sock.c_str(), request.data(), request.size()));
}

TEST(SingleInstance, SocketPathSitsBesideTheLock)
{
    TempDir runtime;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    EXPECT_EQ(std::string(SingleInstanceSocketPath("ulmaro")), runtime.path() + "/PREVINST-ulmaro.sock");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(std::string(SingleInstanceSocketPath("ulmaro")),
              "/tmp/PREVINST-ulmaro-uid" + std::to_string(getuid()) + ".sock");
    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}
