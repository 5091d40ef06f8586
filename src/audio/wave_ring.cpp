#include "audio/wave_ring.h"

#include "platform/ui.h"

#include <algorithm>
#include <new>

namespace sonavik {

std::uint32_t ringBufferBytes(std::int32_t packets, std::size_t pageSize)
{
    const std::size_t page = std::max<std::size_t>(pageSize, 1);
    const std::size_t maxPackets = std::max<std::size_t>(kMaxBufferBytes / page, 1);
    const std::size_t n = std::clamp<std::size_t>(packets < 1 ? 1 : static_cast<std::size_t>(packets), 1, maxPackets);
    return static_cast<std::uint32_t>(n * page);
}

bool WaveRing::allocate(Ui& ui, std::uint32_t capacity)
{
    for (const auto& header : headers_) {
        if (header) {
            ui.beep(BeepKind::Error);
            showError(ui, "Prog Miss!");
            return false;
        }
    }
    for (std::size_t i = 0; i < headers_.size(); ++i) {
        headers_[i].reset(new (std::nothrow) WaveBuffer{});
        data_[i].reset(new (std::nothrow) unsigned char[capacity]());
        if (!headers_[i] || !data_[i]) {
            release();
            return false;
        }
        headers_[i]->data = data_[i].get();
        headers_[i]->bufferLength = capacity;
        headers_[i]->user = static_cast<int>(i);
    }
    capacity_ = capacity;
    return true;
}

void WaveRing::release()
{
    for (std::size_t i = 0; i < headers_.size(); ++i) {
        headers_[i].reset();
        data_[i].reset();
    }
    capacity_ = 0;
}

bool WaveRing::owns(const WaveBuffer* buffer) const
{
    return buffer && std::any_of(headers_.begin(), headers_.end(), [&](const auto& h) { return h.get() == buffer; });
}

} // namespace sonavik
