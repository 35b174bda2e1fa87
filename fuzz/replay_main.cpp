// Runs a fuzz target over files and directories of inputs without libFuzzer,
// so that every build replays the seed corpora as a regression test. A
// mismatch aborts inside the target, and the file being replayed is named on
// standard error; reaching the end means every input passed.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

// Sanitizer runtimes call this back before they end the run; absent without one.
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace {
const char *current_file = nullptr;  // the input being replayed

void name_current_file()
{
    if (current_file == nullptr)
        return;
    static const char prefix[] = "replay: failed on ";
    (void)!write(2, prefix, sizeof prefix - 1);
    (void)!write(2, current_file, std::strlen(current_file));
    (void)!write(2, "\n", 1);
}

void on_fatal_signal(int sig)
{
    name_current_file();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

bool replay_file(const std::string &path)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    std::vector<std::uint8_t> data;
    std::uint8_t buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    current_file = path.c_str();
    (void)LLVMFuzzerTestOneInput(data.data(), data.size());
    current_file = nullptr;
    return true;
}

// Replays a file, or every file of a directory; returns the count, -1 on error.
long replay(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        std::perror(path.c_str());
        return -1;
    }
    if (!S_ISDIR(st.st_mode))
        return replay_file(path) ? 1 : -1;
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr)
        return -1;
    long count = 0;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (!replay_file(path + "/" + name)) {
            count = -1;
            break;
        }
        ++count;
    }
    closedir(dir);
    return count;
}
}  // namespace

int main(int argc, char **argv)
{
    for (int sig : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        std::signal(sig, on_fatal_signal);
    if (__sanitizer_set_death_callback != nullptr)
        __sanitizer_set_death_callback(name_current_file);
    long total = 0;
    for (int i = 1; i < argc; ++i) {
        const long n = replay(argv[i]);
        if (n < 0)
            return 1;
        total += n;
    }
    if (total == 0) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    std::printf("%ld passed, 0 failed\n", total);
    return 0;
}
