#include "run_vardex.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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

    int stdin_pipe[2] = {-1, -1};
    if (request.stdin_is_pipe) {
        if (request.stdin_text.size() > 65536 || pipe(stdin_pipe) != 0 ||
            write(stdin_pipe[1], request.stdin_text.data(), request.stdin_text.size()) !=
                static_cast<ssize_t>(request.stdin_text.size()))
            throw std::runtime_error("stdin pipe failed");
        close(stdin_pipe[1]);
    }
    int pipe_ends[2] = {-1, -1};
    if (request.stdout_to == Stdout::ClosedPipe) {
        if (pipe(pipe_ends) != 0) throw std::runtime_error("pipe failed");
        close(pipe_ends[0]);
    }
    // Spawned rather than forked: a fork copies the page tables of the test
    // process, which under AddressSanitizer costs more than the run itself.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    if (request.stdin_is_pipe)
        posix_spawn_file_actions_adddup2(&actions, stdin_pipe[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, input_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, error_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    switch (request.stdout_to) {
        case Stdout::File:
            posix_spawn_file_actions_addopen(&actions, 1, output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            break;
        case Stdout::DevFull:
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
            break;
        case Stdout::DebugFile:
            posix_spawn_file_actions_addopen(&actions, 1, "gameinfo.dbg", O_WRONLY | O_APPEND, 0);
            break;
        case Stdout::Closed:
            posix_spawn_file_actions_addclose(&actions, 1);
            break;
        case Stdout::ClosedPipe:
            posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
            posix_spawn_file_actions_addclose(&actions, pipe_ends[1]);
            break;
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t default_signals;
    sigemptyset(&default_signals);
    sigaddset(&default_signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &default_signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> environment_entries;
    for (char** entry = environ; *entry != nullptr; ++entry) environment_entries.emplace_back(*entry);
    if (!request.leak_check) {
        const char* sanitizer_options = std::getenv("ASAN_OPTIONS");
        std::erase_if(environment_entries, [](const std::string& entry) { return entry.starts_with("ASAN_OPTIONS="); });
        environment_entries.push_back(std::string("ASAN_OPTIONS=") + (sanitizer_options ? sanitizer_options : "") +
                                      ":detect_leaks=0");
    }
    std::vector<char*> environment;
    for (std::string& entry : environment_entries) environment.push_back(entry.data());
    environment.push_back(nullptr);
    pid_t child = -1;
    int spawn_error = posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawn_error != 0) throw std::runtime_error("posix_spawn failed");
    if (pipe_ends[1] >= 0) close(pipe_ends[1]);
    if (stdin_pipe[0] >= 0) close(stdin_pipe[0]);
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

RunResult run_vardex_in_bulk(const std::vector<std::string>& args, const std::string& debug_file,
                             const std::string& stdin_text) {
    RunRequest request;
    request.args = args;
    request.stdin_text = stdin_text;
    request.debug_file = &debug_file;
    request.leak_check = false;
    return run_vardex(request);
}

RunResult run_vardex(const std::vector<std::string>& args, const DebugFileBuilder& debug_file,
                     const std::string& stdin_text) {
    return run_vardex(args, debug_file.bytes(), stdin_text);
}
