#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "app/process_count.h"
#include "support/installation.h"

namespace fs = std::filesystem;

namespace {

// A real process whose executable file bears `name`, run as `user` if not 0.
class NamedProcess {
public:
    NamedProcess(const std::string& directory, const std::string& name, uid_t user = 0) {
        const std::string path = directory + "/" + name;
        fs::copy_file("/bin/sleep", path);
        pid_ = ::fork();
        if (pid_ == 0) {
            if (user != 0 && ::setuid(user) != 0) ::_exit(126);
            ::execl(path.c_str(), name.c_str(), "60", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Until exec has happened the child still bears the test's name.
        const std::string exe = "/proc/" + std::to_string(pid_) + "/exe";
        std::error_code error;
        for (int i = 0; i < 200 && fs::read_symlink(exe, error) != path; ++i) ::usleep(10000);
    }
    ~NamedProcess() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_;
};

// The updater under its real name, started without arguments.
UpdaterRun runUnderRealName(Installation& installation) {
    const std::string realName = installation.root.path() + "/bin/PelorinAutoUpdate";
    fs::create_directories(installation.root.path() + "/bin");
    fs::copy_file(PELORIN_UPDATER_EXE, realName);
    return installation.runUpdater({}, realName);
}

}  // namespace

TEST(SingleInstance, AnotherRunningCopyEndsTheRunSilentlyAndKeepsItsLog) {
    Installation installation;
    installation.writeFile(installation.logPath(), "the running copy's log");
    NamedProcess other(installation.root.path(), "PelorinAutoUpdate");
    const UpdaterRun run = runUnderRealName(installation);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.log, "the running copy's log");
}

// The run counts itself once, and names differing in letter case not at all.
TEST(SingleInstance, OnlyItselfRunningTheRunGoesOn) {
    Installation installation;
    NamedProcess other(installation.root.path(), "pelorinautoupdate");
    EXPECT_NE(runUnderRealName(installation).log.find("Locating installation type..."),
              std::string::npos);
}

// Another user's process is known by its command line, which every user may read.
TEST(SingleInstance, AnotherUsersBrowserIsCountedByAnyUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run processes as other users";
    Installation installation;
    const std::string shared = installation.root.path() + "/shared";
    fs::create_directory(shared);
    fs::permissions(installation.root.path(), fs::perms::all);
    fs::permissions(shared, fs::perms::all);
    NamedProcess browser(shared, "Pelorin", 65534);
    for (const auto& [name, count] : {std::pair<const char*, int>{"Pelorin", 1}, {"pelorin", 0}}) {
        const pid_t child = ::fork();
        if (child == 0) ::_exit(::setuid(65533) != 0 ? 255 : countProcessesByName(name));
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), count) << name;
    }
}
