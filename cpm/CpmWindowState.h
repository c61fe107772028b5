#pragma once
// The states of the charge plate monitor's three windows and, per state,
// which controls a user may use. The windows hold one state value each and
// apply it through these tables; every handler asks the same table whether
// its action is allowed before it touches the line. Nothing here knows
// about widgets, so the tables are tested without a screen.

// The decay window.
enum class TCpmWindowState {
    Idle,         // nothing on the line; every main control usable
    Measuring,    // a decay run reads its frames
    Breaking,     // BEL sent; the run waits for the monitor's abort frame
    Exchanging,   // a short command (Info, Read setup, BEL) holds the line
    ReadingFiles, // the read-out of the stored files with its dialogs
    Commenting,   // "Save results" waits for the comment
};

// What the decay window's controls show in a state.
struct TCpmControls {
    bool Start = false;
    bool Chart = false;
    bool Break = false;
    bool ReadFile = false;
    bool Info = false;
    bool Setup = false;        // the whole setup group, "Read setup" included
    bool ClearDisplay = false;
    bool Exit = false;
    bool SaveResult = false;   // enabled (it is shown unless the comment entry is)
    bool CommentEntry = false; // "Comment", its field, "OK save" and "Cancel" shown
    bool operator==(const TCpmControls&) const = default;
};

// `resultToSave`: the last complete run has not been saved yet.
TCpmControls CpmControlsFor(TCpmWindowState state, bool resultToSave);

enum class TCpmAction { Start, Chart, Break, ReadFile, Info, ReadSetup, ClearDisplay, Exit, SaveResult, OkSave, CancelSave };

// True when a click on the action's control may act in this state; a click
// that arrives otherwise (queued before the control was disabled, or through
// nested message processing) is refused.
bool CpmActionAllowed(TCpmWindowState state, TCpmAction action, bool resultToSave);

const char* CpmStateName(TCpmWindowState state);

// The read-out's dialog.
enum class TCpmFilesDialogState { Hidden, AskingRange, AskingComment };

// The decay chart window.
enum class TCpmChartState { Hidden, Shown };
