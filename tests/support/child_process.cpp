#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

pid_t spawn(const std::vector<std::string>& argv, const std::string& outputPath) {
    std::vector<char*> words;
    for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
    words.push_back(nullptr);
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int output = outputPath.empty() ? -1
                                          : ::open(outputPath.c_str(),
                                                   O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(input, 0);
        if (output >= 0) ::dup2(output, 1), ::dup2(output, 2);
        ::execv(words[0], words.data());
        ::_exit(127);
    }
    ::close(input);
    if (output >= 0) ::close(output);
    if (child < 0) throw std::runtime_error("cannot start " + argv[0]);
    return child;
}

int waitFor(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool hasEnded(pid_t child) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
           info.si_pid == child;
}

void stopChild(pid_t child) {
    if (child <= 0) return;  // kill(-1) would end every process the tests may signal
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}
