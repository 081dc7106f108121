// Strings in a template are UTF-16; names and ordinals as in any resource.
#include "dialog_template.h"

#include <string>
#include <vector>

#include "layout.h"
#include "text.h"

namespace host {
namespace {

class TemplateReader {
public:
    explicit TemplateReader(const void* start)
        : base_(static_cast<const BYTE*>(start)), at_(base_) {}

    WORD Word()
    {
        WORD value = WORD(at_[0] | at_[1] << 8);
        at_ += 2;
        return value;
    }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | DWORD(Word()) << 16;
    }
    short Short() { return short(Word()); }
    void AlignDword() { at_ = base_ + ((at_ - base_ + 3) & ~size_t(3)); }
    void Skip(size_t bytes) { at_ += bytes; }

    // A string, or 0xFFFF and an ordinal.
    void NameOrOrdinal(WORD& ordinal, std::wstring& text)
    {
        ordinal = 0;
        text.clear();
        if (at_[0] == 0xFF && at_[1] == 0xFF) {
            Skip(2);
            ordinal = Word();
            return;
        }
        text = String();
    }
    std::wstring String()
    {
        std::u16string units;
        for (WORD unit = Word(); unit != 0; unit = Word())
            units += char16_t(unit);
        return text::WideFromUtf16(units);
    }

private:
    const BYTE* base_;
    const BYTE* at_;
};

}  // namespace

std::unique_ptr<Window> ReadDialogTemplate(LPCDLGTEMPLATEW dialogTemplate)
{
    TemplateReader in(dialogTemplate);
    if (in.Word() == 1 && in.Word() == 0xFFFF) {
        // The extended form: no program here uses it.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }

    TemplateReader reader(dialogTemplate);
    DLGTEMPLATE fixed;
    fixed.style = reader.Dword();
    fixed.dwExtendedStyle = reader.Dword();
    fixed.cdit = reader.Word();
    fixed.x = reader.Short();
    fixed.y = reader.Short();
    fixed.cx = reader.Short();
    fixed.cy = reader.Short();

    auto dialog = std::make_unique<Window>();
    dialog->kind = Window::kDialog;
    dialog->style = fixed.style;
    dialog->exStyle = fixed.dwExtendedStyle;

    WORD ordinal;
    std::wstring name;
    reader.NameOrOrdinal(ordinal, name);  // menu: the terminal has none
    reader.NameOrOrdinal(ordinal, name);  // class: the default one
    dialog->text = reader.String();
    if (fixed.style & DS_SETFONT) {
        reader.Word();
        reader.String();
    }

    std::vector<DialogUnits> places;
    for (WORD i = 0; i < fixed.cdit; ++i) {
        reader.AlignDword();
        auto control = std::make_unique<Window>();
        control->dialog = dialog.get();
        control->style = reader.Dword();
        control->exStyle = reader.Dword();
        DialogUnits place;
        place.x = reader.Short();
        place.y = reader.Short();
        place.cx = reader.Short();
        place.cy = reader.Short();
        control->id = reader.Word();
        control->visible = (control->style & WS_VISIBLE) != 0;

        reader.NameOrOrdinal(ordinal, name);
        if (ordinal == 0x0080 || (!ordinal && text::SameName(name, L"BUTTON"))) {
            control->kind = Window::kButton;
        } else if (ordinal == 0x0082 || (!ordinal && text::SameName(name, L"STATIC"))) {
            control->kind = Window::kStatic;
        } else {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        reader.NameOrOrdinal(ordinal, control->text);
        reader.Skip(reader.Word());

        places.push_back(place);
        dialog->controls.push_back(std::move(control));
    }
    LayOut(*dialog, fixed, places);
    return dialog;
}

}  // namespace host
