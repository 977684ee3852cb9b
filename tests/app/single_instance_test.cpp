#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "app/process_count.h"
#include "support/installation.h"

namespace {

// A real process whose executable file bears the given name.
class NamedProcess {
public:
    // With `user` set, the process runs under that user id.
    NamedProcess(const std::string& directory, const std::string& name, uid_t user = 0) {
        const std::string path = directory + "/" + name;
        std::filesystem::copy_file("/bin/sleep", path);
        pid_ = ::fork();
        if (pid_ == 0) {
            if (user != 0 && ::setuid(user) != 0) ::_exit(126);
            ::execl(path.c_str(), name.c_str(), "60", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Until exec has happened the child still bears the test's name.
        for (int attempt = 0; attempt < 200 && !execDone(path); ++attempt) ::usleep(10000);
    }
    ~NamedProcess() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }

private:
    bool execDone(const std::string& path) const {
        std::error_code error;
        return std::filesystem::read_symlink("/proc/" + std::to_string(pid_) + "/exe", error) ==
               path;
    }
    pid_t pid_;
};

// The updater under its real name, started without arguments.
UpdaterRun runUnderRealName(Installation& installation) {
    const std::string realName = installation.root.path() + "/bin/PelorinAutoUpdate";
    std::filesystem::create_directories(installation.root.path() + "/bin");
    std::filesystem::copy_file(PELORIN_UPDATER_EXE, realName,
                               std::filesystem::copy_options::overwrite_existing);
    return installation.finishUpdater(installation.startUpdater({}, {}, realName));
}

// What countProcessesByName sees from a process of `user`.
int countAsUser(uid_t user, const char* name) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setuid(user) != 0) ::_exit(255);
        ::_exit(countProcessesByName(name));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(SingleInstance, AnotherUsersBrowserIsCountedByAnyUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run processes as other users";
    Installation installation;
    // Other users must reach the executable.
    const std::string shared = installation.root.path() + "/shared";
    std::filesystem::create_directory(shared);
    std::filesystem::permissions(installation.root.path(), std::filesystem::perms::all);
    std::filesystem::permissions(shared, std::filesystem::perms::all);
    NamedProcess browser(shared, "Pelorin", 65534);
    EXPECT_EQ(countAsUser(65533, "Pelorin"), 1);
    EXPECT_EQ(countAsUser(65533, "pelorin"), 0);
}

TEST(SingleInstance, AnotherRunningCopyEndsTheRunSilentlyAndKeepsItsLog) {
    Installation installation;
    installation.writeFile(installation.logPath(), "the running copy's log");
    NamedProcess other(installation.root.path(), "PelorinAutoUpdate");
    const UpdaterRun run = runUnderRealName(installation);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.log, "the running copy's log");
}

TEST(SingleInstance, ProcessNamesDifferingInLetterCaseDoNotCount) {
    Installation installation;
    NamedProcess other(installation.root.path(), "pelorinautoupdate");
    EXPECT_NE(runUnderRealName(installation).log.find("Locating installation type..."),
              std::string::npos);
}

TEST(SingleInstance, CopyUnderAnotherNameDoesNotCountItself) {
    Installation installation;
    NamedProcess other(installation.root.path(), "PelorinAutoUpdate");
    // The copy under test runs as "PelorinAutoUpdate-under-test": the one
    // other process alone is not more than one.
    EXPECT_NE(installation.runUpdater().log.find("Locating installation type..."),
              std::string::npos);
}
