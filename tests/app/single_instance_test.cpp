#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "core/process_count.h"
#include "support/installation.h"

namespace fs = std::filesystem;

// A real process whose executable file is `directory`/`name`, run as `user` if not 0.
struct NamedProcess {
    NamedProcess(const std::string& directory, const std::string& name, uid_t user = 0) {
        const std::string path = directory + "/" + name;
        fs::copy_file("/bin/sleep", path);
        if ((pid = ::fork()) == 0) {
            if (user == 0 || ::setuid(user) == 0)
                ::execl(path.c_str(), name.c_str(), "60", nullptr);
            ::_exit(127);
        }
        // Until exec has happened the child still bears the test's name, and its
        // new command line comes a moment after its new executable; a loaded
        // machine may take seconds to get there.
        const std::string proc = "/proc/" + std::to_string(pid);
        std::error_code error;
        for (int i = 0; i < 6000; ++i) {
            const std::string arguments = readFile(proc + "/cmdline");
            if (fs::read_symlink(proc + "/exe", error) == path &&
                arguments.compare(0, name.size() + 1, name + '\0') == 0)
                break;
            ::usleep(10000);
        }
    }
    ~NamedProcess() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    pid_t pid = 0;
};

// The log of the updater under its real name, started without arguments, beside `other`.
static std::string logBeside(const std::string& other) {
    Installation installation;
    installation.writeFile(installation.logPath(), "the running copy's log");
    NamedProcess process(installation.root.path(), other);
    fs::copy_file(PELORIN_UPDATER_EXE, installation.homeDir + "/PelorinAutoUpdate");
    return installation.runUpdater({}, installation.homeDir + "/PelorinAutoUpdate").log;
}

// It counts itself once, and names differing in letter case not at all.
TEST(SingleInstance, AnotherRunningCopyEndsTheRunSilentlyAndKeepsItsLog) {
    EXPECT_EQ(logBeside("PelorinAutoUpdate"), "the running copy's log");
    EXPECT_NE(logBeside("pelorinautoupdate").find("Locating installation type..."),
              std::string::npos);
}

// Another user's process is known by its command line, which every user may read.
TEST(SingleInstance, AnotherUsersBrowserIsCountedByAnyUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run processes as other users";
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    NamedProcess browser(dir.path(), "Pelorin", 65534);
    for (const auto& [name, count] : {std::pair<const char*, int>{"Pelorin", 1}, {"pelorin", 0}}) {
        const pid_t child = ::fork();
        if (child == 0) ::_exit(::setuid(65533) != 0 ? 255 : countProcessesByName(name));
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), count) << name;
    }
}
