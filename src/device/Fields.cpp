#include "device/Fields.h"

#include "device/MessageSink.h"

namespace kelvane {

std::optional<std::uint64_t> ReadLe(std::span<const std::uint8_t> window, std::size_t pos, std::size_t size) {
    if (size > 8 || pos > window.size() || size > window.size() - pos) // no pos+size overflow
        return std::nullopt;
    std::uint64_t v = 0;
    for (std::size_t i = size; i-- > 0;)
        v = (v << 8) | window[pos + i];
    return v;
}

std::uint64_t ReadField(std::span<const std::uint8_t> window, std::size_t pos, std::size_t size,
                        IMessageSink& sink) {
    if (size == 0)
        return 0;
    if (auto v = ReadLe(window, pos, size))
        return *v;
    sink.ShowMessage("参数错误");
    return 0;
}

std::uint64_t ReadField(std::span<const std::uint8_t> window, std::size_t base, const FieldDesc& field,
                        IMessageSink& sink) {
    return ReadField(window, base + static_cast<std::size_t>(field.offset),
                     static_cast<std::size_t>(field.size), sink);
}

} // namespace kelvane
