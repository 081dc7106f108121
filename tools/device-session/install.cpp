#include "install.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "text.h"

namespace session {
namespace {

// The device: CE 3.0 on a StrongARM.
constexpr uint32_t kArchitectures[] = {0, 2577};  // any, StrongARM
constexpr uint32_t kVersion = 3 * 100 + 0;

constexpr size_t kHeaderLimit = 1 << 20;
constexpr size_t kCabinetLimit = kInstallLimit + (kInstallLimit >> 2);  // the files stored, and the tables
constexpr size_t kRecordLimit = 1 << 20;
constexpr size_t kShortcutLimit = 1024;

// In the emulator's private area: the cabinet's files as extracted, the
// files an install replaces, the install under way, and one record an
// installed application.
constexpr const char kStaging[] = "staging";
constexpr const char kAside[] = "aside";
constexpr const char kJournal[] = "install-journal";
constexpr const char kRecords[] = "installed";
// Names in staging that no file of a cabinet has (':' is no device name's).
constexpr const char kStagedRecord[] = ":record";
constexpr const char kStagedLink[] = ":link";

// The device's own files, which no cabinet replaces: set-up's.
const char* const kDevicesOwn[][2] = {{host::kWindowsFolder, host::kControlPanelFile}};

// Whether the device takes what the header asks of it; why not otherwise.
std::string Unfit(const cab::Header& header)
{
    bool architecture = false;
    for (const uint32_t each : kArchitectures)
        architecture = architecture || header.architecture == each;
    if (!architecture)
        return "is for processor " + std::to_string(header.architecture) + ", not this StrongARM (2577)";
    const uint32_t min = header.minMajor * 100 + header.minMinor;
    const uint32_t max = header.maxMajor * 100 + header.maxMinor;
    if (kVersion < min || (max && kVersion > max))
        return "is not for Windows CE 3.0";
    if (header.registryKeys)
        return "sets registry values, which this device's installer does not";
    return "";
}

bool Same(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// A folder of the device as the journal and the records keep it: its parts
// joined by '\', which no name holds; "" for the root.
std::string Folder(const cab::DevicePath& path)
{
    std::string joined;
    for (const std::string& part : path)
        joined += (joined.empty() ? "" : "\\") + part;
    return joined;
}

cab::DevicePath Parts(const std::string& folder)
{
    cab::DevicePath parts;
    for (size_t at = 0; at < folder.size();) {
        const size_t end = std::min(folder.find('\\', at), folder.size());
        parts.push_back(folder.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    for (size_t at = 0;;) {
        const size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
        if (tab == std::string::npos)
            return fields;
        at = tab + 1;
    }
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

bool IsStandardFolder(const cab::DevicePath& path)
{
    for (unsigned n = 1; cab::StandardFolder(n); ++n) {
        const cab::DevicePath standard = *cab::StandardFolder(n);
        if (standard.size() == path.size() && std::equal(path.begin(), path.end(), standard.begin(), Same))
            return true;
    }
    return false;
}

bool Exists(int dir, const std::string& name)
{
    struct stat info;
    return fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// What the open regular file `fd` holds, at most `limit` + 1 bytes of it.
bool ReadOpen(int fd, size_t limit, std::string& bytes)
{
    struct stat info;
    bool ok = fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    bytes.clear();
    char buffer[65536];
    for (ssize_t n = 1; ok && n > 0 && bytes.size() <= limit;) {
        n = read(fd, buffer, sizeof buffer);
        ok = n >= 0 || errno == EINTR;
        bytes.append(buffer, size_t(std::max<ssize_t>(n, 0)));
    }
    return ok && bytes.size() <= limit;
}

// A regular file's bytes, never through a link, at most `limit` of them.
bool ReadFile(int dir, const std::string& name, size_t limit, std::string& bytes)
{
    const int fd = openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const bool ok = ReadOpen(fd, limit, bytes);
    if (fd >= 0)
        close(fd);
    return ok;
}

// Empties the folder `name` of `dir`, never following a link.
void Empty(int dir, const char* name)
{
    const int fd = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* listing = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!listing) {
        if (fd >= 0)
            close(fd);
        return;
    }
    while (dirent* entry = readdir(listing)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        if (unlinkat(fd, entry->d_name, 0) != 0 && (errno == EISDIR || errno == EPERM)) {
            Empty(fd, entry->d_name);
            unlinkat(fd, entry->d_name, AT_REMOVEDIR);
        }
    }
    closedir(listing);
}

// The journal of an install or a removal: enough to finish it or undo it
// after a crash. Its first line is "moving" until every file is in place,
// then "done".
struct Journal {
    struct Move {
        cab::DevicePath folder;
        std::string name;    // as it is or will be found in the folder
        std::string staged;  // in staging; empty: the file goes
        std::string aside;   // where the file there is kept; empty: none was
    };
    std::string record;         // the record's name
    bool keepRecord = false;    // its new text is staged; else it goes
    std::vector<cab::DevicePath> made, old;  // folders made; folders the earlier copy made
    std::vector<Move> moves;

    std::string Text(bool done) const
    {
        std::string text = std::string(done ? "done" : "moving") + "\nrecord\t" + record + "\t" +
                           (keepRecord ? "keep" : "drop") + "\n";
        for (const cab::DevicePath& folder : made)
            text += "made\t" + Folder(folder) + "\n";
        for (const cab::DevicePath& folder : old)
            text += "old\t" + Folder(folder) + "\n";
        for (const Move& move : moves)
            text += "move\t" + Folder(move.folder) + "\t" + move.name + "\t" + move.staged + "\t" + move.aside + "\n";
        return text;
    }

    // False when the text is none of ours.
    bool Read(const std::string& text, bool& done)
    {
        const std::vector<std::string> lines = Lines(text);
        if (lines.empty() || (lines[0] != "done" && lines[0] != "moving"))
            return false;
        done = lines[0] == "done";
        for (size_t i = 1; i < lines.size(); ++i) {
            const std::vector<std::string> f = Fields(lines[i]);
            if (f[0] == "record" && f.size() == 3) {
                record = f[1];
                keepRecord = f[2] == "keep";
            } else if ((f[0] == "made" || f[0] == "old") && f.size() == 2) {
                (f[0] == "made" ? made : old).push_back(Parts(f[1]));
            } else if (f[0] == "move" && f.size() == 5) {
                moves.push_back({Parts(f[1]), f[2], f[3], f[4]});
            } else {
                return false;
            }
        }
        // The private area is the device folder's too: a journal planted
        // there names nothing outside the device and its own folders.
        const auto inside = [](const cab::DevicePath& path) { return std::all_of(path.begin(), path.end(), cab::OneName); };
        const auto own = [](const std::string& name) {
            return name.empty() || (name != "." && name != ".." && name.find('/') == std::string::npos);
        };
        for (const Move& move : moves)
            if (!inside(move.folder) || !cab::OneName(move.name) || !own(move.staged) || !own(move.aside))
                return false;
        return cab::OneName(record) && std::all_of(made.begin(), made.end(), inside) &&
               std::all_of(old.begin(), old.end(), inside);
    }
};

// The emulator's private area and its folders, open.
struct Areas {
    host::DeviceFolder priv, staging, aside, records;
    bool Open(std::string& problem)
    {
        priv = host::DeviceFolder::Private(problem);
        if (priv.ok())
            staging = priv.Sub(kStaging, true, problem);
        if (staging.ok())
            aside = priv.Sub(kAside, true, problem);
        if (aside.ok())
            records = priv.Sub(kRecords, true, problem);
        return records.ok();
    }
};

void RemoveFolders(std::vector<cab::DevicePath> folders)
{
    // The deepest first, so that a folder emptied by its subfolder's going goes too.
    std::sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const cab::DevicePath& folder : folders) {
        std::string problem;
        const host::DeviceFolder parent = DeviceFolderAt(cab::DevicePath(folder.begin(), folder.end() - 1), false, problem);
        if (!folder.empty() && !IsStandardFolder(folder) && parent.ok())
            unlinkat(parent.fd(), parent.Find(folder.back()).c_str(), AT_REMOVEDIR);
    }
}

// Puts back what the journal moved, newest first.
void Undo(const Areas& areas, const Journal& journal)
{
    for (auto move = journal.moves.rbegin(); move != journal.moves.rend(); ++move) {
        std::string problem;
        const host::DeviceFolder folder = DeviceFolderAt(move->folder, false, problem);
        if (!folder.ok())
            continue;
        const bool movedIn = !move->staged.empty() && !Exists(areas.staging.fd(), move->staged);
        const bool keptAside = !move->aside.empty() && Exists(areas.aside.fd(), move->aside);
        if (keptAside)
            renameat(areas.aside.fd(), move->aside.c_str(), folder.fd(), move->name.c_str());
        else if (movedIn)
            unlinkat(folder.fd(), move->name.c_str(), 0);
    }
    RemoveFolders(journal.made);
}

void Finish(const Areas& areas, const Journal& journal)
{
    if (journal.keepRecord)
        renameat(areas.staging.fd(), kStagedRecord, areas.records.fd(), journal.record.c_str());
    else
        unlinkat(areas.records.fd(), journal.record.c_str(), 0);
    RemoveFolders(journal.old);
}

void Clear(const Areas& areas)
{
    unlinkat(areas.priv.fd(), kJournal, 0);
    Empty(areas.priv.fd(), kStaging);
    Empty(areas.priv.fd(), kAside);
    fsync(areas.priv.fd());
}

// What a crash left: an install finished when every file was in place,
// undone otherwise; staging cleared. Under the device's lock.
void Recover(const Areas& areas)
{
    std::string text;
    Journal journal;
    bool done = false;
    if (ReadFile(areas.priv.fd(), kJournal, kRecordLimit, text) && journal.Read(text, done)) {
        if (done)
            Finish(areas, journal);
        else
            Undo(areas, journal);
    }
    Clear(areas);
}

// Reads the cabinet's own bytes: a regular file, bounded. Kept open in `fd`
// for its reader, which reads this file and no other put in its place.
bool ReadCabinet(const std::string& cab, std::string& bytes, int& fd, std::string& problem)
{
    fd = open(cab.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        problem = strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        problem = std::string("is ") + host::KindOf(info.st_mode) + ", not a cabinet";
        return false;
    }
    if (uint64_t(info.st_size) > kCabinetLimit) {
        problem = "is " + std::to_string(info.st_size) + " bytes, over the " +
                  std::to_string(kCabinetLimit >> 20) + " MiB a cabinet may be";
        return false;
    }
    if (!ReadOpen(fd, kCabinetLimit, bytes)) {
        problem = strerror(errno);
        return false;
    }
    return true;
}

// The cabinet's layout, fit to be read: its compression one the device may
// take (with `warning` for MSZIP), its names the host's to hold, and what a
// reader decompresses within kInstallLimit.
std::optional<cab::Layout> CheckLayout(const std::string& bytes, std::string& warning, std::string& problem)
{
    std::optional<cab::Layout> layout = cab::ReadLayout(bytes, problem);
    if (!layout)
        return std::nullopt;
    for (const cab::Compression compression : layout->folders) {
        if (compression == cab::Compression::Quantum || compression == cab::Compression::Lzx) {
            problem = std::string("is compressed with ") + cab::CompressionName(compression) +
                      ", which a CE 3.0 device's installer does not read";
            return std::nullopt;
        }
        if (compression == cab::Compression::Mszip)
            warning = "is compressed with MSZIP, which a CE 3.0 device may refuse (stored cabinets are read by every one)";
    }
    for (const cab::Layout::Entry& entry : layout->entries) {
        if (entry.name.size() > NAME_MAX) {
            problem = "has a file whose name is over the host's " + std::to_string(NAME_MAX) + " bytes";
            return std::nullopt;
        }
    }
    if (layout->Unpacked() > kInstallLimit) {
        problem = "holds " + std::to_string(layout->Unpacked()) + " bytes once decompressed, over the " +
                  std::to_string(kInstallLimit >> 20) + " MiB an install takes";
        return std::nullopt;
    }
    return layout;
}

// Runs cabextract once on the cabinet open in `fd`, into staging, under the
// limits on CPU time and on each file's size.
bool Extract(int fd, const host::DeviceFolder& staging, std::string& problem)
{
    const std::string source = "/proc/self/fd/" + std::to_string(fd);
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit cpu = {kReaderSeconds, kReaderSeconds}, size = {kInstallLimit + 1, kInstallLimit + 1};
        const int null = open("/dev/null", O_RDWR);
        if (setrlimit(RLIMIT_CPU, &cpu) != 0 || setrlimit(RLIMIT_FSIZE, &size) != 0 ||
            fchdir(staging.fd()) != 0 || fcntl(fd, F_SETFD, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0 || null < 0 || dup2(null, STDIN_FILENO) < 0 ||
            dup2(null, STDOUT_FILENO) < 0 || dup2(null, STDERR_FILENO) < 0)
            _exit(126);
        execlp("cabextract", "cabextract", "-q", "-s", source.c_str(), nullptr);
        _exit(127);
    }
    int status = -1;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 127))
        problem = "cannot run cabextract (scripts/setup.sh installs it)";
    else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
        problem = "takes cabextract over " + std::to_string(kReaderSeconds) + " s of CPU time to read";
    else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ)
        problem = "holds a file larger than it says";
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        problem = "cabextract cannot read it";
    else
        return true;
    return false;
}

// Every file extracted is what the layout says, and data: never runnable.
bool CheckExtracted(const host::DeviceFolder& staging, const cab::Layout& layout, std::string& problem)
{
    for (const cab::Layout::Entry& entry : layout.entries) {
        const int fd = openat(staging.fd(), entry.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat info;
        const bool ok = fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                        uint64_t(info.st_size) == entry.size && fchmod(fd, 0644) == 0;
        if (fd >= 0)
            close(fd);
        if (!ok) {
            problem = "cabextract did not give its file " + entry.name + " as the cabinet lists it";
            return false;
        }
    }
    return true;
}

// The name in the cabinet of the header's file numbered `number`: the one
// whose extension is that number.
const cab::Layout::Entry* Numbered(const cab::Layout& layout, unsigned number)
{
    char extension[8];
    snprintf(extension, sizeof extension, ".%03u", number % 1000);
    for (const cab::Layout::Entry& entry : layout.entries)
        if (entry.name.size() > 4 && Same(entry.name.substr(entry.name.size() - 4), extension))
            return &entry;
    return nullptr;
}

// Builds an install or a removal and carries it out.
class Transaction {
public:
    Transaction(const Areas& areas, const host::DeviceFolder& files) : areas_(areas), files_(files) {}

    // A file to put at `path` from staging (`staged`), or, with no staged
    // file, the one there to take away; the place checked first. False with
    // `problem`.
    bool Plan(const cab::DevicePath& path, const std::string& staged, std::string& problem)
    {
        const std::string shown = cab::Joined(path);
        for (const Journal::Move& move : journal_.moves) {
            cab::DevicePath other = move.folder;
            other.push_back(move.name);
            if (other.size() == path.size() && std::equal(path.begin(), path.end(), other.begin(), Same)) {
                problem = shown + " is installed twice";
                return false;
            }
        }
        if (staged.empty())
            return PlanRemoval(path);
        for (const auto& own : kDevicesOwn) {
            if (path.size() == 2 && Same(path[0], own[0]) && Same(path[1], own[1])) {
                problem = shown + " is the device's own, which an install does not replace";
                return false;
            }
        }
        if (path.back().size() > NAME_MAX || files_.path().size() + shown.size() >= PATH_MAX) {
            problem = shown + " is longer than the host takes (" + std::to_string(NAME_MAX) + "-byte names, " +
                      std::to_string(PATH_MAX) + "-byte paths)";
            return false;
        }
        // The folders: the ones there are opened, never through a link; the
        // missing ones will be made.
        cab::DevicePath folder;
        host::DeviceFolder at;
        bool missing = false;
        for (size_t i = 0; i + 1 < path.size(); ++i) {
            bool found = !missing;
            const std::string name = found ? (i ? at : files_).Find(path[i], &found) : path[i];
            if (found) {
                at = (i ? at : files_).Sub(name, false, problem);
                if (!at.ok()) {
                    problem = cab::Joined(cab::DevicePath(path.begin(), path.begin() + long(i) + 1)) +
                              " is in the way of the folder the cabinet puts " + path.back() + " in";
                    return false;
                }
            }
            folder.push_back(name);
            missing = missing || !found;
            if (missing && std::none_of(journal_.made.begin(), journal_.made.end(),
                                        [&folder](const cab::DevicePath& made) { return made == folder; }))
                journal_.made.push_back(folder);
        }
        if (path.size() == 1)
            at = DeviceFolderAt({}, false, problem);
        Journal::Move move{folder, path.back(), staged, ""};
        std::string before, after;
        bool found = false;
        if (!missing)
            move.name = at.Find(path.back(), &found);
        struct stat info;
        if (found && fstatat(at.fd(), move.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
                problem = shown + " is " + host::KindOf(info.st_mode) + ", where the cabinet puts a file";
                return false;
            }
            move.aside = "a" + std::to_string(journal_.moves.size());
            const bool same = S_ISREG(info.st_mode) && ReadFile(at.fd(), move.name, kInstallLimit, before) &&
                              ReadFile(areas_.staging.fd(), staged, kInstallLimit, after) && before == after;
            if (!same)
                changed_.push_back("replaced " + shown);
        } else {
            changed_.push_back("added " + shown);
        }
        journal_.moves.push_back(move);
        return true;
    }

    // The record this leaves: `record` with the text staged, or none.
    void Record(const std::string& record, bool keep, const std::vector<cab::DevicePath>& old)
    {
        journal_.record = record;
        journal_.keepRecord = keep;
        journal_.old = old;
    }

    const std::vector<Journal::Move>& Moves() const { return journal_.moves; }
    const std::vector<cab::DevicePath>& Made() const { return journal_.made; }
    const Changed& Changes() const { return changed_; }

    // Moves everything into place, all or nothing. `hook` as InstallCabinet's.
    bool Run(std::string& problem, const InstallHook& hook)
    {
        const auto step = [&hook](InstallStep at) { return hook ? hook(at) : StepOutcome::Go; };
        if (!host::WriteWhole(areas_.priv, kJournal, journal_.Text(false), 0644, false, problem))
            return false;
        bool ok = true;
        for (const cab::DevicePath& folder : journal_.made) {
            if (ok && !DeviceFolderAt(folder, true, problem).ok()) {
                problem = "cannot make the folder " + cab::Joined(folder) + ": " + strerror(errno);
                ok = false;
            }
        }
        for (const Journal::Move& move : journal_.moves) {
            if (!ok)
                break;
            const host::DeviceFolder folder = DeviceFolderAt(move.folder, false, problem);
            cab::DevicePath path = move.folder;
            path.push_back(move.name);
            ok = folder.ok() &&
                 (move.aside.empty() ||
                  renameat(folder.fd(), move.name.c_str(), areas_.aside.fd(), move.aside.c_str()) == 0) &&
                 (move.staged.empty() ||
                  renameat(areas_.staging.fd(), move.staged.c_str(), folder.fd(), move.name.c_str()) == 0);
            if (!ok)
                problem = "cannot " + std::string(move.staged.empty() ? "remove " : "install ") +
                          cab::Joined(path) + ": " + strerror(errno);
            const StepOutcome outcome = ok ? step(InstallStep::Moved) : StepOutcome::Go;
            if (outcome == StepOutcome::Crash)
                return false;
            if (outcome == StepOutcome::Fail) {
                problem = "stopped while installing " + cab::Joined(path);
                ok = false;
            }
        }
        if (ok) {
            fsync(areas_.staging.fd());
            ok = host::WriteWhole(areas_.priv, kJournal, journal_.Text(true), 0644, false, problem);
        }
        if (!ok) {
            Undo(areas_, journal_);
            Clear(areas_);
            return false;
        }
        if (step(InstallStep::Recorded) == StepOutcome::Crash)
            return false;
        Finish(areas_, journal_);
        Clear(areas_);
        return true;
    }

private:
    bool PlanRemoval(const cab::DevicePath& path)
    {
        // Only a regular file, in a folder reached without a link; anything
        // else in its place is not the application's, and stays.
        std::string problem;
        const host::DeviceFolder folder = DeviceFolderAt(cab::DevicePath(path.begin(), path.end() - 1), false, problem);
        bool found = false;
        const std::string name = folder.ok() ? folder.Find(path.back(), &found) : "";
        struct stat info;
        if (!found || fstatat(folder.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            return true;
        journal_.moves.push_back({cab::DevicePath(path.begin(), path.end() - 1), name, "",
                                  "a" + std::to_string(journal_.moves.size())});
        changed_.push_back("removed " + cab::Joined(path));
        return true;
    }

    const Areas& areas_;
    const host::DeviceFolder& files_;
    Journal journal_;
    Changed changed_;
};

// An installed application's record: the files it put where, and the
// folders it made.
struct Record {
    std::vector<cab::DevicePath> files, folders;

    std::string Text() const
    {
        std::string text;
        for (const cab::DevicePath& file : files)
            text += "file\t" + Folder(file) + "\n";
        for (const cab::DevicePath& folder : folders)
            text += "folder\t" + Folder(folder) + "\n";
        return text;
    }

    static Record Read(const Areas& areas, const std::string& name)
    {
        Record record;
        std::string text;
        if (!ReadFile(areas.records.fd(), name, kRecordLimit, text))
            return record;
        for (const std::string& line : Lines(text)) {
            const std::vector<std::string> f = Fields(line);
            const cab::DevicePath path = f.size() == 2 ? Parts(f[1]) : cab::DevicePath();
            if (path.empty() || !std::all_of(path.begin(), path.end(), cab::OneName))
                continue;
            (f[0] == "file" ? record.files : record.folders).push_back(path);
        }
        return record;
    }
};

// Under the device's lock, with the private area open and what a crash left
// dealt with.
struct Held {
    std::string problem;
    host::DeviceFolder root = host::DeviceFolder::Root(problem);
    host::DeviceLock lock{root, problem};
    host::DeviceFolder files;
    Areas areas;
    bool ok = false;

    Held()
    {
        if (!root.ok() || !lock.ok())
            return;
        files = host::DeviceFolder::Files(problem);
        ok = files.ok() && areas.Open(problem);
        if (ok)
            Recover(areas);
    }
};

std::vector<std::string> RecordNames(const Areas& areas)
{
    std::vector<std::string> names;
    const int fd = dup(areas.records.fd());
    DIR* listing = fd >= 0 ? fdopendir(fd) : nullptr;
    while (dirent* entry = listing ? readdir(listing) : nullptr)
        if (entry->d_name[0] != '.' && cab::OneName(entry->d_name))
            names.push_back(entry->d_name);
    if (listing)
        closedir(listing);
    else if (fd >= 0)
        close(fd);
    std::sort(names.begin(), names.end());
    return names;
}

bool Install(const std::string& cab, const Held& held, Changed& changed, std::string& warning,
             std::string& problem, const InstallHook& hook)
{
    const auto step = [&hook](InstallStep at) { return hook ? hook(at) : StepOutcome::Go; };
    std::string bytes;
    int fd = -1;
    std::optional<cab::Layout> layout;
    const bool read = ReadCabinet(cab, bytes, fd, problem) && (layout = CheckLayout(bytes, warning, problem)) &&
                      Extract(fd, held.areas.staging, problem);
    if (fd >= 0)
        close(fd);
    if (!read || !CheckExtracted(held.areas.staging, *layout, problem))
        return false;
    if (step(InstallStep::Extracted) != StepOutcome::Go) {
        problem = "stopped once extracted";
        return false;
    }

    const cab::Layout::Entry* headerFile = Numbered(*layout, 0);
    std::optional<cab::Header> header;
    if (!headerFile) {
        problem = "it has no file .000, the installation header";
        return false;
    }
    if (!ReadFile(held.areas.staging.fd(), headerFile->name, kHeaderLimit, bytes)) {
        problem = "its installation header is over " + std::to_string(kHeaderLimit >> 10) + " KiB";
        return false;
    }
    if (!(header = cab::ReadHeader(bytes, problem)))
        return false;
    if (!(problem = Unfit(*header)).empty()) {
        problem = "the cabinet " + problem;
        return false;
    }
    const std::string recordName = header->provider + " " + header->appName;
    if (!cab::OneName(recordName) || recordName.size() > NAME_MAX) {
        problem = "the maker and application names \"" + recordName + "\" can't name an installed application";
        return false;
    }

    Transaction moving(held.areas, held.files);
    Record record;
    for (const cab::Header::File& file : header->files) {
        const cab::Layout::Entry* entry = Numbered(*layout, file.number);
        char number[8];
        snprintf(number, sizeof number, ".%03u", file.number);
        cab::DevicePath path = file.folder;
        path.push_back(file.name);
        if (!entry) {
            problem = "it has no file " + std::string(number) + ", which " + cab::Joined(path) + " is";
            return false;
        }
        if (!moving.Plan(path, entry->name, problem))
            return false;
        record.files.push_back(path);
    }
    for (size_t i = 0; i < header->links.size(); ++i) {
        const cab::Header::Link& link = header->links[i];
        const std::string staged = kStagedLink + std::to_string(i);
        cab::DevicePath path = link.folder;
        path.push_back(link.name + ".lnk");
        if (!host::WriteWhole(held.areas.staging, staged, cab::ShortcutText(link.target), 0644, false, problem) ||
            !moving.Plan(path, staged, problem))
            return false;
        record.files.push_back(path);
    }
    // The earlier copy: what of it the new one does not put back goes.
    const Record earlier = Record::Read(held.areas, recordName);
    for (const cab::DevicePath& file : earlier.files) {
        const bool kept = std::any_of(record.files.begin(), record.files.end(), [&file](const cab::DevicePath& p) {
            return p.size() == file.size() && std::equal(p.begin(), p.end(), file.begin(), Same);
        });
        if (!kept && !moving.Plan(file, "", problem))
            return false;
    }
    for (const cab::DevicePath& folder : moving.Made())
        if (!IsStandardFolder(folder))
            record.folders.push_back(folder);
    for (const cab::DevicePath& folder : earlier.folders)
        if (std::find(record.folders.begin(), record.folders.end(), folder) == record.folders.end())
            record.folders.push_back(folder);
    if (!host::WriteWhole(held.areas.staging, kStagedRecord, record.Text(), 0644, false, problem))
        return false;
    moving.Record(recordName, true, earlier.folders);
    if (step(InstallStep::Staged) != StepOutcome::Go) {
        problem = "stopped once staged";
        return false;
    }
    if (!moving.Run(problem, hook))
        return false;
    changed = moving.Changes();
    return true;
}

}  // namespace

host::DeviceFolder DeviceFolderAt(const cab::DevicePath& path, bool create, std::string& problem)
{
    host::DeviceFolder folder = host::DeviceFolder::Files(problem);
    for (size_t i = 0; i < path.size() && folder.ok(); ++i)
        folder = folder.Sub(path[i], create, problem);
    return folder;
}

bool InstallCabinet(const std::string& cab, Changed& changed, std::string& warning, std::string& problem,
                    const InstallHook& hook)
{
    changed.clear();
    warning.clear();
    const Held held;
    const bool ok = held.ok && Install(cab, held, changed, warning, problem, hook);
    if (!held.ok)
        problem = held.problem;
    else if (!ok && !problem.empty())
        Clear(held.areas);  // an install stopped as by a crash is left for the next start
    if (!ok && !problem.empty())
        problem = cab + ": " + problem;
    if (!warning.empty())
        warning = cab + ": " + warning;
    return ok;
}

std::vector<std::string> InstalledApplications()
{
    const Held held;
    return held.ok ? RecordNames(held.areas) : std::vector<std::string>();
}

bool RemoveApplication(const std::string& name, Changed& changed, std::string& problem)
{
    changed.clear();
    const Held held;
    if (!held.ok) {
        problem = held.problem;
        return false;
    }
    // The whole name, else the application's name when one alone has it.
    std::string found;
    size_t byApplication = 0;
    for (const std::string& each : RecordNames(held.areas)) {
        if (Same(each, name)) {
            found = each;
            byApplication = 0;
            break;
        }
        const size_t at = each.size() - std::min(each.size(), name.size());
        if (at > 0 && each[at - 1] == ' ' && Same(each.substr(at), name) && ++byApplication == 1)
            found = each;
    }
    if (byApplication > 1) {
        problem = "more than one installed application is called \"" + name + "\"; give its maker too";
        return false;
    }
    if (found.empty()) {
        problem = "no application \"" + name + "\" is installed";
        return false;
    }
    const Record record = Record::Read(held.areas, found);
    Transaction moving(held.areas, held.files);
    for (const cab::DevicePath& file : record.files)
        moving.Plan(file, "", problem);
    moving.Record(found, false, record.folders);
    if (!moving.Run(problem, {}))
        return false;
    changed = moving.Changes();
    return true;
}

void PrepareInstalls()
{
    const Held held;
    std::string problem;
    for (unsigned n = 1; held.ok && cab::StandardFolder(n); ++n)
        DeviceFolderAt(*cab::StandardFolder(n), true, problem);
}

bool IsShortcut(const std::string& name)
{
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".lnk") == 0;
}

bool FollowShortcut(const host::DeviceFolder& folder, const std::string& name,
                    host::DeviceFolder& targetFolder, std::string& targetName, cab::DevicePath& target,
                    std::string& why)
{
    // The shortcut itself: a file, never reached through a link, small.
    const int fd = openat(folder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    char text[kShortcutLimit + 1];
    ssize_t length = -1;
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        length = read(fd, text, sizeof text);
    if (fd >= 0)
        close(fd);
    if (length < 0 || size_t(length) > kShortcutLimit) {
        // Read as "<shortcut> is <why>".
        if (length >= 0)
            why = "a shortcut over 1 KiB";
        else if (fstatat(folder.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            why = errno == ENOENT ? "missing" : std::string("unreadable (") + strerror(errno) + ")";
        else
            why = std::string(host::KindOf(info.st_mode)) + ", not a shortcut file";
        return false;
    }
    const std::optional<cab::DevicePath> path = cab::ShortcutTarget(std::string_view(text, size_t(length)), why);
    if (!path)
        return false;
    target = *path;
    std::string problem;
    targetFolder = DeviceFolderAt(cab::DevicePath(path->begin(), path->end() - 1), false, problem);
    bool found = false;
    targetName = targetFolder.ok() ? targetFolder.Find(path->back(), &found) : path->back();
    if (!targetFolder.ok()) {
        why = "a shortcut to " + cab::Joined(target) + ", whose folder is missing or not the device's own";
        return false;
    }
    if (!found || fstatat(targetFolder.fd(), targetName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        why = "a shortcut to " + cab::Joined(target) + ", which is not on the device";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        why = "a shortcut to " + std::string(host::KindOf(info.st_mode)) + ", not a program";
        return false;
    }
    return true;
}

int OpenShortcut(const cab::DevicePath& shortcut, std::string& why)
{
    std::string problem;
    const host::DeviceFolder folder =
        DeviceFolderAt(cab::DevicePath(shortcut.begin(), shortcut.end() - 1), false, problem);
    host::DeviceFolder targetFolder;
    std::string name;
    cab::DevicePath target;
    if (!folder.ok() || !FollowShortcut(folder, folder.Find(shortcut.back()), targetFolder, name, target, why)) {
        if (!folder.ok())
            why = "missing";
        return -1;
    }
    // Left open across exec: the emulator reads this file, whatever is put
    // in its place meanwhile.
    const int fd = openat(targetFolder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        why = "a shortcut to " + cab::Joined(target) + ", which can't be read (" + strerror(errno) + ")";
    return fd;
}

}  // namespace session
