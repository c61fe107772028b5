#pragma once
#include <QString>

// The tester's window is always in exactly one of these states; what each
// control offers follows from it alone, and every handler asks it first
// whether its action may run. Kept apart from the window so the rules can
// be checked without a screen.
enum class TGripoState {
    Idle,          // opened, or the instruction box was cancelled: nothing to save
    Transferring,  // the exchange with the tester (and its questions) is running
    Shown,         // a transfer completed: its counts are shown and may be saved
    Failed,        // the last transfer failed: no counts shown, the window says why
    Saving,        // the save dialog is open or the line is being written
    Printing,      // the print dialog is open or the print-out is being drawn
};

enum class TGripoAction { Start, Save, Print, Exit, DeleteBox, EditComment };

// What each control of the window offers in a state.
struct TGripoControls {
    bool Start = false;          // "Start data Transfer"
    bool Exit = false;           // "E&xit"
    bool DeleteBox = false;      // "Delete statistic all data after transfer? "
    bool Save = false;           // "Save data"
    bool Print = false;          // "Print data"
    bool CommentLabel = false;   // the label "Comment" enabled
    bool CommentShown = false;   // EditComment visible
    bool CommentEnabled = false; // EditComment takes input
    bool Results = false;        // the nine result fields stand for a completed transfer (not greyed)

    bool operator==(const TGripoControls&) const = default;
};

TGripoControls GripoControls(TGripoState state);

// A transfer, a save or a print is in progress: no other may begin, and a
// request to leave the window waits until it has ended.
bool GripoBusy(TGripoState state);

// Whether the action may run now. Exit is refused only while busy (it is
// then carried out as soon as the running action ends).
bool GripoAllows(TGripoState state, TGripoAction action);

// For messages of tests and traces.
QString GripoStateName(TGripoState state);
