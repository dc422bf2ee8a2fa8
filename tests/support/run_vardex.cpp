#include "run_vardex.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace {

struct TemporaryDirectories {
    std::vector<std::string> paths;
    ~TemporaryDirectories() {
        std::error_code ignored;
        for (const std::string& path : paths) std::filesystem::remove_all(path, ignored);
    }
};

TemporaryDirectories temporary_directories;

void write_whole_file(const std::string& path, const std::string& contents) {
    std::ofstream stream(path, std::ios::binary);
    stream.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

}  // namespace

std::string make_temporary_directory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vardex-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    temporary_directories.paths.push_back(pattern);
    return pattern;
}

std::string read_whole_file(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

RunResult run_vardex(const RunRequest& request) {
    std::string directory = request.working_directory.empty() ? make_temporary_directory() : request.working_directory;
    if (request.debug_file != nullptr) write_whole_file(directory + "/gameinfo.dbg", *request.debug_file);
    std::string input_path = directory + "/.stdin";
    std::string output_path = directory + "/.stdout";
    std::string error_path = directory + "/.stderr";
    write_whole_file(input_path, request.stdin_text);

    std::vector<char*> argv;
    std::string program = VARDEX_BINARY;
    argv.push_back(program.data());
    std::vector<std::string> args = request.args;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int pipe_ends[2] = {-1, -1};
    if (request.stdout_to == Stdout::ClosedPipe) {
        if (pipe(pipe_ends) != 0) throw std::runtime_error("pipe failed");
        close(pipe_ends[0]);
    }
    pid_t child = fork();
    if (child == 0) {
        int input = open(input_path.c_str(), O_RDONLY);
        int error = open(error_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int output = -1;
        switch (request.stdout_to) {
            case Stdout::File:
                output = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                break;
            case Stdout::DevFull:
                output = open("/dev/full", O_WRONLY);
                break;
            case Stdout::Closed:  // closed once the others are in place
                output = error;
                break;
            case Stdout::ClosedPipe:
                output = pipe_ends[1];
                break;
        }
        if (input < 0 || output < 0 || error < 0 || chdir(directory.c_str()) != 0) _exit(127);
        dup2(input, 0);
        dup2(output, 1);
        dup2(error, 2);
        if (request.stdout_to == Stdout::Closed) close(1);
        signal(SIGPIPE, SIG_DFL);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pipe_ends[1] >= 0) close(pipe_ends[1]);
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    RunResult result;
    if (request.stdout_to == Stdout::File) result.out = read_whole_file(output_path);
    result.err = read_whole_file(error_path);
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    // A sanitizer's report stays visible beside the failing test.
    if (result.status >= 128 && !result.err.empty()) std::cerr << result.err;
    return result;
}

RunResult run_vardex(const std::vector<std::string>& args, const std::string& debug_file,
                     const std::string& stdin_text) {
    RunRequest request;
    request.args = args;
    request.stdin_text = stdin_text;
    request.debug_file = &debug_file;
    return run_vardex(request);
}

RunResult run_vardex(const std::vector<std::string>& args, const DebugFile& debug_file, const std::string& stdin_text) {
    return run_vardex(args, debug_file.bytes(), stdin_text);
}
