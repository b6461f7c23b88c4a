// movantrix-cli: the command-line program; the logic lives in src/cli.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Messages.h"

namespace {

// A standard descriptor the program was started without is held by /dev/null opened for
// reading, so that no file or port the program opens takes its number (the output would go
// into it), and writing there fails as writing to a closed descriptor does.
void holdClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int held = ::open("/dev/null", O_RDONLY | O_NOCTTY);
            if (held >= 0 && held != fd) {
                ::dup2(held, fd);
                ::close(held);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    holdClosedStandardDescriptors();
    const std::vector<std::string> args(argv + 1, argv + argc);
    mvx::cli::SystemEnvironment environment;
    const int status = mvx::cli::run(args, std::cout, std::cerr, environment);
    // The output is checked once flushed (run() does); closing it may still fail. Nothing is
    // written to it after this.
    if ((std::fflush(stdout) != 0 || ::close(STDOUT_FILENO) != 0) && status == mvx::cli::kExitOk) {
        std::cerr << mvx::cli::kProgramName << ": " << mvx::cli::kOutputFailedText << " ("
                  << std::strerror(errno) << ")\n";
        return mvx::cli::kExitFailed;
    }
    return status;
}
