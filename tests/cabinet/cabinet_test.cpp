// Velloria.cab, the handheld's installation cabinet: read back by cabextract,
// which we did not write; its header read by ours; the headers ours refuses,
// each installed on a scratch device that is left untouched; and the writer's
// refusals and its same bytes for the same programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include "cab_header.h"
#include "support/child_run.h"
#include "facts.h"
#include "support/host_device.h"
#include "install.h"

namespace {

namespace fs = std::filesystem;

// A shell command's exit status and what it wrote, stderr included.
ChildRun Shell(const std::string& command)
{
    return RunToEnd({"/bin/sh", "-c", command.c_str()});
}

// The installation header, as cabextract gives it.
std::string Header()
{
    const ChildRun header = Shell("cabextract -q -p -F '*.000' '" VELLORIA_CAB "'");
    EXPECT_EQ(header.status, 0) << header.output;
    return header.output;
}

// cabextract lists the header first, then the programs as our reader says
// they go (1 Velloria.exe, 2 Tarquell.exe), all at one fixed time, and
// extracts the build's programs byte for byte.
TEST(Cabinet, CabextractListsItsFilesHeaderFirstAtOneFixedTimeAndExtractsThem)
{
    const ChildRun listed = Shell("cabextract -l '" VELLORIA_CAB "'");
    ASSERT_EQ(listed.status, 0) << listed.output;
    std::vector<std::string> names;
    for (size_t at = 0; (at = listed.output.find("01.01.2026 00:00:00 | ", at)) != std::string::npos;) {
        at += 22;
        names.push_back(listed.output.substr(at, listed.output.find('\n', at) - at));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Velloria.000", "Tarquell.002", "Velloria.001"}))
        << listed.output;

    HostDevice scratch;
    const fs::path out = scratch.Outside() / "extracted";
    const ChildRun extracted = Shell("cabextract -q -d '" + out.string() + "' '" VELLORIA_CAB "'");
    ASSERT_EQ(extracted.status, 0) << extracted.output;
    for (const auto& [name, built] : {std::pair{"Velloria.001", VELLORIA_EXE}, {"Tarquell.002", TARQUELL_EXE}})
        EXPECT_EQ(FileBytes(out / name), FileBytes(built)) << name;
}

TEST(Cabinet, OurReaderReadsWhatGoesWhere)
{
    // The cabinet's own tables: one folder, stored, the build's programs at
    // their sizes, after the header.
    std::string problem;
    const std::optional<cab::Layout> layout = cab::ReadLayout(FileBytes(VELLORIA_CAB), problem);
    ASSERT_TRUE(layout) << problem;
    EXPECT_EQ(layout->folders, std::vector<cab::Compression>{cab::Compression::Stored});
    std::vector<std::string> entries;
    for (const cab::Layout::Entry& entry : layout->entries)
        entries.push_back(entry.name + " " + std::to_string(entry.size));
    EXPECT_EQ(entries, (std::vector<std::string>{"Velloria.000 " + std::to_string(Header().size()),
                                                 "Tarquell.002 " + std::to_string(FileBytes(TARQUELL_EXE).size()),
                                                 "Velloria.001 " + std::to_string(FileBytes(VELLORIA_EXE).size())}));

    const std::optional<cab::Header> header = cab::ReadHeader(Header(), problem);
    ASSERT_TRUE(header) << problem;
    EXPECT_EQ(header->appName + " by " + header->provider, std::string("Velloria by ") + facts::kMaker);
    // A StrongARM's, for CE 3.0 and later (no upper version, no builds), and no registry keys.
    EXPECT_EQ((std::vector<size_t>{header->architecture, header->minMajor, header->minMinor, header->maxMajor,
                                   header->maxMinor, header->minBuild, header->maxBuild, header->registryKeys}),
              (std::vector<size_t>{2577, 3, 0, 0, 0, 0, 0, 0}));

    std::vector<std::string> files, links;
    for (const cab::Header::File& file : header->files)
        files.push_back(std::to_string(file.number) + " " + cab::Joined(file.folder) + " " + file.name);
    for (const cab::Header::Link& link : header->links)
        links.push_back(cab::Joined(link.folder) + " " + link.name + " -> " + cab::Joined(link.target));
    EXPECT_EQ(files, (std::vector<std::string>{"1 \\Program Files\\Velloria Velloria.exe",
                                               "2 \\Program Files\\Velloria Tarquell.exe"}));
    EXPECT_EQ(links, (std::vector<std::string>{
                         "\\Windows\\Start Menu\\Programs Velloria -> \\Program Files\\Velloria\\Velloria.exe",
                         "\\Windows\\StartUp Tarquell -> \\Program Files\\Velloria\\Tarquell.exe"}));
}

uint32_t Get(const std::string& h, size_t at, int width)
{
    uint32_t value = 0;
    for (int i = 0; i < width; ++i)
        value |= uint32_t(uint8_t(h.at(at + i))) << (8 * i);
    return value;
}

void Set(std::string& h, size_t at, int width, uint32_t value)
{
    for (int i = 0; i < width; ++i)
        h.at(at + i) = char(value >> (8 * i));
}

// Where things are in the header, from its fixed part.
size_t Table(const std::string& h, int n) { return Get(h, 60 + 4 * n, 4); }  // 0 STRINGS .. 5 LINKS
size_t String(const std::string& h, int id)  // the text of string `id`
{
    size_t at = Table(h, 0);
    while (Get(h, at, 2) != uint32_t(id))
        at += 4 + Get(h, at + 2, 2);
    return at + 4;
}
void Text(std::string& h, size_t at, const std::string& text) { h.replace(at, text.size(), text); }

// The device's own file system on the host: its `\`.
fs::path DeviceFiles()
{
    std::string problem;
    return host::DeviceFolder::Files(problem).path();
}

// The device as its user finds it: each path of its file system, a file's
// mode and bytes, a link's target; the emulator's private area left out.
std::map<std::string, std::string> Listing()
{
    std::string problem;
    const fs::path files = host::DeviceFolder::Files(problem).path();
    const fs::path own = host::DeviceFolder::Private(problem).path();
    std::map<std::string, std::string> listing;
    for (auto at = fs::recursive_directory_iterator(files); at != fs::recursive_directory_iterator(); ++at) {
        const fs::path path = at->path();
        const std::string name = path.lexically_relative(files).string();
        struct stat info;
        lstat(path.c_str(), &info);
        if (path == own || path == files / host::kRegistryFile)
            at.disable_recursion_pending();
        else if (S_ISLNK(info.st_mode))
            listing[name] = "link to " + fs::read_symlink(path).string();
        else if (S_ISDIR(info.st_mode))
            listing[name] = "folder";
        else
            listing[name] = std::to_string(info.st_mode & 07777) + " " + FileBytes(path);
    }
    return listing;
}

// Installs `cab`; false with the problem put into `problem`.
bool Install(const std::string& cab, std::string& problem, session::Changed* changed = nullptr,
             std::string* warning = nullptr, const session::InstallHook& hook = {})
{
    session::Changed ignored;
    std::string noWarning;
    return session::InstallCabinet(cab, changed ? *changed : ignored, warning ? *warning : noWarning, problem, hook);
}

// A device set up as a session sets it up, Velloria.cab installed on it.
void InstallVelloria()
{
    host::PrepareDevice();
    session::PrepareInstalls();
    std::string problem;
    ASSERT_TRUE(Install(VELLORIA_CAB, problem)) << problem;
}

// The cabinet's tables, as the MS-CAB format places them: the offset of its
// list of files, its flags, its first folder's compression.
constexpr size_t kFilesAt = 16, kFlags = 30, kCompression = 42;

// One row a fault: the header changed so (and the cabinet by `cabinet`),
// installed from a cabinet holding it and the programs (but Tarquell's, file
// 2, if `missing`; grown to `size` with zeros if given, kPastLimit: all the
// files one byte past what an install takes), is refused with this line,
// and the device, Velloria installed on it, is as it was.
constexpr size_t kPastLimit = size_t(-1);
struct Malformed {
    const char* what;
    std::function<void(std::string&)> fault;
    const char* says;
    bool missing = false;
    size_t size = 0;
    std::function<void(std::string&)> cabinet = {};
};

const Malformed kMalformed[] = {
    {"no signature", [](std::string& h) { h[0] = 'X'; }, "has no MSCE signature"},
    {"a wrong length", [](std::string& h) { Set(h, 8, 4, h.size() + 4); }, "says it is"},
    {"cut short", [](std::string& h) { h.resize(90); }, "shorter than the 100 of its fixed part"},
    {"a table's offset outside", [](std::string& h) { Set(h, 68, 4, h.size() + 1); },
     "the FILES table starts at"},
    {"a table running past the end", [](std::string& h) { Set(h, 58, 2, 3); },
     "the LINKS table's entry 3 runs past the end"},
    {"the name outside", [](std::string& h) { Set(h, 86, 2, 0xFFFF); }, "the application name lies outside"},
    {"the name without its end", [](std::string& h) { h[Get(h, 84, 2) + 8] = 'x'; },
     "the application name has no end"},
    {"a string without its end", [](std::string& h) { h[String(h, 2) + 8] = 'x'; },
     "the STRINGS table's entry 2 has no end"},
    {"a folder naming no string", [](std::string& h) { Set(h, Table(h, 1) + 4, 2, 9); },
     "names string 9, which there is none"},
    {"a file naming no folder", [](std::string& h) { Set(h, Table(h, 2) + 2, 2, 9); },
     "names folder 9, which there is none"},
    {"a link naming no file", [](std::string& h) { Set(h, Table(h, 5) + 6, 2, 7); },
     "starts file 7, which there is none"},
    {"a link in no standard folder", [](std::string& h) { Set(h, Table(h, 5) + 4, 2, 18); },
     "is in %CE18%, which is no folder"},
    {"a link climbing out", [](std::string& h) { Text(h, String(h, 3), "..\\..\\ab"); },
     "leaves the device's folders"},
    {"a file climbing out", [](std::string& h) { Text(h, Table(h, 2) + 12, "..\\..\\ab.exe"); },
     "leaves the device's folders"},
    {"a folder with a drive", [](std::string& h) { Text(h, String(h, 1), "C:\\x\\"); },
     "leaves the device's folders"},
    {"another processor", [](std::string& h) { Set(h, 20, 4, 4000); }, "is for processor 4000"},
    {"a program missing", [](std::string&) {}, "has no file .002", true},
    {"a program too large", [](std::string&) {}, "over the 32 MiB an install takes", false, 33 << 20},
    {"one byte past the limit", [](std::string&) {}, "over the 32 MiB an install takes", false, kPastLimit},
    {"a compression bomb: a file 2 GiB into its folder", [](std::string&) {}, "holds 2147", false, 0,
     [](std::string& c) { Set(c, Get(c, kFilesAt, 4) + 4, 4, 1u << 31); }},
    {"LZX", [](std::string&) {}, "compressed with LZX, which", false, 0, [](std::string& c) { Set(c, kCompression, 2, 3); }},
    {"Quantum", [](std::string&) {}, "compressed with Quantum, which", false, 0,
     [](std::string& c) { Set(c, kCompression, 2, 2); }},
    {"one of a set", [](std::string&) {}, "one of a set of cabinets", false, 0,
     [](std::string& c) { Set(c, kFlags, 2, 2); }},
    {"a name with a separator", [](std::string&) {}, "no plain file name", false, 0,
     [](std::string& c) { c[Get(c, kFilesAt, 4) + 16 + 8] = '/'; }},
    {"cut inside its list of files", [](std::string&) {}, "ends inside its list of files", false, 0,
     [](std::string& c) { Set(c, kFilesAt, 4, c.size() - 4); }},
};

TEST(Cabinet, MalformedHeadersAreRefusedAndNothingIsWritten)
{
    const std::string good = Header();
    ASSERT_GT(good.size(), 100u);
    for (const Malformed& row : kMalformed) {
        HostDevice device;
        InstallVelloria();
        const auto before = Listing();
        const fs::path stage = device.Outside() / "stage";
        fs::create_directories(stage);
        std::string header = good;
        row.fault(header);
        std::ofstream(stage / "Velloria.000", std::ios::binary) << header;
        fs::copy_file(VELLORIA_EXE, stage / "Velloria.001");
        fs::copy_file(TARQUELL_EXE, stage / "Tarquell.002");
        if (row.size)
            fs::resize_file(stage / "Tarquell.002", row.size != kPastLimit ? row.size
                                                    : session::kInstallLimit + 1 - header.size() -
                                                          fs::file_size(stage / "Velloria.001"));
        const ChildRun made = Shell("cd '" + stage.string() + "' && gcab -c -n test.cab Velloria.000 Velloria.001" +
                                    (row.missing ? "" : " Tarquell.002"));
        ASSERT_EQ(made.status, 0) << made.output;
        if (row.cabinet) {
            std::string cab = FileBytes(stage / "test.cab");
            row.cabinet(cab);
            std::ofstream(stage / "test.cab", std::ios::binary | std::ios::trunc) << cab;
        }

        std::string problem;
        EXPECT_FALSE(Install((stage / "test.cab").string(), problem)) << row.what;
        EXPECT_NE(problem.find(row.says), std::string::npos) << row.what << ": " << problem;
        EXPECT_EQ(problem.rfind((stage / "test.cab").string() + ": ", 0), 0u) << row.what << ": " << problem;
        EXPECT_EQ(problem.find('\n'), std::string::npos) << row.what << ": " << problem;
        EXPECT_TRUE(Listing() == before) << row.what << ": the device was changed";
    }
}

TEST(Cabinet, TheWriterGivesTheSameBytesAndRefusesBadInput)
{
    HostDevice scratch;
    const fs::path dir = scratch.Outside();
    const std::string programs = " '" VELLORIA_EXE "' '" TARQUELL_EXE "'";
    const ChildRun again = Shell(PROJECT_DIR "/tools/cabinet/ce-cab.py " + (dir / "again.cab").string() + " " +
                                 facts::kMaker + programs);
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(FileBytes(dir / "again.cab"), FileBytes(VELLORIA_CAB)) << "made again elsewhere, later";

    // One row a refusal: a change to the writer's table (Python, on the
    // writer loaded as w), the maker's name it is given, the programs, and the
    // line the build stops with.
    const struct {
        const char* change;
        const char* company;
        std::string programs;
        const char* says;
    } rows[] = {
        {"", "Zelkoran", " '" VELLORIA_EXE "' /nowhere/Tarquell.exe", "Tarquell.exe is missing"},
        {"", "Zelkoran", " '" VELLORIA_EXE "'", "no Tarquell.exe among the programs"},
        {"", "A maker whose name runs past thirty", programs, "over the 30"},
        {"", "Zelkor\xc3\xa1n", programs, "not printable ASCII"},
        {"", "", programs, "is empty"},
        {"w.FILES[0] = ('Velloria Settings.exe', w.INSTALL_DIR)", "Zelkoran", programs, "is not an 8.3 name"},
        {"w.LINKS[1] = ('Tarquell.lnk.', 4, 'Tarquell.exe')", "Zelkoran", programs, "is not an 8.3 name"},
        {"w.APP_NAME = 'V' * 41", "Zelkoran", programs, "over the 40"},
        {"w.FILES[1] = ('Tarquell.exe', ('Windows',))", "Zelkoran", programs, "standard folders"},
        {"w.LINKS.append(('Help', 11, 'Help.exe'))", "Zelkoran", programs, "which is not installed"},
    };
    for (const auto& row : rows) {
        const ChildRun refused = Shell(
            "python3 -c \"import sys, importlib.machinery as m; w = m.SourceFileLoader('w', '" PROJECT_DIR
            "/tools/cabinet/ce-cab.py').load_module(); " + std::string(*row.change ? row.change : "pass") + "; w.main(sys.argv)\" " +
            (dir / "x.cab").string() + " '" + row.company + "'" + row.programs);
        EXPECT_NE(refused.status, 0) << row.says;
        EXPECT_NE(refused.output.find("ce-cab: "), std::string::npos) << refused.output;
        EXPECT_NE(refused.output.find(row.says), std::string::npos) << refused.output;
        EXPECT_EQ(refused.output.find('\n'), refused.output.size() - 1) << refused.output;
        EXPECT_FALSE(fs::exists(dir / "x.cab")) << row.says;
    }
}

// A cabinet made by the writer with the build's programs, its tables changed
// by `change` (Python, on the writer loaded as w) and `programs` beside them, name and
// bytes (a name of the build's takes its place).
std::string Made(const fs::path& dir, const std::string& change,
                 const std::vector<std::pair<std::string, std::string>>& programs = {})
{
    const fs::path given = dir / "programs", cab = dir / "made.cab";
    fs::create_directories(given);
    std::string paths = " '" VELLORIA_EXE "' '" TARQUELL_EXE "'";
    for (const auto& [name, bytes] : programs) {
        std::ofstream(given / name, std::ios::binary | std::ios::trunc) << bytes;
        paths += " '" + (given / name).string() + "'";
    }
    const ChildRun made = Shell(
        "python3 -c \"import sys, importlib.machinery as m; w = m.SourceFileLoader('w', '" PROJECT_DIR
        "/tools/cabinet/ce-cab.py').load_module(); " + (change.empty() ? "pass" : change) + "; w.main(sys.argv)\" " +
        cab.string() + " " + facts::kMaker + paths);
    EXPECT_EQ(made.status, 0) << change << ": " << made.output;
    return cab.string();
}

const std::string kProgramFiles = "Program Files/Velloria/", kStartUp = "Windows/StartUp/";
// Lets a file's folder leave the standard ones; R() is the device's root.
const std::string kAnyFolder = "w.re.match = lambda *a: True; R = type('R', (tuple,), {'__getitem__': lambda s, i: ''}); ";
const std::string kLongName = std::string(249, 'x') + ".exe";  // 253 bytes: its old temporary name was 257

// One row a cabinet installed over Velloria.cab's install: its change to the
// writer's tables, its programs, the device prepared so (a host path in it,
// a file's bytes, or "/" for a folder), and then what it says (the problem
// when `ok` is false, else the warning, "" for none) and the files changed.
struct Reinstall {
    const char* what;
    std::string change;
    std::vector<std::pair<std::string, std::string>> programs;
    bool ok;
    std::string says;
    session::Changed changed;
    std::pair<std::string, std::string> prepared = {};
};

const Reinstall kReinstalls[] = {
    {"the same cabinet", "", {}, true, "", {}},
    {"one file fewer", "w.FILES = w.FILES[:1]; w.LINKS = w.LINKS[:1]", {}, true, "",
     {"removed \\Program Files\\Velloria\\Tarquell.exe", "removed \\Windows\\StartUp\\Tarquell.lnk"}},
    {"compressed with MSZIP", "w.GCAB_OPTIONS.append('--zip')", {}, true, "MSZIP, which a CE 3.0 device may refuse", {}},
    {"a changed program", "", {{"Velloria.exe", "MZ new"}}, true, "", {"replaced \\Program Files\\Velloria\\Velloria.exe"}},
    {"a name whose temporary name was past the host's 255 bytes",
     kAnyFolder + "w.checked_83 = lambda n, what: n; w.FILES.append(('" + kLongName + "', R()))",
     {{"Velloria.exe", "MZ new"}, {kLongName, "MZ"}}, true, "",
     {"replaced \\Program Files\\Velloria\\Velloria.exe", "added \\" + kLongName}},
    {"a name past the host's 255 bytes, after a file that replaces Velloria.exe",
     kAnyFolder + "w.checked_83 = lambda n, what: n; w.FILES.append(('x" + kLongName + "xx', R())); " +
         "w.os.path.basename = (lambda real: lambda p: 'x" + kLongName + "xx' if p.endswith('long.exe') else real(p))"
         "(w.os.path.basename)",
     {{"Velloria.exe", "MZ new"}, {"long.exe", "MZ"}}, false, "longer than the host takes", {}},
    {"the control panel replaced", "w.FILES.append(('CTLPNL.EXE', ('%CE2%',)))", {{"CTLPNL.EXE", "#!/bin/sh"}},
     false, "\\Windows\\CTLPNL.EXE is the device's own", {}},
    {"a folder where a program goes", "", {}, false, "\\Program Files\\Velloria\\Tarquell.exe is a folder, where", {},
     {kProgramFiles + "Tarquell.exe/", ""}},
    {"a file where a folder goes", "w.FILES.append(('A.EXE', ('%CE2%', 'Sub')))", {{"A.EXE", "MZ"}}, false,
     "\\Windows\\Sub is in the way", {}, {"Windows/Sub", "a file"}},
    {"a file where a shortcut goes", "w.FILES.append(('TARQUELL.LNK', ('%CE4%',)))", {{"TARQUELL.LNK", "MZ"}}, false,
     "\\Windows\\StartUp\\Tarquell.lnk is installed twice", {}},
};

TEST(Cabinet, AnInstallOverAnotherIsAllOrNothingAndListsWhatItChanged)
{
    for (const Reinstall& row : kReinstalls) {
        HostDevice device;
        InstallVelloria();
        if (!row.prepared.first.empty() && row.prepared.first.back() == '/') {
            fs::remove(DeviceFiles() / row.prepared.first.substr(0, row.prepared.first.size() - 1));
            fs::create_directories(DeviceFiles() / row.prepared.first);
        }
        else if (!row.prepared.first.empty())
            std::ofstream(DeviceFiles() / row.prepared.first) << row.prepared.second;
        const auto before = Listing();
        const std::string cab = Made(device.Outside(), row.change, row.programs);
        std::string problem, warning;
        session::Changed changed;
        EXPECT_EQ(Install(cab, problem, &changed, &warning), row.ok) << row.what << ": " << problem;
        EXPECT_NE((row.ok ? warning : problem).find(row.says), std::string::npos) << row.what << ": " << problem << warning;
        EXPECT_EQ(row.says.empty(), (row.ok ? warning : problem).empty()) << row.what << ": " << warning;
        EXPECT_EQ(changed, row.changed) << row.what;
        if (!row.ok) {
            EXPECT_TRUE(Listing() == before) << row.what << ": the device was changed";
        }
        for (const std::string& line : row.changed) {
            const std::string path = fs::path(line.substr(line.find('\\') + 1)).string();
            std::string host = path;
            std::replace(host.begin(), host.end(), '\\', '/');
            EXPECT_EQ(fs::exists(DeviceFiles() / host), line.rfind("removed", 0) != 0) << row.what << ": " << line;
        }
    }
}

// Installed, the files are the cabinet's and data: none is runnable. Then
// removed as Remove Programs does, the device is as it was, but for the
// registry and the standard folders.
TEST(Cabinet, InstallAndRemovalOnTheDevicesListing)
{
    HostDevice device;
    host::PrepareDevice();
    session::PrepareInstalls();
    const auto before = Listing();
    std::string problem;
    session::Changed changed;
    ASSERT_TRUE(Install(VELLORIA_CAB, problem, &changed)) << problem;
    auto added = Listing();
    for (const auto& [path, what] : before)
        added.erase(path);
    std::vector<std::string> paths;
    for (const auto& [path, what] : added)
        paths.push_back(path + (what == "folder" ? "/" : " " + what.substr(0, what.find(' '))));
    EXPECT_EQ(paths, (std::vector<std::string>{"Program Files/Velloria/", "Program Files/Velloria/Tarquell.exe 420",
                                               "Program Files/Velloria/Velloria.exe 420",
                                               "Windows/Start Menu/Programs/Velloria.lnk 420",
                                               "Windows/StartUp/Tarquell.lnk 420"}));
    EXPECT_EQ(FileBytes(DeviceFiles() / (kProgramFiles + "Velloria.exe")), FileBytes(VELLORIA_EXE));
    EXPECT_EQ(changed.size(), 4u);
    EXPECT_EQ(session::InstalledApplications(), std::vector<std::string>{std::string(facts::kMaker) + " Velloria"});

    EXPECT_FALSE(session::RemoveApplication("Tarquell", changed, problem));
    EXPECT_NE(problem.find("no application \"Tarquell\" is installed"), std::string::npos) << problem;
    ASSERT_TRUE(session::RemoveApplication("Velloria", changed, problem)) << problem;
    EXPECT_TRUE(Listing() == before) << "something of Velloria is left";
    EXPECT_EQ(changed.size(), 4u);
    EXPECT_TRUE(session::InstalledApplications().empty());

    // A link put in a program's place is taken for nobody's file: what it
    // leads to outside stays, and so does the link, and its folder.
    ASSERT_TRUE(Install(VELLORIA_CAB, problem)) << problem;
    std::ofstream(device.Outside() / "outside.exe") << "the user's";
    fs::remove(DeviceFiles() / kProgramFiles / "Tarquell.exe");
    fs::create_symlink(device.Outside() / "outside.exe", DeviceFiles() / kProgramFiles / "Tarquell.exe");
    ASSERT_TRUE(session::RemoveApplication(std::string(facts::kMaker) + " Velloria", changed, problem)) << problem;
    EXPECT_EQ(FileBytes(device.Outside() / "outside.exe"), "the user's");
    EXPECT_TRUE(fs::is_symlink(DeviceFiles() / kProgramFiles / "Tarquell.exe"));
    EXPECT_FALSE(fs::exists(DeviceFiles() / kProgramFiles / "Velloria.exe"));
}

// One row a step an install can fail at, or stop at as in a crash, over
// Velloria's install: the device is as it was, or, stopped once recorded,
// the install is finished at the next start.
TEST(Cabinet, AnInstallFailingOrStoppedAtAnyStepLeavesTheDeviceAsItWas)
{
    using session::InstallStep;
    using session::StepOutcome;
    const struct {
        InstallStep step;
        int at;  // the at-th time the step is reached
        StepOutcome outcome;
        bool finished;
    } rows[] = {
        {InstallStep::Extracted, 1, StepOutcome::Fail, false}, {InstallStep::Staged, 1, StepOutcome::Fail, false},
        {InstallStep::Moved, 1, StepOutcome::Fail, false},     {InstallStep::Moved, 3, StepOutcome::Fail, false},
        {InstallStep::Moved, 1, StepOutcome::Crash, false},    {InstallStep::Moved, 5, StepOutcome::Crash, false},
        {InstallStep::Recorded, 1, StepOutcome::Crash, true},
    };
    for (const auto& row : rows) {
        const std::string what = "step " + std::to_string(int(row.step)) + " #" + std::to_string(row.at) +
                                 (row.outcome == StepOutcome::Crash ? " crashed" : " failed");
        HostDevice device;
        InstallVelloria();
        const auto before = Listing();
        // One file changed, one new, one shortcut fewer.
        const std::string cab = Made(device.Outside(), "w.FILES.append(('New.exe', w.INSTALL_DIR)); w.LINKS = w.LINKS[:1]",
                                     {{"Velloria.exe", "MZ new"}, {"New.exe", "MZ"}});
        int reached = 0;
        std::string problem;
        const bool installed = Install(cab, problem, nullptr, nullptr, [&](InstallStep step) {
            return step == row.step && ++reached == row.at ? row.outcome : StepOutcome::Go;
        });
        EXPECT_FALSE(installed) << what;
        EXPECT_EQ(reached, row.at) << what;
        EXPECT_EQ(problem.empty(), row.outcome == StepOutcome::Crash) << what << ": " << problem;
        session::PrepareInstalls();  // the next start
        if (!row.finished) {
            EXPECT_TRUE(Listing() == before) << what << ": the device was changed";
            continue;
        }
        EXPECT_EQ(FileBytes(DeviceFiles() / (kProgramFiles + "Velloria.exe")), "MZ new") << what;
        EXPECT_EQ(FileBytes(DeviceFiles() / (kProgramFiles + "New.exe")), "MZ") << what;
        EXPECT_FALSE(fs::exists(DeviceFiles() / kStartUp / "Tarquell.lnk")) << what;
        session::Changed changed;
        ASSERT_TRUE(session::RemoveApplication("Velloria", changed, problem)) << what << ": " << problem;
        EXPECT_FALSE(fs::exists(DeviceFiles() / kProgramFiles)) << what << ": the record was not kept";
    }
}

// The journal of an install stopped half-way lies in the device folder,
// which is untrusted: one planted there to undo names outside the device
// is no journal, and is taken away.
TEST(Cabinet, APlantedJournalReachesNothingOutsideTheDevice)
{
    HostDevice device;
    InstallVelloria();
    std::ofstream(device.Outside() / "outside.exe") << "the user's";
    const auto before = Listing();
    std::string problem;
    const fs::path own = host::DeviceFolder::Private(problem).path();
    for (const char* line : {"move\t\t../../outside.exe\tgone\t", "move\t..\\..\toutside.exe\tgone\t",
                                    "made\t..\\..", "move\tProgram Files\\Velloria\tVelloria.exe\t\t../../../outside.exe"}) {
        std::ofstream(own / "install-journal") << "moving\nrecord\tZelkoran Velloria\tkeep\n" << line << "\n";
        session::PrepareInstalls();
        EXPECT_EQ(FileBytes(device.Outside() / "outside.exe"), "the user's") << line;
        EXPECT_TRUE(Listing() == before) << line;
        EXPECT_FALSE(fs::exists(own / "install-journal")) << line;
    }
}

// What the emulator keeps for itself is out of a cabinet's reach: a file
// named as the registry at the device's root, or a folder where a save puts
// its temporary file, changes neither the registry nor a later save.
TEST(Cabinet, ACabinetReachesNoneOfTheEmulatorsOwnFiles)
{
    const std::string rows[] = {
        kAnyFolder + "w.FILES.append(('REGISTRY.REG', R()))",
        kAnyFolder + "w.FILES.append(('X.EXE', ('registry.reg.tmp',)))",
    };
    for (const std::string& change : rows) {
        HostDevice device;
        InstallVelloria();
        const std::string registry = device.Read(host::kRegistryFile);
        const std::string cab = Made(device.Outside(), change, {{"REGISTRY.REG", "REGEDIT4\n"}, {"X.EXE", "MZ"}});
        std::string problem;
        Install(cab, problem);
        EXPECT_EQ(device.Read(host::kRegistryFile), registry) << change;
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Zelkoran", 0, nullptr, 0, 0, nullptr, &key, nullptr),
                  ERROR_SUCCESS) << change;
        const DWORD one = 1;
        EXPECT_EQ(RegSetValueExW(key, L"saved", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
                  ERROR_SUCCESS) << change << ": a later save fails";
        RegCloseKey(key);
    }
}

}  // namespace
