// What the programs cost against registry.reg's size: each started as its
// own process on a device holding a file of 1, 8 or 32 MB in one of four
// shapes, its wall-clock and CPU time and its peak resident memory taken
// from the kernel when it ends. Beside them, the yardstick: one pass over
// the same bytes counting their lines, in-process.
//
// The programs: the launcher after a rotation (it reads the file, clears the
// flag and saves), a press ("Animate windows: slow", by the tests' press
// tool) and the device session's start and quit (its input at an end, so
// that Velloria, without a terminal, closes at once and the session quits).
// A file of 0 MB is the default image, the programs' own floor.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

extern char** environ;
extern const char kDefaultRegistry[];

namespace {

enum Shape { kKeys, kOneKey, kDeep, kLargeValues };
const char* const kShapeNames[] = {"keys", "one_key", "deep_keys", "4KB_values"};

// One more piece of the shape's filler, the `i`th.
std::string Piece(Shape shape, unsigned i)
{
    char line[400];
    switch (shape) {
    case kKeys:
        snprintf(line, sizeof line, "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Filler\\Key%07u]\n\"Number\"=dword:%08x\n",
                 i, i * 2654435761u);
        return line;
    case kOneKey:
        snprintf(line, sizeof line, "%s\"V%07u\"=dword:%08x\n",
                 i ? "" : "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Filler]\n", i, i);
        return line;
    case kDeep: {
        // 16 levels, each name its own.
        std::string path = "\n[HKEY_LOCAL_MACHINE";
        for (unsigned level = 0; level < 16; ++level) {
            snprintf(line, sizeof line, "\\%x%06x", level, i);
            path += line;
        }
        return path + "]\n";
    }
    case kLargeValues:
        break;
    }
    // 4 KB of binary data, wrapped as the registry editor wraps it.
    std::string text;
    if (i % 100 == 0) {
        snprintf(line, sizeof line, "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Blobs%04u]\n", i / 100);
        text = line;
    }
    snprintf(line, sizeof line, "\"Blob%06u\"=hex:", i);
    std::string row = line;
    for (unsigned k = 0; k < 4096; ++k) {
        snprintf(line, sizeof line, "%02x", (i + k) & 0xFF);
        row += line;
        if (k + 1 < 4096) {
            row += ',';
            if (row.size() > 76) {
                text += row + "\\\n";
                row = "  ";
            }
        }
    }
    return text + row + "\n";
}

// The default image with the flag raised, then the shape's filler up to
// `megabytes` (never past the 32 MiB a device keeps).
std::string RegistryText(Shape shape, int megabytes)
{
    std::string text = std::string(kDefaultRegistry) +
                       "\n[HKEY_CURRENT_USER\\SOFTWARE\\Zelkoran]\n\"align\"=dword:00000001\n";
    const size_t size = size_t(megabytes) << 20;
    for (unsigned i = 0;; ++i) {
        const std::string piece = Piece(shape, i);
        if (text.size() + piece.size() > size)
            return text;
        text += piece;
    }
}

// A device folder for each file, made once and removed at exit; each run
// starts from the file as made.
class Device {
public:
    Device(Shape shape, int megabytes) : text_(RegistryText(shape, megabytes))
    {
        std::string base = (std::filesystem::temp_directory_path() / "zk-size-XXXXXX").string();
        if (!mkdtemp(base.data()))
            abort();
        root_ = base;
    }
    ~Device()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    void Renew() const { std::ofstream(root_ / "registry.reg", std::ios::binary | std::ios::trunc) << text_; }
    const std::string& text() const { return text_; }
    std::string root() const { return root_.string(); }

private:
    std::string text_;
    std::filesystem::path root_;
};

Device& DeviceOf(const benchmark::State& state)
{
    static std::map<std::pair<int, int>, std::unique_ptr<Device>> devices;
    const Shape shape = Shape(state.range(0));
    const int megabytes = int(state.range(1));
    std::unique_ptr<Device>& device = devices[{shape, megabytes}];
    if (!device)
        device = std::make_unique<Device>(megabytes ? shape : kKeys, megabytes);
    return *device;
}

// Runs argv to its end through zk_peak, its input and output on /dev/null:
// false when it failed; its peak resident memory (MiB) and CPU time.
bool Run(const std::string& out, std::vector<const char*> args, double& peak, double& cpu)
{
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    args.insert(args.begin(), {ZK_PEAK, out.c_str()});
    std::vector<char*> argv;
    for (const char* arg : args)
        argv.push_back(const_cast<char*>(arg));
    argv.push_back(nullptr);
    pid_t pid;
    const int error = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    int status;
    while (!error && waitpid(pid, &status, 0) < 0) {
    }
    int result = -1;
    long kib = 0;
    std::ifstream(out) >> result >> kib >> cpu;
    peak = double(kib) / 1024;
    return !error && WIFEXITED(status) && WEXITSTATUS(status) == 0 && result == 0;
}

void Measure(benchmark::State& state, const std::vector<const char*>& args)
{
    const Device& device = DeviceOf(state);
    state.SetLabel(state.range(1) ? kShapeNames[state.range(0)] : "default image");
    setenv("CE_DEVICE_ROOT", device.root().c_str(), 1);
    const std::string out = device.root() + ".peak";
    double cpu = 0, peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        device.Renew();
        state.ResumeTiming();
        double runPeak = 0, runCpu = 0;
        if (!Run(out, args, runPeak, runCpu)) {
            state.SkipWithError("the program failed");
            return;
        }
        cpu += runCpu;
        peak = std::max(peak, runPeak);
    }
    unlink(out.c_str());
    const double megabytes = double(device.text().size()) / (1 << 20);
    state.counters["file_MB"] = megabytes;
    state.counters["cpu_s"] = cpu / double(state.iterations());
    state.counters["peak_MB"] = peak;
    if (megabytes >= 1)
        state.counters["cpu_s_per_MB"] = cpu / double(state.iterations()) / megabytes;
}

void BM_FileLauncher(benchmark::State& state)
{
    Measure(state, {ZK_TARQUELL});
}

void BM_FilePress(benchmark::State& state)
{
    Measure(state, {ZK_PRESS, "1009"});
}

void BM_FileSession(benchmark::State& state)
{
    Measure(state, {ZK_SESSION});
}

// The yardstick: the file's bytes read and their lines counted.
void BM_FileCountLines(benchmark::State& state)
{
    const Device& device = DeviceOf(state);
    state.SetLabel(state.range(1) ? kShapeNames[state.range(0)] : "default image");
    device.Renew();
    const std::string path = device.root() + "/registry.reg";
    for (auto _ : state) {
        std::ifstream file(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        benchmark::DoNotOptimize(std::count(bytes.begin(), bytes.end(), '\n'));
    }
    state.counters["file_MB"] = double(device.text().size()) / (1 << 20);
}

void Files(benchmark::internal::Benchmark* b)
{
    b->Args({kKeys, 0});
    for (int shape : {kKeys, kOneKey, kDeep, kLargeValues})
        for (int megabytes : {1, 8, 32})
            b->Args({shape, megabytes});
    b->ArgNames({"shape", "MB"})->Unit(benchmark::kMillisecond)->Iterations(1);
}

}  // namespace

BENCHMARK(BM_FileLauncher)->Apply(Files)->UseRealTime();
BENCHMARK(BM_FilePress)->Apply(Files)->UseRealTime();
BENCHMARK(BM_FileSession)->Apply(Files)->UseRealTime();
BENCHMARK(BM_FileCountLines)->Apply(Files);
