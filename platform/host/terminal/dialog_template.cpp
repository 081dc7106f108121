// Strings in a template are UTF-16; names and ordinals as in any resource.
#include "terminal/dialog_template.h"

#include <stdint.h>

#include <string>
#include <vector>

#include "le_bytes.h"
#include "process/module.h"
#include "terminal/layout.h"
#include "text.h"

namespace host {
namespace {

// A template lies in the program's resources or in a span lent for the call,
// and is read to no further than their end; one in neither is read as far as
// it says it goes.
class TemplateReader {
public:
    explicit TemplateReader(const void* start) : bytes_(Bytes(start)) {}

    bool ok() const { return bytes_.ok(); }
    WORD Word() { return bytes_.U16(); }
    DWORD Dword() { return bytes_.U32(); }
    short Short() { return short(Word()); }
    void AlignDword() { bytes_.Seek((bytes_.at() + 3) & ~size_t(3)); }
    void Skip(size_t bytes) { bytes_.Skip(bytes); }
    size_t Offset() const { return bytes_.at(); }

    // A string, or 0xFFFF and an ordinal.
    NameOrOrdinal Name()
    {
        NameOrOrdinal name;
        if (bytes_.U16At(bytes_.at()) == 0xFFFF) {
            Skip(2);
            name.ordinal = Word();
            return name;
        }
        name.text = String();
        return name;
    }
    std::wstring String() { return text::WideFromUtf16(bytes_.Utf16()); }

private:
    static LeBytes Bytes(const void* start)
    {
        const std::string_view known = KnownBytesFrom(start);
        return known.empty() ? LeBytes(start, PTRDIFF_MAX) : LeBytes(known);
    }

    LeBytes bytes_;
};

bool IsButton(const NameOrOrdinal& name)
{
    return name.ordinal == 0x0080 || (!name.ordinal && text::SameName(name.text, L"BUTTON"));
}

bool IsStatic(const NameOrOrdinal& name)
{
    return name.ordinal == 0x0082 || (!name.ordinal && text::SameName(name.text, L"STATIC"));
}

}  // namespace

bool ParseDialogTemplate(LPCDLGTEMPLATEW dialogTemplate, DialogTemplate& parsed)
{
    TemplateReader reader(dialogTemplate);
    if (reader.Word() == 1 && reader.Word() == 0xFFFF) {
        // The extended form: no program here uses it.
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }

    reader = TemplateReader(dialogTemplate);
    DLGTEMPLATE& fixed = parsed.fixed;
    fixed.style = reader.Dword();
    fixed.dwExtendedStyle = reader.Dword();
    fixed.cdit = reader.Word();
    fixed.x = reader.Short();
    fixed.y = reader.Short();
    fixed.cx = reader.Short();
    fixed.cy = reader.Short();
    parsed.menu = reader.Name();
    parsed.className = reader.Name();
    parsed.caption = reader.String();
    if (fixed.style & DS_SETFONT) {
        parsed.points = reader.Word();
        parsed.face = reader.String();
    }
    parsed.items.clear();
    for (WORD i = 0; i < fixed.cdit; ++i) {
        reader.AlignDword();
        DialogItem item;
        item.fixed.style = reader.Dword();
        item.fixed.dwExtendedStyle = reader.Dword();
        item.fixed.x = reader.Short();
        item.fixed.y = reader.Short();
        item.fixed.cx = reader.Short();
        item.fixed.cy = reader.Short();
        item.fixed.id = reader.Word();
        item.className = reader.Name();
        if (!reader.ok())
            break;
        if (!IsButton(item.className) && !IsStatic(item.className)) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return false;
        }
        item.text = reader.Name();
        item.extra = reader.Word();
        reader.Skip(item.extra);
        parsed.items.push_back(item);
    }
    if (!reader.ok()) {
        // It runs past the end of what holds it.
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    parsed.size = reader.Offset();
    return true;
}

std::unique_ptr<Window> ReadDialogTemplate(LPCDLGTEMPLATEW dialogTemplate)
{
    DialogTemplate parsed;
    if (!ParseDialogTemplate(dialogTemplate, parsed))
        return nullptr;

    auto dialog = std::make_unique<Window>();
    dialog->kind = Window::kDialog;
    dialog->style = parsed.fixed.style;
    dialog->exStyle = parsed.fixed.dwExtendedStyle;
    dialog->text = parsed.caption;  // the terminal has no menu, and the default class

    std::vector<DialogUnits> places;
    for (const DialogItem& item : parsed.items) {
        auto control = std::make_unique<Window>();
        control->dialog = dialog.get();
        control->style = item.fixed.style;
        control->exStyle = item.fixed.dwExtendedStyle;
        control->id = item.fixed.id;
        control->visible = (control->style & WS_VISIBLE) != 0;
        control->kind = IsButton(item.className) ? Window::kButton : Window::kStatic;
        control->text = item.text.text;
        places.push_back({item.fixed.x, item.fixed.y, item.fixed.cx, item.fixed.cy});
        dialog->controls.push_back(std::move(control));
    }
    LayOut(*dialog, parsed.fixed, places);
    return dialog;
}

}  // namespace host
