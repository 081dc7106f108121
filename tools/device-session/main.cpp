// The emulated device, lived through on this terminal: the settings program,
// the restarts it asks for with the device's start-up programs, the desktop
// in between, and on quit what changed in the device registry.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "changes.h"
#include "children.h"
#include "device/device.h"
#include "process/programs.h"
#include "terminal/hold.h"
#include "install.h"
#include "startup.h"
#include "status.h"
#include "text.h"

namespace {

const char* const kHelp =
    "Usage: device-session [--device DIR] [--reset] [--arm [--install FILE.cab]]\n"
    "                      [--remove NAME]\n"
    "Runs the emulated handheld on this terminal: opens the settings program\n"
    "Velloria, carries out the restarts it asks for by running the device's\n"
    "start-up programs (\\Windows\\StartUp, Tarquell among them), and on quit lists\n"
    "what changed in the device registry.\n"
    "  --device DIR  the device folder; it is created when missing. Default:\n"
    "                $CE_DEVICE_ROOT, else $XDG_DATA_HOME/ce-device, else\n"
    "                ~/.local/share/ce-device\n"
    "  --reset       start over from the default image: registry.reg, Tarquell.exe\n"
    "                in the start-up folder and a pending restart are set up anew;\n"
    "                nothing else in the folder is touched\n"
    "  --arm         the handheld's own ARM programs (the wince build), run on an\n"
    "                emulated StrongARM: Velloria.cab is installed as the device's\n"
    "                installer does, and Velloria opens from its Start menu shortcut\n"
    "  --install FILE.cab  with --arm, installs this cabinet instead of Velloria.cab\n"
    "  --remove NAME  removes the installed application NAME (\"<maker> <application>\",\n"
    "                or the application's name) as Remove Programs does, and ends\n"
    "  --help        this text\n";

struct Options {
    std::string device;
    bool reset = false;
    bool arm = false;
    std::string cab, remove;
};

// 0 to go on, else the exit status.
int Parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(kHelp, stdout);
            return -1;
        }
        if (arg == "--arm") {
            options.arm = true;
        } else if ((arg == "--install" || arg == "--remove") && i + 1 < argc && *argv[i + 1]) {
            (arg == "--install" ? options.cab : options.remove) = argv[++i];
            options.arm = options.arm || arg == "--install";
        } else if (arg == "--reset") {
            options.reset = true;
        } else if (arg == "--device" || arg.rfind("--device=", 0) == 0) {
            if (arg == "--device" && i + 1 == argc) {
                fprintf(stderr, "device-session: --device needs a folder; see --help\n");
                return 2;
            }
            options.device = arg == "--device" ? argv[++i] : arg.substr(9);
            if (options.device.empty()) {
                fprintf(stderr, "device-session: --device needs a folder; see --help\n");
                return 2;
            }
        } else {
            fprintf(stderr, "device-session: unknown argument \"%s\"; see --help\n", arg.c_str());
            return 2;
        }
    }
    return 0;
}

bool Exists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// A folder that is missing, empty, or already a device's. Anything else is
// somebody's files, which the session leaves alone.
bool IsDeviceFolder(const std::string& root, std::string& problem)
{
    struct stat info;
    if (stat(root.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return true;
        problem = root + ": " + strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        problem = root + " is not a folder";
        return false;
    }
    DIR* listing = opendir(root.c_str());
    if (!listing) {
        problem = root + ": " + strerror(errno);
        return false;
    }
    bool empty = true, device = false;
    while (dirent* entry = readdir(listing)) {
        const char* name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        empty = false;
        // This layout or the earlier one (the device's files beside registry.reg).
        device = device || strcmp(name, host::kRegistryFile) == 0 || strcmp(name, host::kFilesFolder) == 0 ||
                 strcmp(name, host::kPrivateFolder) == 0 ||
                 host::text::SameName(name, host::kWindowsFolder);
    }
    closedir(listing);
    if (!empty && !device)
        problem = root + " holds other files and no device (no registry.reg, no Windows folder); "
                         "name a new or empty folder";
    return empty || device;
}

bool RemoveFile(const std::string& path)
{
    if (unlink(path.c_str()) == 0 || errno == ENOENT)
        return true;
    fprintf(stderr, "device-session: cannot remove %s: %s\n", path.c_str(), strerror(errno));
    return false;
}

// A request is a file (or a link, which is removed, never followed); what
// else stands there is no request, and is left alone.
bool TakeRestartRecord()
{
    const std::string record = host::DeviceRoot() + "/" + host::kRestartRequestFile;
    struct stat info;
    if (lstat(record.c_str(), &info) != 0)
        return false;
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        fprintf(stderr, "device-session: %s is no restart request (%s); it is left alone\n",
                record.c_str(), host::KindOf(info.st_mode));
        return false;
    }
    RemoveFile(record);
    return true;
}

void Say(const char* text)
{
    fputs(text, stdout);
    fflush(stdout);
}

// Single keys from the terminal; lines from anything else.
class Keys {
public:
    Keys() : terminal_(isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_) == 0) {}

    // Puts the terminal back as the session found it, whatever a program
    // left it in.
    void Restore() const
    {
        if (terminal_)
            tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }

    // The next key; 'q' at the end of input.
    int Next() const
    {
        if (terminal_) {
            termios raw = saved_;
            raw.c_lflag &= ~(ICANON | ECHO | ISIG);
            raw.c_cc[VMIN] = 1;
            raw.c_cc[VTIME] = 0;
            tcsetattr(STDIN_FILENO, TCSANOW, &raw);
        }
        int key = 'q';
        for (;;) {
            unsigned char c;
            const ssize_t n = read(STDIN_FILENO, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            if (!terminal_ && (c == '\n' || c == ' ' || c == '\t' || c == '\r'))
                continue;
            key = c;
            break;
        }
        Restore();
        return key;
    }

private:
    termios saved_;
    bool terminal_;

public:
    const termios* Modes() const { return terminal_ ? &saved_ : nullptr; }
};

class Session {
public:
    Session(const Keys& keys, const std::string& velloria) : keys_(keys), velloria_(velloria) {}

    // A start-up program that asks for a restart restarts the device again;
    // restarts that follow one another with no key pressed stop after a few.
    void Restart()
    {
        for (int inARow = 1;; ++inARow) {
            ++restarts_;
            printf("\n=== The device restarts (warm start %d) ===\n", restarts_);
            fflush(stdout);
            // Nothing that ran before the restart runs on after it.
            session::EndAll();
            const std::string asked = session::RunStartUp(TakeRestartRecord);
            if (asked.empty())
                break;
            if (inARow == kMostRestartsInARow) {
                printf("%s asked for a restart again, after %d in a row with no key pressed; this one is "
                       "not carried out.\n", host::text::Printable(asked).c_str(), inARow);
                break;
            }
            printf("%s asked for a restart (soft reset).\n", host::text::Printable(asked).c_str());
        }
        Say("The device is up.\n");
    }

    // Opens Velloria as the device's user does; restarts when it asked to.
    void OpenSettings()
    {
        Say("\nOpening Velloria, the settings program...\n");
        std::string problem;
        const int status = velloria_.empty() ? OpenFromStartMenu(problem)
                                             : session::RunAndWait(velloria_, problem);
        keys_.Restore();
        const bool closed = status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        // The emulator's status for a program stopped at its restart.
        const bool reset = status >= 0 && session::Emulating() && WIFEXITED(status) &&
                           WEXITSTATUS(status) == armemu::kResetStatus;
        if (status < 0)
            printf("Velloria could not be opened: %s.\n", problem.c_str());
        else if (!closed && !reset)
            printf("Velloria ended with %s.\n", session::DescribeStatus(status).c_str());
        if (TakeRestartRecord()) {
            Say("Velloria asked for a restart (soft reset).\n");
            Restart();
        } else if (closed) {
            Say("Velloria closed without a restart.\n");
        }
    }

    // The desktop, until the user quits. Other keys do nothing.
    void Desktop()
    {
        for (;;) {
            Say("\nAt the device's desktop. Press a key:\n"
                "  s  open Velloria, the settings program\n"
                "  r  restart the device\n"
                "  u  remove an installed program (Settings > Remove Programs)\n"
                "  q  quit, and list what changed in the device registry\n"
                "> ");
            int key;
            while (!strchr("sSrRuUqQ\3\4", key = keys_.Next()) || key == 0) {
            }
            switch (key) {
            case 's': case 'S':
                Say("s\n");
                OpenSettings();
                break;
            case 'r': case 'R':
                Say("r\n");
                Restart();
                break;
            case 'u': case 'U':
                Say("u\n");
                RemoveProgram();
                break;
            default:  // q, Ctrl-C, Ctrl-D
                Say("q\n");
                return;
            }
        }
    }

    // What installs and removals changed on the device, in order.
    session::Changed changed;

private:
    // Remove Programs: the installed applications, one a digit.
    void RemoveProgram()
    {
        const std::vector<std::string> names = session::InstalledApplications();
        if (names.empty()) {
            Say("No program is installed.\n");
            return;
        }
        Say("Remove which program? (another key: none)\n");
        for (size_t i = 0; i < names.size() && i < 9; ++i)
            printf("  %zu  %s\n", i + 1, host::text::Printable(names[i]).c_str());
        Say("> ");
        const int key = keys_.Next();
        const size_t chosen = key >= '1' && key <= '9' ? size_t(key - '1') : names.size();
        if (chosen >= names.size() || chosen >= 9) {
            Say("\nNothing removed.\n");
            return;
        }
        printf("%c\n", key);
        std::string problem;
        session::Changed removed;
        if (!session::RemoveApplication(names[chosen], removed, problem)) {
            printf("%s could not be removed: %s.\n", host::text::Printable(names[chosen]).c_str(),
                   host::text::Printable(problem).c_str());
            return;
        }
        printf("Removed %s from the device.\n", host::text::Printable(names[chosen]).c_str());
        changed.insert(changed.end(), removed.begin(), removed.end());
    }

    // The handheld's Velloria: what its Start menu shortcut leads to.
    static int OpenFromStartMenu(std::string& problem)
    {
        cab::DevicePath shortcut = *cab::StandardFolder(kStartMenuPrograms);
        shortcut.push_back("Velloria.lnk");
        const int program = session::OpenShortcut(shortcut, problem);
        if (program < 0) {
            problem = cab::Joined(shortcut) + " is " + problem;
            return -1;
        }
        const int status = session::RunAndWait("/proc/self/fd/" + std::to_string(program), problem);
        close(program);
        return status;
    }

    static constexpr unsigned kStartMenuPrograms = 11;  // %CE11%
    static constexpr int kMostRestartsInARow = 3;

    const Keys& keys_;
    std::string velloria_;  // empty: from the Start menu
    int restarts_ = 0;
};

void ListFiles(const session::Changed& changed)
{
    if (changed.empty())
        return;
    Say("\nWhat installs and removals changed on the device during this session:\n");
    for (const std::string& line : changed)
        printf("  %s\n", host::text::Printable(line).c_str());
    fflush(stdout);
}

int ListChanges(const session::Values& before)
{
    const std::optional<std::vector<session::Change>> found = session::ChangesSince(before);
    if (!found) {
        Say("\nThe device registry can't be read now, so what changed can't be told.\n");
        return 1;
    }
    const std::vector<session::Change>& changes = *found;
    if (changes.empty()) {
        Say("\nNothing changed in the device registry during this session.\n");
        return 0;
    }
    Say("\nWhat changed in the device registry during this session:\n");
    for (const session::Change& change : changes)
        printf("  %s\n", session::Describe(change).c_str());
    fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const int status = Parse(argc, argv, options))
        return status < 0 ? 0 : status;

    if (!options.device.empty()) {
        std::string device = options.device;
        if (device[0] != '/') {
            char here[4096];
            if (!getcwd(here, sizeof here)) {
                fprintf(stderr, "device-session: cannot tell the current folder: %s\n", strerror(errno));
                return 1;
            }
            device = std::string(here) + "/" + device;
        }
        setenv("CE_DEVICE_ROOT", device.c_str(), 1);
    }
    const std::string root = host::DeviceRoot();
    std::string problem;
    if (!IsDeviceFolder(root, problem)) {
        fprintf(stderr, "device-session: %s\n", problem.c_str());
        return 1;
    }

    const std::string registry = root + "/" + host::kRegistryFile;
    if (options.reset && (!RemoveFile(registry) || !RemoveFile(root + "/" + host::kRestartRequestFile)))
        return 1;
    const bool fresh = !Exists(registry);
    host::PrepareDevice();
    if (!options.remove.empty()) {
        session::PrepareInstalls();
        session::Changed removed;
        if (!session::RemoveApplication(options.remove, removed, problem)) {
            fprintf(stderr, "device-session: %s\n", host::text::Printable(problem).c_str());
            return 1;
        }
        printf("Removed %s from the device.\n", host::text::Printable(options.remove).c_str());
        ListFiles(removed);
        return 0;
    }
    // Taken before anything is installed, so that the list at the end tells
    // what the install changed too.
    const std::optional<session::Values> before = session::Snapshot();
    if (!before) {
        fprintf(stderr, "device-session: the device registry %s can't be read; "
                        "--reset starts over from the default image\n", registry.c_str());
        return 1;
    }
    std::string velloria = ZK_VELLORIA;
    session::Changed installed;
    if (options.arm) {
#ifdef ZK_ARMEMU
        // The handheld's programs come from their cabinet, as on the device.
        session::UseEmulator(ZK_ARMEMU);
        host::UseHostPrograms({"", "", ZK_ARMEMU});
        velloria.clear();
        const std::string cab = options.cab.empty() ? ZK_WINCE_CAB : options.cab;
        if (options.cab.empty() && access(ZK_WINCE_CAB, R_OK) != 0) {
            fprintf(stderr, "device-session: %s is missing: build the wince preset first\n", ZK_WINCE_CAB);
            return 1;
        }
        std::string warning;
        const bool done = session::InstallFromCabinet(cab, installed, warning, problem);
        // The cabinet's names, and the device's in the way, are shown printable;
        // a cabinet refused is told in its one line.
        if (!done) {
            fprintf(stderr, "device-session: %s\n", host::text::Printable(problem.empty() ? cab : problem).c_str());
            return 1;
        }
        if (!warning.empty())
            fprintf(stderr, "device-session: %s\n", host::text::Printable(warning).c_str());
        printf("Installed %s on the device.\n", host::text::Printable(cab).c_str());
#else
        fprintf(stderr, "device-session: this build has no emulated StrongARM (configure with ZK_WINCE_DIR)\n");
        return 1;
#endif
    } else if (host::UseHostPrograms({"", ZK_TARQUELL, ""}),
               !session::InstallStartUp(ZK_TARQUELL, options.reset, problem)) {
        // What set-up has told already is not told again.
        host::TellDeviceProblem(problem);
        return 1;
    }
    // After the start-up folder is set up: a new device's is made with the launcher.
    session::PrepareInstalls();

    printf("Emulated device: %s%s\n", root.c_str(),
           options.reset ? " (started over from the default image)"
           : fresh       ? " (new, set up from the default image)"
                         : "");
    fflush(stdout);

    session::AdoptOrphans();
    // The session's lines and prompt hold the terminal; a program's dialog
    // holds it while it is up.
    host::ShareTerminal();
    host::HoldTerminal();
    Keys keys;
    session::EndWholeOnSignals(keys.Modes());
    Session device(keys, velloria);
    device.changed = installed;
    if (TakeRestartRecord()) {
        Say("A restart asked for before this session is still due.\n");
        device.Restart();
    }
    device.OpenSettings();
    device.Desktop();
    // Whatever still runs is ended with the device, so nothing outlives the
    // session or holds its output.
    session::EndAll();
    ListFiles(device.changed);
    return ListChanges(*before);
}
