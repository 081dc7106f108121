// What the settings program knows about the platform: one row per setting,
// where it lives, and what each button writes.
#pragma once

#include <stddef.h>

#include <windows.h>

// A root key, kept as a tag so that the catalogue stays constant data.
enum class Hive { CurrentUser, LocalMachine };

HKEY HiveKey(Hive hive);

template <typename T>
struct Span {
    const T* data;
    size_t size;

    constexpr Span() : data(nullptr), size(0) {}
    template <size_t N>
    constexpr Span(const T (&items)[N]) : data(items), size(N) {}

    constexpr const T* begin() const { return data; }
    constexpr const T* end() const { return data + size; }
    constexpr const T& operator[](size_t i) const { return data[i]; }
};

struct RegistryLocation {
    Hive hive;
    LPCWSTR subkey;
    LPCWSTR valueName;
};

// One write: always a REG_DWORD of 4 bytes.
struct RegistryDwordSetting {
    RegistryLocation where;
    DWORD value;
};

struct ButtonAction {
    WORD controlId;
    LPCWSTR caption;
    Span<RegistryDwordSetting> writes;
};

struct SettingRow {
    WORD labelId;
    LPCWSTR labelCaption;
    Span<RegistryLocation> probes;   // tried in order; none means always shown
    Span<ButtonAction> buttons;      // in dialog order
};

// The rows in the dialog's top-to-bottom order.
extern const Span<SettingRow> kCatalogue;

// The row with this label id, or null.
const SettingRow* FindRow(WORD labelId);

// The button with this control id, or null.
const ButtonAction* FindButton(WORD controlId);

bool IsRowAvailable(const SettingRow& row);

// Runs the writes of one button; an id outside the catalogue does nothing.
void ApplyButton(WORD controlId);
