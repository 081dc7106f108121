#include "call_lines.h"

#include <stdio.h>

#include <windows.h>

#include "text.h"

namespace host {
namespace {

const char* RootName(HKEY key)
{
    return key == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : key == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : nullptr;
}

std::string Quoted(bool given, const std::wstring& text)
{
    return given ? "\"" + text::Utf8FromWide(text) + "\"" : "NULL";
}

std::string Quoted(const std::optional<std::wstring>& text)
{
    return Quoted(text.has_value(), text.value_or(L""));
}

std::string Pointer(bool given, const char* what)
{
    return given ? what : "NULL";
}

std::string Number(DWORD n, bool asHex = false)
{
    char text[16];
    snprintf(text, sizeof text, asHex ? "0x%x" : "%u", unsigned(n));
    return text;
}

std::string TypeName(DWORD type)
{
    switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    default: return Number(type);
    }
}

std::string Bytes(const RegCall& call)
{
    if (!call.dataGiven)
        return "NULL";
    std::string bytes = "[";
    for (size_t i = 0; i < call.data.size(); ++i) {
        char byte[4];
        snprintf(byte, sizeof byte, i ? " %02x" : "%02x", call.data[i]);
        bytes += byte;
    }
    return bytes + "]";
}

std::string Message(LONG_PTR code)
{
    switch (code) {
    case WM_CLOSE: return "WM_CLOSE";
    case WM_SETICON: return "WM_SETICON";
    case WM_INITDIALOG: return "WM_INITDIALOG";
    case WM_COMMAND: return "WM_COMMAND";
    }
    char text[16];
    snprintf(text, sizeof text, "0x%04X", unsigned(code));
    return text;
}

}  // namespace

std::string CallLines::Name(HKEY key) const
{
    if (const char* root = RootName(key))
        return root;
    if (auto it = names_.find(key); it != names_.end())
        return it->second;
    char text[32];
    snprintf(text, sizeof text, "%#llx", (unsigned long long)reinterpret_cast<ULONG_PTR>(key));
    return text;
}

std::string CallLines::Line(const RegCall& call)
{
    std::string line;
    switch (call.function) {
    case RegFunction::OpenKeyEx:
        line = "RegOpenKeyExW(" + Name(call.key) + ", " + Quoted(call.subkeyGiven, call.subkey) + ", " +
               Number(call.options) + ", " + Number(call.access, true) + (call.resultGiven ? "" : ", NULL") + ")";
        break;
    case RegFunction::CreateKeyEx:
        line = "RegCreateKeyExW(" + Name(call.key) + ", " + Quoted(call.subkeyGiven, call.subkey) + ", " +
               Number(call.reserved) + ", " + Pointer(call.classGiven, "class") + ", " + Number(call.options) +
               ", " + Number(call.access, true) + ", " + Pointer(call.securityGiven, "&security") + ", " +
               Pointer(call.resultGiven, "&key") + ", " + Pointer(call.dispositionGiven, "&disposition") + ")";
        break;
    case RegFunction::QueryValueEx:
        line = "RegQueryValueExW(" + Name(call.key) + ", " + Quoted(call.valueNameGiven, call.valueName) + ", " +
               Pointer(call.reservedGiven, "&reserved") + ", " + Pointer(call.typeGiven, "&type") + ", " +
               Pointer(call.dataGiven, "data") + ", " + (call.sizeGiven ? Number(call.size) : "NULL") + ")";
        break;
    case RegFunction::SetValueEx:
        line = "RegSetValueExW(" + Name(call.key) + ", " + Quoted(call.valueNameGiven, call.valueName) + ", " +
               Number(call.reserved) + ", " + TypeName(call.type) + ", " + Bytes(call) + ", " +
               Number(call.size) + ")";
        break;
    case RegFunction::CloseKey:
        line = "RegCloseKey(" + Name(call.key) + ")";
        break;
    }
    line += " = " + std::to_string(call.result);
    if (call.opened && !RootName(call.opened)) {
        std::string& handle = names_[call.opened];
        if (handle.empty())
            handle = "h" + std::to_string(names_.size());
        line += " -> " + handle;
    }
    return line;
}

std::string CallLines::Line(const ProcessStart& start) const
{
    return "CreateProcessW(" + Quoted(start.applicationName) + ", " + Quoted(start.commandLine) + ", " +
           Pointer(start.processAttributes, "&security") + ", " + Pointer(start.threadAttributes, "&security") +
           ", " + std::to_string(start.inheritHandles) + ", " + Number(start.creationFlags, true) + ", " +
           Pointer(start.environment, "environment") + ", " + Quoted(start.currentDirectory) + ", " +
           Pointer(start.startupInfo, "&startup") + ", " + Pointer(start.processInformation, "&process") +
           ") = " + std::to_string(start.result) + (start.result ? "" : " error " + std::to_string(start.error));
}

std::string CallLines::Line(const UserCall& call) const
{
    const DWORD error = GetLastError();
    // Only a dialog has a dialog procedure.
    const std::string window =
        GetWindowLongPtrW(call.window, DWLP_DLGPROC) ? "dialog" : std::to_string(GetDlgCtrlID(call.window));
    SetLastError(error);

    const std::string function = call.function;
    const std::vector<LONG_PTR>& a = call.arguments;
    if (function == "ShowWindow")
        return function + " " + window + " " + std::to_string(a.at(0));
    if (function == "SendMessageW")
        return function + " " + window + " " + Message(a.at(0)) + " " + std::to_string(WPARAM(a.at(1)));
    if (function == "SetWindowPos")
        return function + " " + window + " " + std::to_string(a.at(1)) + " " + std::to_string(a.at(2));
    if (function == "LoadIconW")
        return function + " " + (IS_INTRESOURCE(a.at(1)) ? std::to_string(ULONG_PTR(a.at(1))) : std::string("name"));
    // DialogBoxIndirectParamW: its owner; GetDlgItem, EndDialog: the one
    // argument after the dialog.
    return function + " " + (a.empty() ? window : std::to_string(a.at(0)));
}

}  // namespace host
