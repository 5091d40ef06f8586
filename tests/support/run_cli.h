#pragma once
// Runs the built sonavik2-cli (SONAVIK_CLI_PATH, set for the core tests) with its output caught in files
// of a test folder.

#include "support/temp_dir.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace sonavik::test {

struct CliResult {
    int status;  // exit status, -1 when it did not exit normally
    std::string err;
    std::string out;
};

inline std::string shellQuoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// addressSpaceKiB: the address-space limit (RLIMIT_AS) the tool runs under, 0 for none.
inline CliResult runCli(const TempDir& dir, const std::vector<std::string>& args, unsigned long addressSpaceKiB = 0)
{
    std::string line = (addressSpaceKiB ? "ulimit -v " + std::to_string(addressSpaceKiB) + " && exec " : std::string())
                       + shellQuoted(SONAVIK_CLI_PATH);
    for (const std::string& a : args)
        line += " " + shellQuoted(a);
    line += " >" + shellQuoted(dir.file("stdout.txt")) + " 2>" + shellQuoted(dir.file("stderr.txt")) + " </dev/null";
    const int raw = std::system(line.c_str());
    const std::vector<unsigned char> err = readBytes(dir.file("stderr.txt"));
    const std::vector<unsigned char> out = readBytes(dir.file("stdout.txt"));
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(err.begin(), err.end()), std::string(out.begin(), out.end())};
}

} // namespace sonavik::test
