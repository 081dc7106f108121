// How long the programs' registry work takes on the host registry, against
// device registries of growing size: a button press, a probe, and the
// launcher's whole run, called in-process.
//
// The first argument is the number of values in registry.reg. 7 is the
// default image as it is; larger registries are the default image followed
// by keys of ten values each (second argument 10), or by one key holding all
// of them (second argument 0): a mix of numbers, strings and binary data.
#include <stdio.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "catalogue.h"
#include "registry.h"
#include "registry/registry_store.h"
#include "velloria_ids.h"

extern const char kDefaultRegistry[];  // the default image, as the host embeds it

namespace {

constexpr int kDefaultValues = 7;

std::string Filler(int values, int perKey)
{
    std::string text;
    char line[160];
    for (int i = 0; i < values; ++i) {
        if (perKey ? i % perKey == 0 : i == 0) {
            snprintf(line, sizeof line, "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Filler\\Component%06d]\n",
                     perKey ? i / perKey : 0);
            text += line;
        }
        switch (i % 3) {
        case 0:
            snprintf(line, sizeof line, "\"Number%d\"=dword:%08x\n", i, unsigned(i) * 2654435761u);
            break;
        case 1:
            snprintf(line, sizeof line, "\"Path%d\"=\"\\\\Windows\\\\component%d.dll\"\n", i, i);
            break;
        default:
            snprintf(line, sizeof line, "\"Data%d\"=hex:%02x,00,01,02,03,04,05,06,07,08,09,0a,0b\n",
                     i, i & 0xFF);
            break;
        }
        text += line;
    }
    return text;
}

// A device folder of its own for each registry size, kept for the whole run
// and removed at exit. It has no \Windows\ctlpnl.exe, so a launcher run that
// finds the flag set fails to start the page at once, and no process is left.
class Device {
public:
    Device(int values, int perKey)
    {
        std::string base = (std::filesystem::temp_directory_path() / "zk-bench-XXXXXX").string();
        if (!mkdtemp(base.data()))
            abort();
        root_ = base;
        std::ofstream(root_ / "registry.reg", std::ios::binary)
            << kDefaultRegistry << Filler(values - kDefaultValues, perKey);
        bytes_ = std::filesystem::file_size(root_ / "registry.reg");
    }
    ~Device()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    void Use() const { setenv("CE_DEVICE_ROOT", root_.c_str(), 1); }
    // As a new process finds it: the file's stamp changes, so the next call
    // parses it again.
    void Touch() const
    {
        static long tick = 0;
        const timespec times[2] = {{0, UTIME_OMIT}, {1000000000 + ++tick, 0}};
        utimensat(AT_FDCWD, (root_ / "registry.reg").c_str(), times, 0);
    }
    double KiB() const { return double(bytes_) / 1024; }

private:
    std::filesystem::path root_;
    uintmax_t bytes_;
};

Device& DeviceOf(const benchmark::State& state)
{
    const int values = int(state.range(0)), perKey = int(state.range(1));
    static std::map<std::pair<int, int>, std::unique_ptr<Device>> devices;
    std::unique_ptr<Device>& device = devices[{values, perKey}];
    if (!device)
        device = std::make_unique<Device>(values, perKey);
    device->Use();
    return *device;
}

int saves = 0;

bool CountSave(host::SaveStep step)
{
    if (step == host::SaveStep::Renamed)
        ++saves;
    return true;
}

DWORD Read(HKEY hive, LPCWSTR subkey, LPCWSTR name)
{
    HKEY key;
    DWORD value = 0xFFFFFFFF, size = sizeof value;
    if (RegOpenKeyExW(hive, subkey, 0, kKeyAccess, &key) == ERROR_SUCCESS) {
        RegQueryValueExW(key, name, NULL, NULL, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(key);
    }
    return value;
}

void Finish(benchmark::State& state, const Device& device, bool saved)
{
    state.SetComplexityN(state.range(0));
    state.counters["file_KiB"] = device.KiB();
    state.counters["saves"] =
        benchmark::Counter(saves, benchmark::Counter::kAvgIterations);
    if (saved && saves < state.iterations())
        state.SkipWithError("a press was not saved");
    host::SetSaveHook(nullptr);
}

// Two settings buttons in turn, `a` writing `aValue` and `b` writing `bValue`
// to `name` under HKEY_LOCAL_MACHINE\`key`, so that every press changes the
// file and saves it; each run starts with the button that changes the value
// the last run left.
void PressInTurn(benchmark::State& state, const WCHAR* key, const WCHAR* name, WORD a,
                 DWORD aValue, WORD b, DWORD bValue)
{
    const Device& device = DeviceOf(state);
    saves = 0;
    host::SetSaveHook(CountSave);
    WORD id = Read(HKEY_LOCAL_MACHINE, key, name) == aValue ? b : a;
    for (auto _ : state) {
        ApplyButton(id);
        id = id == a ? b : a;
    }
    const DWORD expected = id == a ? bValue : aValue;  // the last press's value
    if (Read(HKEY_LOCAL_MACHINE, key, name) != expected)
        state.SkipWithError("the last press is not in the file");
    Finish(state, device, true);
}

// "Animate windows: slow" and "fast*": one write a press.
void BM_Press(benchmark::State& state)
{
    PressInTurn(state, L"SYSTEM\\GWE", L"Animate", IDC_ANIM_SLOW, 1, IDC_ANIM_FAST, 0);
}

// "rotate" and "reg*": three writes a press (both drivers and the flag).
void BM_PressRotate(benchmark::State& state)
{
    PressInTurn(state, L"Drivers\\Display\\mq1100", L"Rotate", IDC_ROTATE, 3, IDC_ROTATE_DEFAULT, 0);
}

void BM_Probe(benchmark::State& state)
{
    const Device& device = DeviceOf(state);
    saves = 0;
    host::SetSaveHook(CountSave);
    for (auto _ : state)
        benchmark::DoNotOptimize(ProbeValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE\\Menu", L"Anitype"));
    Finish(state, device, false);
}

// Velloria's start as a new process makes it: every row probed, the file
// parsed once by the first probe.
void BM_SettingsStart(benchmark::State& state)
{
    const Device& device = DeviceOf(state);
    saves = 0;
    host::SetSaveHook(CountSave);
    for (auto _ : state) {
        state.PauseTiming();
        device.Touch();
        state.ResumeTiming();
        for (const SettingRow& row : kCatalogue)
            benchmark::DoNotOptimize(IsRowAvailable(row));
    }
    Finish(state, device, false);
}

// The launcher's run after a restart without a change: the flag is 0, and
// clearing it again leaves the file as it was.
void BM_LauncherRun(benchmark::State& state)
{
    const Device& device = DeviceOf(state);
    EnsureFlagKey();
    WriteDword(FLAG_HIVE, kFlagKey, kFlagValue, kFlagClear);
    saves = 0;
    host::SetSaveHook(CountSave);
    WCHAR commandLine[] = L"";
    for (auto _ : state)
        wWinMain(NULL, NULL, commandLine, 1);
    Finish(state, device, false);
}

// The launcher's run after a rotation: it finds the flag set, tries the
// control panel (missing here) and clears the flag, which saves the file.
// Raising the flag again between runs is not timed.
void BM_LauncherRunFlagSet(benchmark::State& state)
{
    const Device& device = DeviceOf(state);
    saves = 0;
    WCHAR commandLine[] = L"";
    for (auto _ : state) {
        state.PauseTiming();
        EnsureFlagKey();
        WriteDword(FLAG_HIVE, kFlagKey, kFlagValue, kFlagSet);
        host::SetSaveHook(CountSave);
        state.ResumeTiming();
        wWinMain(NULL, NULL, commandLine, 1);
        state.PauseTiming();
        host::SetSaveHook(nullptr);
        state.ResumeTiming();
    }
    if (Read(FLAG_HIVE, kFlagKey, kFlagValue) != kFlagClear)
        state.SkipWithError("the flag was not cleared");
    Finish(state, device, true);
}

// Values spread over keys of ten, then all in one key.
void Sizes(benchmark::internal::Benchmark* b)
{
    for (int perKey : {10, 0})
        for (int values : {kDefaultValues, 100, 10000, 100000})
            b->Args({values, perKey});
    b->ArgNames({"values", "per_key"});
    b->Unit(benchmark::kMicrosecond)->Complexity(benchmark::oN);
}

}  // namespace

BENCHMARK(BM_Press)->Apply(Sizes);
BENCHMARK(BM_PressRotate)->Apply(Sizes);
BENCHMARK(BM_Probe)->Apply(Sizes);
BENCHMARK(BM_SettingsStart)->Apply(Sizes);
BENCHMARK(BM_LauncherRun)->Apply(Sizes);
BENCHMARK(BM_LauncherRunFlagSet)->Apply(Sizes);
