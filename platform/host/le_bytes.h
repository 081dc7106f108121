// Little-endian integers, runs of bytes and strings read from a span that is
// never left: the first read that would leave it fails, and every later one
// fails too, reading 0 or nothing. Every binary format read here (the
// program's resources, dialog templates, cabinets, ARM executables) comes
// through it, so that no file can make a reader step past its end.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>

namespace host {

class LeBytes {
public:
    explicit LeBytes(std::string_view all) : all_(all) {}
    LeBytes(const void* start, size_t size) : all_(static_cast<const char*>(start), size) {}

    size_t size() const { return all_.size(); }
    size_t at() const { return at_; }
    size_t left() const { return all_.size() - at_; }
    bool ok() const { return ok_; }

    bool Seek(size_t at)
    {
        ok_ = ok_ && at <= all_.size();
        at_ = ok_ ? at : at_;
        return ok_;
    }
    bool Skip(size_t count) { return Has(at_, count) && Seek(at_ + count); }

    // `width` bytes (at most 4) at `offset`, the position left alone.
    uint32_t ReadAt(size_t offset, size_t width)
    {
        uint32_t value = 0;
        for (size_t i = 0; i < width && Has(offset, width); ++i)
            value |= uint32_t(uint8_t(all_[offset + i])) << (8 * i);
        return value;
    }
    uint16_t U16At(size_t offset) { return uint16_t(ReadAt(offset, 2)); }
    uint32_t U32At(size_t offset) { return ReadAt(offset, 4); }
    std::string_view TakeAt(size_t offset, size_t count)
    {
        return Has(offset, count) ? all_.substr(offset, count) : std::string_view();
    }

    // `width` bytes (at most 4) at the position, which moves past them.
    uint32_t Read(size_t width) { return Next(width); }
    uint8_t U8() { return uint8_t(Next(1)); }
    uint16_t U16() { return uint16_t(Next(2)); }
    uint32_t U32() { return Next(4); }
    std::string_view Take(size_t count)
    {
        const std::string_view taken = TakeAt(at_, count);
        at_ += ok_ ? count : 0;
        return taken;
    }

    // Bytes up to a NUL, which is passed over and not returned.
    std::string_view Text()
    {
        const size_t end = ok_ ? all_.find('\0', at_) : std::string_view::npos;
        ok_ = end != std::string_view::npos;
        const std::string_view text = ok_ ? Take(end - at_) : std::string_view();
        Skip(1);
        return text;
    }
    // UTF-16 units up to a 0 unit, which is passed over and not returned.
    std::u16string Utf16()
    {
        std::u16string units;
        for (uint16_t unit = U16(); ok_ && unit != 0; unit = U16())
            units += char16_t(unit);
        return units;
    }

private:
    bool Has(size_t offset, size_t count)
    {
        ok_ = ok_ && offset <= all_.size() && count <= all_.size() - offset;
        return ok_;
    }
    uint32_t Next(size_t width)
    {
        const uint32_t value = ReadAt(at_, width);
        at_ += ok_ ? width : 0;
        return value;
    }

    std::string_view all_;
    size_t at_ = 0;
    bool ok_ = true;
};

}  // namespace host
