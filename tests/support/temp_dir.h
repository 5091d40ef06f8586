#pragma once
// A fresh folder under /tmp for one test, removed with everything in it when the test ends.

#include <cstddef>
#include <string>
#include <vector>

namespace sonavik::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder with a trailing separator.
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

std::vector<unsigned char> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes);
bool fileExists(const std::string& path);
// Files in the corpus of real-world WAV files, by path below it ("hound/...", "wavefile/...").
std::string corpusFile(const std::string& relative);

} // namespace sonavik::test
