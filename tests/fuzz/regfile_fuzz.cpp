// libFuzzer target for the host registry's .reg reader: no input may crash it,
// hang it or make it grow without bound; every file it accepts is written
// back byte for byte as it was, and reads back the same after it is written,
// before and after a change.
#include <stdint.h>
#include <stdlib.h>
#include <stdio.h>

#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "registry/regfile.h"

namespace {

using namespace host::reg;

// The keys and values of a document, in file order.
using Model = std::vector<std::tuple<std::string, std::string, uint32_t, std::vector<uint8_t>>>;

Model ModelOf(const Document& doc)
{
    Model model;
    Each(doc, [&](std::string_view key, const Value* value) {
        if (value)
            model.emplace_back(key, value->name, value->type, value->data);
        else
            model.emplace_back(key, "[key]", 0, std::vector<uint8_t>());
    });
    return model;
}

void Fail(const char* what, const std::string& written)
{
    fprintf(stderr, "%s; the file as written:\n%s\n", what, written.c_str());
    abort();
}

// Writes `doc`, reads it back, and checks that nothing changed and that a
// second write gives the same bytes.
void RoundTrip(const Document& doc)
{
    const std::string written = Write(doc);
    Document again;
    ParseError error;
    if (!Parse(written, again, error))
        Fail(("what was written does not read back: line " + std::to_string(error.line) + ": " +
              error.message).c_str(),
             written);
    if (ModelOf(again) != ModelOf(doc))
        Fail("what was written reads back different keys or values", written);
    if (Write(again) != written)
        Fail("writing what was read back gives different bytes", written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Document doc;
    ParseError error;
    if (!Parse(bytes, doc, error)) {
        if (error.message.empty())
            abort();  // every refusal says why
        return 0;
    }
    if (Write(doc) != bytes)
        Fail("a file read and written unchanged is not the same file", Write(doc));
    RoundTrip(doc);

    // The changes the registry makes: values set in place or appended, of
    // each kind, and a new key.
    const std::vector<std::string> keys = KeysOf(doc);
    const std::string key = keys.empty() ? "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE" : keys[size % keys.size()];
    std::string name = "Animate";
    if (size % 3 == 0) {
        // The key's first value, when it has one.
        for (const auto& [valueKey, valueName, type, bytes] : ModelOf(doc))
            if (valueName != "[key]" && valueKey == key) {
                name = valueName;
                break;
            }
    }
    SetValue(doc, key, {name, 4, {1, 0, 0, 0}});
    SetValue(doc, key, {"text \"quoted\" \\", 1, {'a', 0, 0, 0}});
    SetValue(doc, key, {"", 3, std::vector<uint8_t>(data, data + (size < 64 ? size : 64))});
    if (!KeyExists(doc, "HKEY_CURRENT_USER\\Software\\Zelkoran"))
        AddKey(doc, "HKEY_CURRENT_USER\\Software\\Zelkoran");
    SetValue(doc, "HKEY_CURRENT_USER\\SOFTWARE\\ZELKORAN", {"align", 4, {0, 0, 0, 0}});
    RoundTrip(doc);
    return 0;
}
