#include "ohmra/OhmraStates.h"

#include <initializer_list>

namespace {
constexpr uint32_t Bits(std::initializer_list<TOhmraControl> cs)
{
    uint32_t b = 0;
    for (TOhmraControl c : cs)
        b |= uint32_t(c);
    return b;
}
constexpr uint32_t CommentBits(std::initializer_list<TOhmraCommentControl> cs)
{
    uint32_t b = 0;
    for (TOhmraCommentControl c : cs)
        b |= uint32_t(c);
    return b;
}
constexpr uint32_t CaliBits(std::initializer_list<TOhmraCaliControl> cs)
{
    uint32_t b = 0;
    for (TOhmraCaliControl c : cs)
        b |= uint32_t(c);
    return b;
}
} // namespace

uint32_t OhmraAllowed(TOhmraState state)
{
    using C = TOhmraControl;
    // Whatever talks to the meter or waits leaves Exit (and Break while a
    // measurement runs) and nothing that would start a second exchange.
    switch (state) {
    case TOhmraState::NotInitialised:
        return Bits({C::Init, C::Exit});
    case TOhmraState::Ready:
        return Bits({C::Init, C::Start, C::Break, C::ReadFile, C::Reset, C::Exit});
    case TOhmraState::ReadyToSave:
        return Bits({C::Init, C::Start, C::Break, C::Save, C::ReadFile, C::Reset, C::Exit});
    case TOhmraState::Measuring:
    case TOhmraState::TimedMeasuring:
        return Bits({C::Break, C::Exit});
    case TOhmraState::CommentEntry:
        return Bits({C::CommentEntry, C::Exit});
    case TOhmraState::RangeEntry:
        return Bits({C::RangeEntry, C::Exit});
    case TOhmraState::Initialising:
    case TOhmraState::InitFailed:
    case TOhmraState::Aborting:
    case TOhmraState::Resetting:
    case TOhmraState::Saving:
    case TOhmraState::ReadingFiles:
        return Bits({C::Exit});
    case TOhmraState::Browsing:
        return 0;
    }
    return 0;
}

bool OhmraBusy(TOhmraState state)
{
    switch (state) {
    case TOhmraState::NotInitialised:
    case TOhmraState::InitFailed:
    case TOhmraState::Ready:
    case TOhmraState::ReadyToSave:
    case TOhmraState::Browsing:
        return false;
    default:
        return true;
    }
}

const char* OhmraStateName(TOhmraState state)
{
    switch (state) {
    case TOhmraState::NotInitialised: return "not initialised";
    case TOhmraState::Initialising: return "initialising";
    case TOhmraState::InitFailed: return "initialisation failed";
    case TOhmraState::Ready: return "ready";
    case TOhmraState::ReadyToSave: return "ready to save";
    case TOhmraState::Measuring: return "measuring";
    case TOhmraState::TimedMeasuring: return "timed measurement";
    case TOhmraState::Aborting: return "aborting";
    case TOhmraState::Resetting: return "resetting";
    case TOhmraState::CommentEntry: return "waiting for a comment";
    case TOhmraState::Saving: return "saving";
    case TOhmraState::RangeEntry: return "waiting for the file range";
    case TOhmraState::ReadingFiles: return "reading files";
    case TOhmraState::Browsing: return "browsing files";
    }
    return "?";
}

uint32_t OhmraCommentAllowed(TOhmraCommentState state)
{
    using C = TOhmraCommentControl;
    switch (state) {
    case TOhmraCommentState::Browsing:
        return CommentBits({C::Navigate, C::Comment, C::SaveMode, C::Save, C::Exit});
    case TOhmraCommentState::Hidden:
    case TOhmraCommentState::Saving:
    case TOhmraCommentState::Leaving:
        return 0;
    }
    return 0;
}

uint32_t OhmraCaliAllowed(const TOhmraCaliState& state)
{
    using C = TOhmraCaliControl;
    switch (state.activity) {
    case TOhmraCaliActivity::Idle: {
        uint32_t b = CaliBits({C::ReadPara, C::ReadDefault, C::WritePara, C::ReadMeas, C::Reset, C::Print, C::Clear,
                               C::Exit});
        if (state.progress != TOhmraCaliProgress::Fresh)
            b |= uint32_t(C::ReadInfo);
        if (state.progress == TOhmraCaliProgress::InfoRead || state.progress == TOhmraCaliProgress::DateWritten)
            b |= uint32_t(C::WriteDate);
        if (state.progress == TOhmraCaliProgress::DateWritten)
            b |= uint32_t(C::Save);
        return b;
    }
    case TOhmraCaliActivity::DateEntry:
        // Typing the date talks to nobody: the memo and the defaults stay usable.
        return CaliBits({C::DateEntry, C::ReadDefault, C::Print, C::Clear});
    case TOhmraCaliActivity::Waiting:
        return CaliBits({C::Clear});
    case TOhmraCaliActivity::Exchange:
    case TOhmraCaliActivity::Saving:
    case TOhmraCaliActivity::Printing:
        return 0;
    }
    return 0;
}
