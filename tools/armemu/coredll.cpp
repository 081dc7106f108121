#include "coredll.h"

#include <algorithm>
#include <iterator>

#include <pkfuncs.h>
#include <windows.h>

#include "pe.h"
#include "text.h"

namespace armemu {

namespace {

// An argument that is a string pointer: absent for NULL.
struct Text {
    bool given = false;
    std::wstring wide;
    const wchar_t* Get() const { return given ? wide.c_str() : nullptr; }
};

Text ReadText(Machine& m, uint32_t address)
{
    Text text;
    if (address == 0)
        return text;
    std::u16string units = m.ReadString(address);
    text.given = true;
    text.wide = host::text::WideFromUtf16(units);
    return text;
}

// Registry handles: the host's are small numbers, the hives the same on
// both sides.
HKEY HostKey(uint32_t key)
{
    return reinterpret_cast<HKEY>(uintptr_t(key));
}

uint32_t ArmKey(HKEY key)
{
    const uint32_t armKey = uint32_t(reinterpret_cast<uintptr_t>(key));
    if (uintptr_t(armKey) != reinterpret_cast<uintptr_t>(key))
        throw Fault("the host returned a key handle that doesn't fit in 32 bits");
    return armKey;
}

// A buffer the program hands the system, copied with the two bytes that
// follow it in the program's memory (0xff where nothing is mapped): the host,
// like Windows, looks just past a string's stated size for its terminator.
// Never empty, so a buffer of size 0 still reaches the host as one.
constexpr uint32_t kTail = 2;

std::vector<uint8_t> ReadBuffer(Machine& m, uint32_t address, uint32_t size)
{
    std::vector<uint8_t> bytes = m.Read(address, size);
    std::vector<uint8_t> tail(kTail);
    if (!m.Peek(address + size, tail))
        tail.assign(kTail, 0xff);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

uint32_t RegOpenKeyExW_(Machine& m)
{
    uint32_t key = m.Argument(0), options = m.Argument(2), access = m.Argument(3), out = m.Argument(4);
    Text subkey = ReadText(m, m.Argument(1));
    HKEY opened = NULL;
    LONG result = RegOpenKeyExW(HostKey(key), subkey.Get(), options, access, out ? &opened : NULL);
    if (out && result == ERROR_SUCCESS)
        m.Write32(out, ArmKey(opened));
    return uint32_t(result);
}

uint32_t RegCreateKeyExW_(Machine& m)
{
    uint32_t key = m.Argument(0), reserved = m.Argument(2), options = m.Argument(4),
             access = m.Argument(5), security = m.Argument(6), out = m.Argument(7),
             disposition = m.Argument(8);
    Text subkey = ReadText(m, m.Argument(1));
    Text keyClass = ReadText(m, m.Argument(3));
    SECURITY_ATTRIBUTES attributes = {};
    if (security) {
        attributes.nLength = m.Read32(security);
        attributes.bInheritHandle = BOOL(m.Read32(security + 8));
    }
    HKEY opened = NULL;
    DWORD how = 0;
    std::wstring classCopy = keyClass.wide;
    LONG result = RegCreateKeyExW(HostKey(key), subkey.Get(), reserved,
                                  keyClass.given ? classCopy.data() : NULL, options, access,
                                  security ? &attributes : NULL, out ? &opened : NULL,
                                  disposition ? &how : NULL);
    if (result == ERROR_SUCCESS) {
        if (out)
            m.Write32(out, ArmKey(opened));
        if (disposition)
            m.Write32(disposition, how);
    }
    return uint32_t(result);
}

// RegQueryValueExW and RegSetValueExW take the same arguments in the same
// places: the key, the value's name, a reserved word, the type, the data and
// its size (for the query, pointers to the type and the size).
struct ValueArguments {
    uint32_t key, reserved, type, data, size;
    Text name;
};

ValueArguments ReadValueArguments(Machine& m)
{
    return {m.Argument(0), m.Argument(2), m.Argument(3), m.Argument(4), m.Argument(5), ReadText(m, m.Argument(1))};
}

uint32_t RegQueryValueExW_(Machine& m)
{
    const auto [key, reserved, type, data, size, name] = ReadValueArguments(m);
    DWORD hostReserved = 0, hostType = 0, hostSize = size ? m.Read32(size) : 0;
    const DWORD sizeBefore = hostSize;
    // The buffer as the program left it: what the call doesn't write stays.
    // The host is told its size, so it must be all there; without a size it
    // is still a buffer, which the host refuses as Windows does.
    std::vector<uint8_t> buffer;
    if (data)
        buffer = ReadBuffer(m, data, sizeBefore);
    LONG result = RegQueryValueExW(HostKey(key), name.Get(), reserved ? &hostReserved : NULL,
                                   type ? &hostType : NULL, data ? buffer.data() : NULL,
                                   size ? &hostSize : NULL);
    if (data)
        m.Write(data, std::vector<uint8_t>(buffer.begin(), buffer.begin() + sizeBefore));
    if (type && result == ERROR_SUCCESS)
        m.Write32(type, hostType);
    if (size)
        m.Write32(size, hostSize);
    return uint32_t(result);
}

uint32_t RegSetValueExW_(Machine& m)
{
    const auto [key, reserved, type, data, size, name] = ReadValueArguments(m);
    std::vector<uint8_t> bytes = data ? ReadBuffer(m, data, size) : std::vector<uint8_t>();
    LONG result = RegSetValueExW(HostKey(key), name.Get(), reserved, type, data ? bytes.data() : NULL, size);
    return uint32_t(result);
}

uint32_t RegCloseKey_(Machine& m)
{
    return uint32_t(RegCloseKey(HostKey(m.Argument(0))));
}

uint32_t CreateProcessW_(Machine& m)
{
    uint32_t app = m.Argument(0), command = m.Argument(1), processSecurity = m.Argument(2),
             threadSecurity = m.Argument(3), inherit = m.Argument(4), flags = m.Argument(5),
             environment = m.Argument(6), directory = m.Argument(7), startup = m.Argument(8),
             information = m.Argument(9);
    Text application = ReadText(m, app);
    Text commandLine = ReadText(m, command);
    // CE 3.0 takes no security attributes, environment, current folder or
    // start-up information, and no inheritance.
    const bool refused = processSecurity || threadSecurity || inherit || environment || directory || startup;
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine.wide;
    BOOL result = FALSE;
    DWORD error = ERROR_INVALID_PARAMETER;
    if (!refused) {
        result = CreateProcessW(application.Get(), commandLine.given ? line.data() : NULL, NULL, NULL, FALSE,
                                flags, NULL, NULL, NULL, information ? &process : NULL);
        error = result ? 0 : GetLastError();
        if (error == ERROR_BAD_EXE_FORMAT)
            fprintf(stderr, "armemu: %s is not run: it is no program this device runs\n",
                    host::text::Printable(host::text::Utf8FromWide(application.wide)).c_str());
    }
    if (result && information) {
        m.Write32(information, uint32_t(reinterpret_cast<uintptr_t>(process.hProcess)));
        m.Write32(information + 4, uint32_t(reinterpret_cast<uintptr_t>(process.hThread)));
        m.Write32(information + 8, process.dwProcessId);
        m.Write32(information + 12, process.dwThreadId);
    }
    if (!result)
        SetLastError(error);
    return uint32_t(result);
}

uint32_t KernelIoControl_(Machine& m)
{
    uint32_t code = m.Argument(0), in = m.Argument(1), inSize = m.Argument(2), out = m.Argument(3),
             outSize = m.Argument(4), returned = m.Argument(5);
    // Only the restart is known: its buffers are none. Others fail on the host.
    std::vector<uint8_t> inBytes = in ? m.Read(in, std::min<uint32_t>(inSize, 4096)) : std::vector<uint8_t>();
    std::vector<uint8_t> outBytes(out ? std::min<uint32_t>(outSize, 4096) : 0);
    DWORD count = 0;
    BOOL result = KernelIoControl(code, in ? inBytes.data() : NULL, inSize, out ? outBytes.data() : NULL,
                                  outSize, returned ? &count : NULL);
    return uint32_t(result);
}

uint32_t GetModuleHandleW_(Machine& m)
{
    if (m.Argument(0) == 0)
        return kProcessHandle;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
}

uint32_t GetLastError_(Machine&)
{
    return GetLastError();
}

uint32_t SetLastError_(Machine& m)
{
    SetLastError(m.Argument(0));
    return 0;
}

// Resources: CE maps the program's .rsrc; a resource handle is the address
// of its data entry, the loaded resource the address of its data (CE has no
// LockResource: what LoadResource returns is the data).
ResourceId ReadResourceId(Machine& m, uint32_t value)
{
    ResourceId id;
    if (value >> 16 == 0) {
        id.number = uint16_t(value);
        return id;
    }
    id.name = m.ReadString(value);
    // "#123" names the number 123; anything else after '#' stays a name.
    if (id.name.size() > 1 && id.name.size() <= 6 && id.name[0] == u'#') {
        uint32_t number = 0;
        size_t i = 1;
        for (; i < id.name.size() && id.name[i] >= u'0' && id.name[i] <= u'9'; ++i)
            number = number * 10 + uint32_t(id.name[i] - u'0');
        if (i == id.name.size() && number <= 0xFFFF) {
            id.name.clear();
            id.number = uint16_t(number);
        }
    }
    return id;
}

// The program's module is known by its process handle alone: CE refuses
// null and the image's address.
bool OwnModule(uint32_t module)
{
    return module == kProcessHandle;
}

uint32_t FindResourceW_(Machine& m)
{
    uint32_t module = m.Argument(0), name = m.Argument(1), type = m.Argument(2);
    if (!OwnModule(module)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    std::optional<Resource> found = FindResource(m.image(), ReadResourceId(m, type), ReadResourceId(m, name));
    if (!found) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    return m.base() + found->entryRva;
}

// The data entry a resource handle names, checked against the directory.
std::optional<Resource> EntryAt(Machine& m, uint32_t handle)
{
    const Image& image = m.image();
    if (handle < m.base() + image.resourceRva || handle >= m.base() + image.resourceRva + image.resourceSize)
        return std::nullopt;
    Resource resource;
    resource.entryRva = handle - m.base();
    resource.dataRva = m.Read32(handle);
    resource.size = m.Read32(handle + 4);
    return resource;
}

uint32_t LoadResource_(Machine& m)
{
    uint32_t module = m.Argument(0), handle = m.Argument(1);
    std::optional<Resource> entry = OwnModule(module) ? EntryAt(m, handle) : std::nullopt;
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return m.base() + entry->dataRva;
}

uint32_t SizeofResource_(Machine& m)
{
    uint32_t module = m.Argument(0), handle = m.Argument(1);
    std::optional<Resource> entry = OwnModule(module) ? EntryAt(m, handle) : std::nullopt;
    if (!entry)
        SetLastError(ERROR_INVALID_HANDLE);
    return entry ? entry->size : 0;
}

uint32_t memcpy_(Machine& m)
{
    uint32_t to = m.Argument(0), from = m.Argument(1), size = m.Argument(2);
    if (size > (16u << 20))
        throw Fault("memcpy of " + std::to_string(size) + " bytes");
    m.Write(to, m.Read(from, size));
    return to;
}

uint32_t memset_(Machine& m)
{
    uint32_t to = m.Argument(0), value = m.Argument(1), size = m.Argument(2);
    if (size > (16u << 20))
        throw Fault("memset of " + std::to_string(size) + " bytes");
    m.Write(to, std::vector<uint8_t>(size, uint8_t(value)));
    return to;
}

// The kernel's exports keep no state.
const Export kKernelExports[] = {
    {"RegCloseKey", 455, RegCloseKey_},
    {"RegCreateKeyExW", 456, RegCreateKeyExW_},
    {"RegOpenKeyExW", 461, RegOpenKeyExW_},
    {"RegQueryValueExW", 463, RegQueryValueExW_},
    {"RegSetValueExW", 464, RegSetValueExW_},
    {"CreateProcessW", 493, CreateProcessW_},
    {"GetLastError", 516, GetLastError_},
    {"SetLastError", 517, SetLastError_},
    {"FindResourceW", 532, FindResourceW_},
    {"LoadResource", 533, LoadResource_},
    {"SizeofResource", 534, SizeofResource_},
    {"KernelIoControl", 557, KernelIoControl_},
    {"memcpy", 1044, memcpy_},
    {"memset", 1047, memset_},
    {"GetModuleHandleW", 1177, GetModuleHandleW_},
};

}  // namespace

CoreDll::CoreDll() : exports_(std::begin(kKernelExports), std::end(kKernelExports))
{
    for (const UserExport& e : kUserExports)
        exports_.push_back({e.name, e.ordinal, [this, call = e.call](Machine& m) { return call(m, user_); }});
}

}  // namespace armemu
