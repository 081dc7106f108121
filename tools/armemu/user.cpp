// USER for the emulated handheld: the host's dialogs on the terminal, with
// the program's dialog procedure called back inside the emulator. Windows
// are the host's; the ARM side knows them by small numbers of its own.
#include <string.h>

#include <utility>
#include <vector>

#include <windows.h>

#include "coredll.h"
#include "pe.h"
#include "process/module.h"
#include "terminal/window.h"

namespace armemu {

namespace {

// The first of the numbers the ARM side knows the host's windows by.
constexpr uint32_t kFirstWindow = 0x00A00004;
// What the ARM side knows the host's one font by.
constexpr uint32_t kFont = 0x00B00004;

// CE's offsets into a dialog's window data (32-bit slots), and the host's
// pointer-sized ones.
constexpr int kDwlDlgProc = 4;
const std::pair<int, int> kDialogSlots[] = {{0, DWLP_MSGRESULT}, {kDwlDlgProc, DWLP_DLGPROC}, {8, DWLP_USER}};

using Running = UserState::Running;

uint32_t ArmWindow(UserState& user, HWND window)
{
    if (window == NULL)
        return 0;
    std::vector<HWND>& windows = user.windows;
    for (size_t i = 0; i < windows.size(); ++i)
        if (windows[i] == window)
            return kFirstWindow + 4 * uint32_t(i);
    // A window gone (its dialog ended) gives its number to the next, so that
    // the table holds no more than the windows alive, however many dialogs
    // a program opens.
    for (size_t i = 0; i < windows.size(); ++i) {
        if (!host::FindWindow(windows[i])) {
            windows[i] = window;
            return kFirstWindow + 4 * uint32_t(i);
        }
    }
    windows.push_back(window);
    return kFirstWindow + 4 * uint32_t(windows.size() - 1);
}

HWND HostWindow(const UserState& user, uint32_t window)
{
    const uint32_t index = (window - kFirstWindow) / 4;
    if (window < kFirstWindow || (window - kFirstWindow) % 4 || index >= user.windows.size())
        return reinterpret_cast<HWND>(uintptr_t(0xDEAD0000u | (window & 0xFFFF)));  // no such window
    return user.windows[index];
}

// The running dialog that `window` is; the innermost learns its window from
// its first message. A message to an outer dialog while an inner one runs
// (one the inner's procedure sends its owner, say) goes to the outer's own
// procedure.
Running* RunningFor(UserState& user, HWND window)
{
    for (auto each = user.running.rbegin(); each != user.running.rend(); ++each)
        if (each->window == window)
            return &*each;
    if (user.running.empty() || user.running.back().window != NULL)
        return nullptr;
    user.running.back().window = window;
    return &user.running.back();
}

// The host calls a dialog procedure with nothing of ours but the window, so
// the trampoline finds the state it serves here: set while a dialog of the
// program's runs (by RunningDialog), given back when it ends.
thread_local UserState* t_active = nullptr;

INT_PTR CALLBACK ArmDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    UserState* user = t_active;
    Running* running = user ? RunningFor(*user, window) : nullptr;
    if (!running)
        return FALSE;
    const Running dialog = *running;  // the list may grow while the procedure runs
    uint32_t armParam = uint32_t(lParam), armWParam = uint32_t(wParam);
    // The control that sent a command is a window; a font set is a font.
    if (message == WM_COMMAND && lParam)
        armParam = ArmWindow(*user, reinterpret_cast<HWND>(lParam));
    if (message == WM_SETFONT && wParam)
        armWParam = kFont;
    uint32_t result = dialog.machine->Call(dialog.procedure,
                                           {ArmWindow(*user, window), message, armWParam, armParam});
    return INT_PTR(int32_t(result));
}

// A dialog of the program's, running for as long as this lives.
class RunningDialog {
public:
    RunningDialog(UserState& user, Machine& m, uint32_t procedure) : user_(user), outer_(t_active)
    {
        user.running.push_back({&m, procedure, NULL});
        t_active = &user;
    }
    ~RunningDialog()
    {
        user_.running.pop_back();
        t_active = outer_;
    }
    RunningDialog(const RunningDialog&) = delete;
    RunningDialog& operator=(const RunningDialog&) = delete;

private:
    UserState& user_;
    UserState* outer_;
};

uint32_t DialogBoxIndirectParamW_(Machine& m, UserState& user)
{
    uint32_t templ = m.Argument(1), parent = m.Argument(2),
             procedure = m.Argument(3), param = m.Argument(4);
    // The template ends where its resource does; one not from a resource
    // gets at most a page.
    uint32_t size = 0x1000;
    for (const ResourceEntry& entry : AllResources(m.image())) {
        std::optional<Resource> r = FindResource(m.image(), entry.type, entry.name);
        if (r && templ >= m.base() + r->dataRva && templ < m.base() + r->dataRva + r->size)
            size = m.base() + r->dataRva + r->size - templ;
    }
    std::vector<uint8_t> bytes;
    for (; size && bytes.empty(); size /= 2) {
        try {
            bytes = m.Read(templ, size);
        } catch (const Fault&) {
            if (size < 64)
                throw;
        }
    }
    // Aligned as the host reads it, and followed by zeros. The host reads a
    // template as far as it says it goes, as Windows does; past the copy, the
    // zeros end any string and make the next control one of no class, which
    // ends the reading. What a broken template can claim beyond its end is
    // then at most one control's creation data (a 16-bit size) and the next
    // control's fixed part, and the host reads no further than the copy.
    constexpr size_t kAfterTemplate = 0x10000 + 64;
    std::vector<uint32_t> aligned((bytes.size() + kAfterTemplate + 3) / 4);
    memcpy(aligned.data(), bytes.data(), bytes.size());
    const host::LentBytes lent(aligned.data(), aligned.size() * sizeof aligned[0]);
    RunningDialog running(user, m, procedure);
    return uint32_t(DialogBoxIndirectParamW(GetModuleHandleW(NULL), reinterpret_cast<LPCDLGTEMPLATEW>(aligned.data()),
                                            parent ? HostWindow(user, parent) : NULL, ArmDialogProc, LPARAM(param)));
}

uint32_t EndDialog_(Machine& m, UserState& user)
{
    return uint32_t(EndDialog(HostWindow(user, m.Argument(0)), INT_PTR(int32_t(m.Argument(1)))));
}

uint32_t GetDlgItem_(Machine& m, UserState& user)
{
    return ArmWindow(user, GetDlgItem(HostWindow(user, m.Argument(0)), int(m.Argument(1))));
}

uint32_t GetDlgCtrlID_(Machine& m, UserState& user)
{
    return uint32_t(GetDlgCtrlID(HostWindow(user, m.Argument(0))));
}

uint32_t GetFocus_(Machine&, UserState& user)
{
    return ArmWindow(user, GetFocus());
}

uint32_t ShowWindow_(Machine& m, UserState& user)
{
    return uint32_t(ShowWindow(HostWindow(user, m.Argument(0)), int(m.Argument(1))));
}

uint32_t IsWindowVisible_(Machine& m, UserState& user)
{
    return uint32_t(IsWindowVisible(HostWindow(user, m.Argument(0))));
}

uint32_t SendMessageW_(Machine& m, UserState& user)
{
    uint32_t window = m.Argument(0), message = m.Argument(1), wParam = m.Argument(2), lParam = m.Argument(3);
    return uint32_t(SendMessageW(HostWindow(user, window), message, wParam, LPARAM(lParam)));
}

// CE's window-data offsets to the host's.
int HostIndex(int index)
{
    for (const auto& [ce, host] : kDialogSlots)
        if (index == ce)
            return host;
    return index;
}

uint32_t GetWindowLongW_(Machine& m, UserState& user)
{
    uint32_t window = m.Argument(0);
    int index = int(m.Argument(1));
    LONG_PTR value = GetWindowLongPtrW(HostWindow(user, window), HostIndex(index));
    uint32_t result = uint32_t(value);
    if (index == kDwlDlgProc && value == reinterpret_cast<LONG_PTR>(&ArmDialogProc))
        for (const Running& dialog : user.running)
            if (dialog.window == HostWindow(user, window))
                result = dialog.procedure;
    return result;
}

uint32_t SetWindowLongW_(Machine& m, UserState& user)
{
    uint32_t window = m.Argument(0), value = m.Argument(2);
    int index = int(m.Argument(1));
    if (index == kDwlDlgProc) {
        // A dialog procedure of its own would need a second trampoline.
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return uint32_t(SetWindowLongPtrW(HostWindow(user, window), HostIndex(index), LONG_PTR(value)));
}

uint32_t GetWindow_(Machine& m, UserState& user)
{
    return ArmWindow(user, GetWindow(HostWindow(user, m.Argument(0)), m.Argument(1)));
}

void WriteRect(Machine& m, uint32_t address, const RECT& rect)
{
    for (int i = 0; i < 4; ++i)
        m.Write32(address + 4 * i, uint32_t((&rect.left)[i]));
}

uint32_t GetWindowRect_(Machine& m, UserState& user)
{
    uint32_t window = m.Argument(0), out = m.Argument(1);
    RECT rect = {};
    BOOL result = GetWindowRect(HostWindow(user, window), out ? &rect : NULL);
    if (result && out)
        WriteRect(m, out, rect);
    return uint32_t(result);
}

uint32_t SetWindowPos_(Machine& m, UserState& user)
{
    uint32_t window = m.Argument(0), after = m.Argument(1);
    int x = int(m.Argument(2)), y = int(m.Argument(3)), cx = int(m.Argument(4)), cy = int(m.Argument(5));
    uint32_t flags = m.Argument(6);
    return uint32_t(SetWindowPos(HostWindow(user, window), after ? HostWindow(user, after) : NULL, x, y, cx, cy, flags));
}

uint32_t SystemParametersInfoW_(Machine& m, UserState&)
{
    uint32_t action = m.Argument(0), uiParam = m.Argument(1), out = m.Argument(2), winIni = m.Argument(3);
    BOOL result = FALSE;
    RECT rect = {};
    if (action == SPI_GETWORKAREA && out) {
        result = SystemParametersInfoW(action, uiParam, &rect, winIni);
        if (result)
            WriteRect(m, out, rect);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return uint32_t(result);
}

// An icon is the program's own group icon resource; its handle the address
// of the group's data. Told to the host's observer as the host's own is.
uint32_t LoadIconW_(Machine& m, UserState&)
{
    uint32_t instance = m.Argument(0), name = m.Argument(1);
    host::ReportUserCall("LoadIconW", NULL, {LONG_PTR(instance), LONG_PTR(name)});
    uint32_t result = 0;
    if (instance == kProcessHandle && name >> 16 == 0) {
        std::optional<Resource> found = FindResource(m.image(), ResourceId{14, {}}, ResourceId{uint16_t(name), {}});
        if (found)
            result = m.base() + found->dataRva;
    }
    if (!result)
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return result;
}

}  // namespace

extern const std::vector<UserExport> kUserExports = {
    {"DialogBoxIndirectParamW", 690, DialogBoxIndirectParamW_},
    {"EndDialog", 691, EndDialog_},
    {"GetDlgItem", 692, GetDlgItem_},
    {"GetDlgCtrlID", 693, GetDlgCtrlID_},
    {"GetFocus", 705, GetFocus_},
    {"ShowWindow", 266, ShowWindow_},
    {"IsWindowVisible", 886, IsWindowVisible_},
    {"SendMessageW", 868, SendMessageW_},
    {"GetWindowLongW", 259, GetWindowLongW_},
    {"SetWindowLongW", 258, SetWindowLongW_},
    {"GetWindow", 251, GetWindow_},
    {"GetWindowRect", 248, GetWindowRect_},
    {"SetWindowPos", 247, SetWindowPos_},
    {"SystemParametersInfoW", 89, SystemParametersInfoW_},
    {"LoadIconW", 728, LoadIconW_},
};

}  // namespace armemu
