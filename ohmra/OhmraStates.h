#pragma once
// What each tera-ohmmeter window is doing, and which of its controls a user
// may use while it does it. The windows hold one such state and apply it to
// their controls in one place; every handler first asks whether its action
// is allowed now. Kept apart from the widgets so that the tables can be
// checked without a screen.
#include <cstdint>

// --- measurement window ----------------------------------------------------
enum class TOhmraState {
    NotInitialised,   // after opening: Init and Exit only
    Initialising,     // Init talks to the meter
    InitFailed,       // Init got no answer: only Exit, until the window is opened again
    Ready,            // initialised, nothing to save
    ReadyToSave,      // a measurement was shown as complete and can be saved once
    Measuring,        // Start: configuration and readings
    TimedMeasuring,   // Start: the meter's timer counts down
    Aborting,         // Break was pressed; Start winds down (and resets the meter)
    Resetting,        // Reset, or the reset that ends a timed measurement
    CommentEntry,     // Save waits for the comment
    Saving,           // Save writes the file
    RangeEntry,       // Read File waits for the range of file numbers
    ReadingFiles,     // Read File reads the stored files
    Browsing,         // the comment window is shown instead of this one
};

enum class TOhmraControl : uint32_t {
    Init = 1u << 0,
    Start = 1u << 1,
    Break = 1u << 2,
    Save = 1u << 3,
    ReadFile = 1u << 4,
    Reset = 1u << 5,
    Exit = 1u << 6,
    CommentEntry = 1u << 7,   // the comment field with OK and Cancel
    RangeEntry = 1u << 8,     // the two file numbers with OK
};

// The controls a state allows, as a set of TOhmraControl bits.
uint32_t OhmraAllowed(TOhmraState state);
inline bool OhmraAllows(TOhmraState state, TOhmraControl c) { return (OhmraAllowed(state) & uint32_t(c)) != 0; }
// True while the window runs an exchange or waits inside a handler.
bool OhmraBusy(TOhmraState state);
const char* OhmraStateName(TOhmraState state);

// --- comment window ------------------------------------------------------------
enum class TOhmraCommentState {
    Hidden,     // not shown
    Browsing,   // records shown, comments typed
    Saving,     // the save dialog or the file write
    Leaving,    // the question before leaving unsaved comments
};

enum class TOhmraCommentControl : uint32_t {
    Navigate = 1u << 0,   // <<, <, >, >>
    Comment = 1u << 1,    // the comment field and the caption that clears comments
    SaveMode = 1u << 2,
    Save = 1u << 3,
    Exit = 1u << 4,
};

uint32_t OhmraCommentAllowed(TOhmraCommentState state);
inline bool OhmraCommentAllows(TOhmraCommentState state, TOhmraCommentControl c)
{
    return (OhmraCommentAllowed(state) & uint32_t(c)) != 0;
}

// --- calibration window --------------------------------------------------------
// What the window does now ...
enum class TOhmraCaliActivity {
    Idle,
    Exchange,    // an operation talks to the meter
    Waiting,     // the 5 s wait after a write or a reset
    DateEntry,   // serial number and date are typed
    Saving,      // the save dialog or the file write
    Printing,
};
// ... and how far the chain of its operations has come in this opening:
// Read info unlocks after Write parameters, Write Cali date after Read
// info, Save after Write Cali date (and locks again after a save).
enum class TOhmraCaliProgress { Fresh, ParametersWritten, InfoRead, DateWritten };

struct TOhmraCaliState {
    TOhmraCaliActivity activity = TOhmraCaliActivity::Idle;
    TOhmraCaliProgress progress = TOhmraCaliProgress::Fresh;
    bool operator==(const TOhmraCaliState&) const = default;
};

enum class TOhmraCaliControl : uint32_t {
    ReadPara = 1u << 0,
    ReadDefault = 1u << 1,
    WritePara = 1u << 2,
    ReadInfo = 1u << 3,
    WriteDate = 1u << 4,
    ReadMeas = 1u << 5,
    Reset = 1u << 6,
    Save = 1u << 7,
    Print = 1u << 8,
    Clear = 1u << 9,
    Exit = 1u << 10,
    DateEntry = 1u << 11,   // the group with number, date, O K and Cancel
};

uint32_t OhmraCaliAllowed(const TOhmraCaliState& state);
inline bool OhmraCaliAllows(const TOhmraCaliState& state, TOhmraCaliControl c)
{
    return (OhmraCaliAllowed(state) & uint32_t(c)) != 0;
}
