// Velloria.cab, the handheld's installation cabinet: read back by cabextract,
// which we did not write; its header read by ours; the headers ours refuses,
// each installed on a scratch device that is left untouched; and the writer's
// refusals and its same bytes for the same programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

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

std::string Header()
{
    std::string bytes, problem;
    EXPECT_TRUE(session::CabinetFile(VELLORIA_CAB, 0, 1 << 20, bytes, problem)) << problem;
    return bytes;
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
    std::string problem;
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

// One row a fault: the header changed so, installed from a cabinet holding
// it and the programs (but Tarquell's, file 2, if `missing`; grown to `size`
// with zeros if given), is refused with this line, and the device is not
// written.
struct Malformed {
    const char* what;
    std::function<void(std::string&)> fault;
    const char* says;
    bool missing = false;
    size_t size = 0;
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
    {"a program too large", [](std::string&) {}, "its file .002 is too large", false, 33 << 20},
};

TEST(Cabinet, MalformedHeadersAreRefusedAndNothingIsWritten)
{
    const std::string good = Header();
    ASSERT_GT(good.size(), 100u);
    for (const Malformed& row : kMalformed) {
        HostDevice device;
        const fs::path stage = device.Outside() / "stage";
        fs::create_directories(stage);
        std::string header = good;
        row.fault(header);
        std::ofstream(stage / "Velloria.000", std::ios::binary) << header;
        fs::copy_file(VELLORIA_EXE, stage / "Velloria.001");
        fs::copy_file(TARQUELL_EXE, stage / "Tarquell.002");
        if (row.size)
            fs::resize_file(stage / "Tarquell.002", row.size);
        const ChildRun made = Shell("cd '" + stage.string() + "' && gcab -c -z -n test.cab Velloria.000 Velloria.001" +
                                    (row.missing ? "" : " Tarquell.002"));
        ASSERT_EQ(made.status, 0) << made.output;

        std::string problem;
        EXPECT_FALSE(session::InstallCabinet((stage / "test.cab").string(), problem)) << row.what;
        EXPECT_NE(problem.find(row.says), std::string::npos) << row.what << ": " << problem;
        EXPECT_EQ(problem.find('\n'), std::string::npos) << row.what << ": " << problem;
        EXPECT_FALSE(fs::exists(device.Root())) << row.what << ": the device was written";
    }
}

TEST(Cabinet, TheWriterGivesTheSameBytesAndRefusesBadInput)
{
    HostDevice scratch;
    const fs::path dir = scratch.Outside();
    const std::string programs = " '" VELLORIA_EXE "' '" TARQUELL_EXE "'";
    const ChildRun again = Shell(PROJECT_DIR "/platform/wince/ce-cab.py " + (dir / "again.cab").string() +
                            " " PROJECT_DIR "/launcher/res/Tarquell.rc" + programs);
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(FileBytes(dir / "again.cab"), FileBytes(VELLORIA_CAB)) << "made again elsewhere, later";

    // One row a refusal: a change to the writer's table (Python, on the
    // writer loaded as w), the CompanyName of the .rc, the programs, and the
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
        std::ofstream(dir / "x.rc") << "VALUE \"CompanyName\", \"" << row.company << "\"\n";
        const ChildRun refused = Shell(
            "python3 -c \"import sys, importlib.machinery as m; w = m.SourceFileLoader('w', '" PROJECT_DIR
            "/platform/wince/ce-cab.py').load_module(); " + std::string(*row.change ? row.change : "pass") + "; w.main(sys.argv)\" " +
            (dir / "x.cab").string() + " " + (dir / "x.rc").string() + row.programs);
        EXPECT_NE(refused.status, 0) << row.says;
        EXPECT_NE(refused.output.find("ce-cab: "), std::string::npos) << refused.output;
        EXPECT_NE(refused.output.find(row.says), std::string::npos) << refused.output;
        EXPECT_EQ(refused.output.find('\n'), refused.output.size() - 1) << refused.output;
        EXPECT_FALSE(fs::exists(dir / "x.cab")) << row.says;
    }
}

}  // namespace
