#include "fuzz/FuzzPort.h"

#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstring>
#include <memory>

bool FuzzSerialDevice::Arrive()
{
    if (pos_ >= size_)
        return false;
    const size_t n = std::min<size_t>(data_[pos_], size_ - pos_ - 1);
    arrived_.append(reinterpret_cast<const char*>(data_ + pos_ + 1), n);
    pos_ += 1 + n;
    return true;
}

int FuzzSerialDevice::StartRead(void* buffer, size_t count)
{
    while (arrived_.size() - taken_ < count && Arrive()) {
    }
    const size_t n = std::min(count, arrived_.size() - taken_);
    if (n)
        std::memcpy(buffer, arrived_.data() + taken_, n);
    taken_ += n;
    lastRead_ = n;
    readPending_ = true;
    return 0;
}

int FuzzSerialDevice::StartWrite(const void* buffer, size_t count)
{
    if (written_ && written_->size() < (1u << 20))
        written_->append(static_cast<const char*>(buffer), count);
    Arrive();
    lastWrite_ = count;
    writePending_ = true;
    return 0;
}

uint32_t FuzzHost::TickCount()
{
    // A loop that only reads the clock must still see it move.
    now += 1;
    FuzzCheck(now < 86400000ull, "a wait on the clock ends within a day");
    return uint32_t(now);
}

void FuzzHost::Sleep(unsigned ms)
{
    now += ms;
    FuzzCheck(now < 86400000ull, "a wait on the clock ends within a day");
}

void FuzzHost::ProcessMessages()
{
    now += 1;
    FuzzCheck(now < 86400000ull, "a wait for the user ends within a day");
}

TPromptResult FuzzPrompt::Ask(const QString&, const QString&, TPromptButtons buttons, TPromptIcon)
{
    ++asked;
    FuzzCheck(asked < 10000, "the user is not asked without end");
    if (buttons == TPromptButtons::Ok)
        return TPromptResult::Ok;
    if (retry && asked <= 3)
        return buttons == TPromptButtons::RetryCancel ? TPromptResult::Retry : TPromptResult::Ok;
    return TPromptResult::Cancel;
}

FuzzLine::FuzzLine(const uint8_t* data, size_t size, bool retry)
{
    prompt.retry = retry;
    oldHost_ = SetHost(&host);
    oldPrompt_ = SetPrompt(&prompt);
    port.SetDeviceFactory([this, data, size] { return std::make_unique<FuzzSerialDevice>(data, size, &written); });
    port.DeviceName("fuzz");
    port.Open();
}

FuzzLine::~FuzzLine()
{
    port.Close();
    SetHost(oldHost_);
    SetPrompt(oldPrompt_);
}
