// Times vardex as a co-process, the way a debugger or a symbolizer uses it:
// one lookup written, its answer read to the empty line that ends it, then
// the next lookup.
//
//   round_trip VARDEX DEBUGFILE LOOKUPS [COUNT]
//
// Sends the first COUNT lines of the file LOOKUPS (default 2000) and prints
// the median and the 99th percentile of the round trips in microseconds.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: round_trip VARDEX DEBUGFILE LOOKUPS [COUNT]\n");
        return 2;
    }
    std::size_t count = argc == 5 ? std::strtoul(argv[4], nullptr, 10) : 2000;
    std::vector<std::string> lookups;
    std::ifstream input(argv[3]);
    for (std::string line; lookups.size() < count && std::getline(input, line);) lookups.push_back(line + "\n");
    if (lookups.empty()) {
        std::fprintf(stderr, "round_trip: no lookups in %s\n", argv[3]);
        return 2;
    }

    int to_child[2], from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0) return 2;
    pid_t child = fork();
    if (child == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[1]);
        close(from_child[0]);
        execl(argv[1], argv[1], "-lookup", argv[2], static_cast<char*>(nullptr));
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);

    std::vector<double> micros;
    char buffer[1 << 16];
    for (const std::string& lookup : lookups) {
        auto start = std::chrono::steady_clock::now();
        if (write(to_child[1], lookup.data(), lookup.size()) != static_cast<ssize_t>(lookup.size())) return 1;
        // The answer ends with an empty line: "\n\n".
        std::string answer;
        while (answer.size() < 2 || answer.compare(answer.size() - 2, 2, "\n\n") != 0) {
            ssize_t got = read(from_child[0], buffer, sizeof buffer);
            if (got <= 0) {
                std::fprintf(stderr, "round_trip: vardex ended before answering %s", lookup.c_str());
                return 1;
            }
            answer.append(buffer, static_cast<std::size_t>(got));
        }
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    close(to_child[1]);
    int status = 0;
    waitpid(child, &status, 0);
    std::sort(micros.begin(), micros.end());
    std::printf("%zu round trips: median %.1f us, 99th percentile %.1f us\n", micros.size(), micros[micros.size() / 2],
                micros[micros.size() * 99 / 100]);
    return 0;
}
